// The folder tree: a model over the subtree totals that Qt's own model tester accepts, and
// that opens, orders, filters and keeps its open folders as the user expects.

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QImage>
#include <QPersistentModelIndex>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <cstdlib>
#include <vector>
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/folder_tree_model.h"
#include "app/folder_tree_view.h"
#include "scan/scan_rules.h"
#include "survey/figure_text.h"
#include "scan/folder_list.h"
#include "estimate/saving_estimate.h"
#include "survey/subtree_totals.h"

namespace orbelan {
namespace {

constexpr double kToday = 45'000;

// /t/ with three subfolders of different sizes, one of them with two of its own.
class FolderTreeModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Add("/t/", 0);
    Add("/t/Small/", 1000);
    Add("/t/big/", 50'000);
    Add("/t/big/inner/", 20'000);
    Add("/t/big/other/", 5000);
    Add("/t/middle/", 30'000);
    totals.Build(folders);
  }
  void Add(const char* path, std::int64_t bytes) {
    folders.AddFolder(path, settings);
    folders.Tail()->SzFiles = bytes;
    folders.Tail()->NFiles = bytes > 0 ? 1 : 0;
    folders.Tail()->Recent = kToday - 2;
  }
  QStringList Names(const QModelIndex& parent) const {
    QStringList names;
    for (int row = 0; row < model.rowCount(parent); ++row) names << model.index(row, 0, parent).data().toString();
    return names;
  }

  ScanRules settings;
  FolderList folders;
  SubtreeTotals totals;
  FolderTreeModel model;
};

TEST_F(FolderTreeModelTest, PassesQtsModelTesterThroughOpeningSortingFilteringAndEstimates) {
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model.SetTotals(&totals, kToday);
  model.sort(0, Qt::AscendingOrder);
  model.sort(3, Qt::DescendingOrder);
  model.SetFilter([](std::int64_t i) { return i == 3; });
  model.SetFilter(nullptr);
  std::map<const FolderRec*, SavingEstimate> estimates;
  estimates[&folders[2]].Known = true;
  estimates[&folders[2]].Disk = estimates[&folders[2]].DiskLow = estimates[&folders[2]].DiskHigh = 100;
  totals.SumSavings([&](const FolderRec& rec) -> const SavingEstimate* {
    const auto found = estimates.find(&rec);
    return found == estimates.end() ? nullptr : &found->second;
  });
  model.SavingsChanged();
  model.sort(FolderTreeModel::kSavingColumn, Qt::DescendingOrder);
  model.Clear();
}

TEST_F(FolderTreeModelTest, OpensOnTheStartWithSubtreeFiguresAndChildrenLargestFirst) {
  model.SetTotals(&totals, kToday);
  ASSERT_EQ(model.rowCount(), 1);
  const QModelIndex start = model.index(0, 0);
  EXPECT_EQ(start.data().toString(), "/t/");
  EXPECT_EQ(model.index(0, 1).data().toString(), QString::fromStdString(SizeText(106'000)));
  // Nothing estimated yet: the saving order falls back to the Unzipped bytes.
  EXPECT_EQ(Names(start), (QStringList{"big", "middle", "Small"}));
  const QModelIndex big = model.index(0, 0, start);
  EXPECT_EQ(model.index(0, 1, start).data().toString(), QString::fromStdString(SizeText(75'000)));
  EXPECT_TRUE(model.hasChildren(big));
  EXPECT_FALSE(model.hasChildren(model.index(2, 0, start)));
  EXPECT_EQ(model.parent(model.index(0, 3, big)), big);
  EXPECT_EQ(model.RecordAt(big), &folders[2]);
  EXPECT_EQ(model.index(0, 0, big).data(Qt::ToolTipRole).toString(), "/t/big/inner/");
  // The bar: big holds 75,000 of the start's 106,000 unzipped bytes.
  EXPECT_NEAR(model.index(0, FolderTreeModel::kShareColumn, start).data(FolderTreeModel::kShareRole).toDouble(),
              75.0 / 106.0, 1e-9);
  EXPECT_EQ(model.index(0, FolderTreeModel::kShareColumn, start).data().toString(), "71%");

  // Estimates in: middle saves most and moves up; the share is of the parent's saving.
  std::map<const FolderRec*, SavingEstimate> estimates;
  auto set = [&](std::int64_t i, std::int64_t saving) {
    SavingEstimate& e = estimates[&folders[i]];
    e.Known = true;
    e.Disk = e.DiskLow = e.DiskHigh = saving;  // the disk figures are what is shown
  };
  set(2, 1000);
  set(3, 2000);
  set(5, 9000);
  totals.SumSavings([&](const FolderRec& rec) -> const SavingEstimate* {
    const auto found = estimates.find(&rec);
    return found == estimates.end() ? nullptr : &found->second;
  });
  const QPersistentModelIndex heldBig(big);
  model.SavingsChanged();
  EXPECT_EQ(Names(start), (QStringList{"big", "middle", "Small"}));  // no row moves under the user
  model.OrderAgain();
  EXPECT_EQ(Names(start), (QStringList{"middle", "big", "Small"}));
  EXPECT_EQ(heldBig.row(), 1);  // an open folder's rows follow it
  EXPECT_EQ(model.index(1, FolderTreeModel::kSavingColumn, start).data().toString(),
            QString::fromStdString(SizeText(3000)));
  EXPECT_NEAR(model.index(0, FolderTreeModel::kShareColumn, start).data(FolderTreeModel::kShareRole).toDouble(),
              0.75, 1e-9);

  // Sorting applies among siblings, at every level.
  model.sort(0, Qt::AscendingOrder);
  EXPECT_EQ(Names(start), (QStringList{"big", "middle", "Small"}));
  EXPECT_EQ(Names(model.index(0, 0, start)), (QStringList{"inner", "other"}));
  model.sort(0, Qt::DescendingOrder);
  EXPECT_EQ(Names(start), (QStringList{"Small", "middle", "big"}));
  EXPECT_EQ(heldBig.row(), 2);
}

TEST_F(FolderTreeModelTest, AFilterKeepsTheWayDownToEachMatch) {
  model.SetTotals(&totals, kToday);
  model.SetFilter([&](std::int64_t i) { return folders[i].Path().find("other") != std::string::npos; });
  const QModelIndex start = model.index(0, 0);
  EXPECT_EQ(Names(start), QStringList{"big"});
  EXPECT_EQ(Names(model.index(0, 0, start)), QStringList{"other"});
  EXPECT_FALSE(model.IndexOfRecord(5).isValid());  // middle is filtered out
  model.SetFilter([](std::int64_t) { return false; });
  EXPECT_EQ(model.rowCount(), 0);
}

// 20,000 levels: every parent is found without recursion, and the view opens the start.
TEST(FolderTreeModelDeep, TwentyThousandLevelsWalkUpAndDown) {
  ScanRules settings;
  FolderList folders;
  folders.AddFolder("/deep/", settings);
  std::string path = "/deep/";
  for (int level = 1; level < 20'000; ++level) {
    path += "d/";
    folders.AddFolder(path, settings, &folders[level - 1]);
  }
  SubtreeTotals totals;
  totals.Build(folders);
  FolderTreeModel model;
  model.SetTotals(&totals, kToday);
  QModelIndex index = model.IndexOfRecord(19'999);
  ASSERT_TRUE(index.isValid());
  int levels = 0;
  while (index.parent().isValid()) {
    index = index.parent();
    ++levels;
  }
  EXPECT_EQ(levels, 19'999);
  EXPECT_EQ(model.RecordIndexAt(index), 0);
  FolderTreeView view(&model);
  view.OpenOnStart();
  EXPECT_TRUE(view.isExpanded(model.index(0, 0)));
  EXPECT_EQ(view.currentIndex(), model.index(0, 0));
}

}  // namespace
}  // namespace orbelan

namespace orbelan {
namespace {

// The columns' ink (pixels that differ from the row's background) in each cell of a view's
// rendering: left, right, top and bottom edge, or all -1 for an empty cell.
std::vector<QRect> InkOfCells(QTreeView& view, const QImage& image) {
  std::vector<QRect> ink;
  for (int row = 0; row < view.model()->rowCount(view.rootIndex()); ++row) {
    const QModelIndex first = view.model()->index(row, 0, view.rootIndex());
    for (int column = 0; column < FolderTreeModel::kColumnCount; ++column) {
      const QRect cell = view.visualRect(first.siblingAtColumn(column)).intersected(image.rect());
      const QRgb background = image.pixel(cell.right(), cell.top());
      QRect box;
      for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x)
          if (image.pixel(x, y) != background) box |= QRect(x, y, 1, 1);
      ink.push_back(box);
    }
  }
  return ink;
}

// The tree draws each cell's text from shaped texts it keeps, not through the style's item
// drawing; what it draws must stand where the style would put it: same cells, same
// alignment, long names cut with an ellipsis, within a pixel of the style's own rendering.
TEST_F(FolderTreeModelTest, CellsAreDrawnWhereTheStyleWouldDrawThem) {
  folders.AddFolder("/t/a folder name long enough to be cut short by the column/", settings);
  folders.Tail()->SzFiles = 7000;
  folders.Tail()->NFiles = 1;
  folders.Tail()->Recent = kToday - 400;
  totals.Build(folders);
  model.SetTotals(&totals, kToday);
  auto render = [&](bool styleDrawn) {
    FolderTreeView view(&model);
    if (styleDrawn)
      for (int c = 0; c < FolderTreeModel::kShareColumn; ++c) view.setItemDelegateForColumn(c, new QStyledItemDelegate(&view));
    view.resize(900, 300);
    view.header()->resizeSection(0, 160);
    view.OpenOnStart();
    view.setRootIndex(model.index(0, 0));  // the subfolders, one a row
    view.clearSelection();
    QImage image(view.viewport()->size(), QImage::Format_RGB32);
    view.viewport()->render(&image);
    return std::make_pair(InkOfCells(view, image), image);
  };
  const auto [ours, ourImage] = render(false);
  const auto [styles, styleImage] = render(true);
  ASSERT_EQ(ours.size(), styles.size());
  int inked = 0;
  for (std::size_t i = 0; i < ours.size(); ++i) {
    if (i % FolderTreeModel::kColumnCount == FolderTreeModel::kShareColumn) continue;  // drawn alike by both
    EXPECT_EQ(ours[i].isEmpty(), styles[i].isEmpty()) << "cell " << i;
    if (ours[i].isEmpty() || styles[i].isEmpty()) continue;
    ++inked;
    EXPECT_LE(std::abs(ours[i].left() - styles[i].left()), 1) << "cell " << i;
    EXPECT_LE(std::abs(ours[i].right() - styles[i].right()), 1) << "cell " << i;
    EXPECT_LE(std::abs(ours[i].top() - styles[i].top()), 1) << "cell " << i;
    EXPECT_LE(std::abs(ours[i].bottom() - styles[i].bottom()), 1) << "cell " << i;
  }
  EXPECT_GE(inked, 4 * 6);  // every folder's name and figures were drawn
}

}  // namespace
}  // namespace orbelan

namespace orbelan {
namespace {

// "*" opens level by level, nearest first, and stops before the view would hold more than
// its bound of rows: a view of every folder of a large tree makes End and a sort take seconds.
TEST(FolderTreeViewTest, AsteriskOpensNearestLevelsFirstWithinTheRowBound) {
  ScanRules rules;
  FolderList folders;
  auto add = [&](const std::string& path) {
    folders.AddFolder(path, rules);
    folders.Tail()->SzFiles = 1000;
    folders.Tail()->NFiles = 1;
  };
  add("/t/");
  const int wide = FolderTreeView::kMostRowsOpened / 2 + 10;  // two of these pass the bound
  for (const char* branch : {"a", "b"}) {
    add(std::string("/t/") + branch + "/");
    for (int i = 0; i < wide; ++i) {
      add(std::string("/t/") + branch + "/" + std::to_string(i) + "/");
      if (i == 0) add(std::string("/t/") + branch + "/0/deep/");
    }
  }
  SubtreeTotals totals;
  totals.Build(folders);
  FolderTreeModel model;
  model.SetTotals(&totals, kToday);
  FolderTreeView view(&model);
  view.setCurrentIndex(model.index(0, 0));
  QKeyEvent asterisk(QEvent::KeyPress, Qt::Key_Asterisk, Qt::NoModifier);
  QApplication::sendEvent(&view, &asterisk);

  const QModelIndex top = model.index(0, 0);
  ASSERT_EQ(model.rowCount(top), 2);
  EXPECT_TRUE(view.isExpanded(top));
  EXPECT_NE(view.isExpanded(model.index(0, 0, top)), view.isExpanded(model.index(1, 0, top)));  // one fits
  // The deeper level waits until the nearer one is open.
  EXPECT_FALSE(view.isExpanded(model.IndexOfRecord(2)));  // /t/a/0/, above deep/
}

}  // namespace
}  // namespace orbelan
