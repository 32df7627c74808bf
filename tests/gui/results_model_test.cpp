// The results model over engine rows: what the view is told about cells, headers and rows.

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include "app/percent_gauge.h"
#include "app/results_model.h"
#include "scan/scan_rules.h"
#include "survey/figure_text.h"
#include "scan/folder_list.h"
#include "survey/saving_table.h"

namespace orbelan {
namespace {

class ResultsModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rules.IgnorePaths.Clear();
    for (auto [path, size, zips] : {std::tuple{"/b/Zeta/", 50'000, 0}, {"/a/Alpha/", 20'000, 10'000},
                                    {"/c/tiny/", 10, 0}}) {
      folders.AddFolder(path, rules);
      folders.Tail()->SzFiles = size;
      folders.Tail()->SzZips = zips;
      folders.Tail()->Recent = kToday - 3;
    }
  }
  static constexpr double kToday = 45000;
  ScanRules rules;
  FolderList folders;
  ResultsModel model;
};

TEST_F(ResultsModelTest, CellsHeadersAndAlignmentFollowTheColumns) {
  model.SetRows(FillRows(folders, 0, 1, kToday), kToday);
  ASSERT_EQ(model.rowCount(), 2);
  EXPECT_EQ(model.columnCount(), 7);
  EXPECT_EQ(model.data(model.index(0, 0)).toString(), "/a/Alpha/");  // in its real case
  EXPECT_EQ(model.data(model.index(0, 2)).toString(), QString::fromStdString(SizeText(10'000)));
  EXPECT_EQ(model.data(model.index(0, 3)).toString(), "50%");
  EXPECT_EQ(model.data(model.index(0, 4)).toString(), "3 days ago");
  EXPECT_EQ(model.data(model.index(1, 6)).toString(), "");
  EXPECT_EQ(model.RowAt(1)->Rec, &folders[0]);  // the row refers to the record itself
  EXPECT_EQ(model.RowAt(2), nullptr);
  EXPECT_EQ(model.RowAt(-1), nullptr);
  EXPECT_FALSE(model.data(model.index(5, 0)).isValid());

  const QStringList headers = {"Path", "Unzipped", "Zipped", "%", "Most Recent", "Priority", ""};
  const bool right[] = {false, true, true, true, true, false, true};  // Saving lines up as Unzipped
  for (int c = 0; c < 7; ++c) {
    EXPECT_EQ(model.headerData(c, Qt::Horizontal).toString(), headers[c]);
    const int align = model.data(model.index(0, c), Qt::TextAlignmentRole).toInt();
    EXPECT_EQ((align & Qt::AlignRight) != 0, right[c]) << c;
    EXPECT_EQ((align & Qt::AlignLeft) != 0, !right[c]) << c;
  }
  const Qt::ItemFlags flags = model.flags(model.index(0, 0));
  EXPECT_TRUE(flags & Qt::ItemIsSelectable);
  EXPECT_FALSE(flags & Qt::ItemIsEditable);
}

TEST_F(ResultsModelTest, NewRowsReplaceTheOldInOneReset) {
  int resets = 0;
  QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
  model.SetRows(FillRows(folders, 0, -2, kToday), kToday);
  EXPECT_EQ(model.data(model.index(0, 0)).toString(), "/b/Zeta/");
  model.SetRows(FillRows(folders, 30, 1, kToday), kToday);  // above 30 KB: only Zeta
  EXPECT_EQ(model.rowCount(), 1);
  model.Clear();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(resets, 3);
}

TEST_F(ResultsModelTest, SavingColumnShowsTheTableWhileItHasOne) {
  model.SetRows(FillRows(folders, 0, 1, kToday), kToday);  // Alpha, Zeta
  SavingTable savings;
  SavingEstimate estimate;
  estimate.Known = true;
  estimate.Disk = estimate.DiskLow = estimate.DiskHigh = 12'345;
  savings.Set(folders[0], estimate);  // Zeta

  EXPECT_EQ(model.headerData(6, Qt::Horizontal).toString(), "");
  EXPECT_EQ(model.data(model.index(1, 6)).toString(), "");  // no table: the blank column
  QList<std::pair<QModelIndex, QModelIndex>> changed;
  QObject::connect(&model, &QAbstractItemModel::dataChanged,
                   [&](const QModelIndex& from, const QModelIndex& to) { changed.append({from, to}); });
  int headerChanges = 0;
  QObject::connect(&model, &QAbstractItemModel::headerDataChanged, [&] { ++headerChanges; });

  model.SetSavings(&savings);
  EXPECT_EQ(headerChanges, 1);
  EXPECT_EQ(model.headerData(6, Qt::Horizontal).toString(), "Saving");
  EXPECT_EQ(model.data(model.index(1, 6)).toString(), QString::fromStdString(SizeText(12'345)));
  EXPECT_EQ(model.data(model.index(0, 6)).toString(), "");  // not estimated yet
  const int align = model.data(model.index(1, 6), Qt::TextAlignmentRole).toInt();
  EXPECT_TRUE(align & Qt::AlignRight);  // lined up as Unzipped is

  // New estimates repaint the one column, all rows at once.
  changed.clear();
  savings.Set(folders[1], estimate);
  model.SavingsChanged();
  ASSERT_EQ(changed.size(), 1);
  EXPECT_EQ(changed[0].first, model.index(0, 6));
  EXPECT_EQ(changed[0].second, model.index(1, 6));
  EXPECT_EQ(model.data(model.index(0, 6)).toString(), QString::fromStdString(SizeText(12'345)));

  model.SetSavings(nullptr);
  EXPECT_EQ(model.headerData(6, Qt::Horizontal).toString(), "");
  EXPECT_EQ(model.data(model.index(0, 6)).toString(), "");
  model.Clear();
  changed.clear();
  model.SavingsChanged();  // no rows: nothing to repaint
  EXPECT_TRUE(changed.isEmpty());
}

TEST(PercentGaugeTest, HoldsItsRangeAndPaintsTheShareInNavy) {
  PercentGauge gauge;
  gauge.resize(100, 25);
  gauge.setValue(150);
  EXPECT_EQ(gauge.value(), 100);
  gauge.setValue(-3);
  EXPECT_EQ(gauge.value(), 0);
  gauge.setValue(50);
  EXPECT_EQ(gauge.text(), "50%");

  QImage image = gauge.grab().toImage();
  const QColor navy(0, 0, 128);
  EXPECT_EQ(image.pixelColor(10, 3), navy);   // inside the filled half, away from the text
  EXPECT_NE(image.pixelColor(90, 3), navy);   // the empty half
}

}  // namespace
}  // namespace orbelan
