// The results list as a desktop list: number columns wide enough for their texts, the Path
// column elided in the middle with its real path as tooltip and on the clipboard, and the
// keyboard after a scan.

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "dialogs/frm_prop.h"
#include "app/main_form.h"
#include "app/results_model.h"
#include "app/results_view.h"
#include "platform/day_number.h"
#include "tests/gui/scripted_interaction.h"
#include "tests/gui/scan_wait.h"

namespace orbelan {
namespace {

class ResultsViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    TForm1::Options options;
    options.settingsFile = (dir_.path() + "/orbelan.dat").toStdString();
    options.startSplashTimer = false;
    form_ = std::make_unique<TForm1>(options);
    form_->settings.MinSize = 0;
    form_->settings.IgnorePaths.Clear();
  }

  FolderRec& Add(const std::string& path, std::int64_t size, double recent) {
    FolderList& folders = form_->FoldersForTests();
    folders.AddFolder(path, form_->settings.Rules());
    FolderRec& rec = *folders.Tail();
    rec.SzFiles = size;
    rec.NFiles = 1;
    rec.Recent = recent;
    return rec;
  }
  QTreeView* View() { return form_->findChild<QTreeView*>("LView1"); }
  QString Cell(int row, int column) {
    return form_->Model()->data(form_->Model()->index(row, column)).toString();
  }
  void ShowActive() {
    form_->show();
    QApplication::setActiveWindow(form_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }
  void MakeTree() {
    for (const char* name : {"Alpha", "Beta"}) {
      const QString folder = dir_.path() + "/Tree/" + name;
      ASSERT_TRUE(QDir().mkpath(folder));
      QFile file(folder + "/data.bin");
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(QByteArray(5000, 'x'));
    }
  }

  QTemporaryDir dir_;
  testing::ScriptedInteraction script_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(ResultsViewTest, NumberColumnsAreAsWideAsTheirWidestTextAfterEveryFill) {
  const double today = TodayDayNumber();
  // Small figures: the layout widths stand, or the caption's where it needs more.
  Add("/a/", 5000, today);
  form_->show();
  form_->FillList();
  QHeaderView* header = View()->header();
  for (int column = 1; column < kColumnCount; ++column) {
    EXPECT_EQ(header->sectionSize(column), form_->ListBehaviour()->MinimumWidth(column)) << column;
    EXPECT_EQ(header->sectionSize(column),
              std::max(ResultsModel::ColumnWidth(column), header->sectionSizeHint(column))) << column;
  }

  // A folder of 17 GB and one whose newest file lies far in the future (a clock gone wrong)
  // and one from long ago: their texts are wider than the layout's columns.
  Add("/big/", 17'185'622'123, today - 26688).SzZips = 9'999'999'999;
  Add("/future/", 4000, today + 26688);
  form_->Model()->Clear();
  form_->FillList();
  ASSERT_EQ(form_->Model()->rowCount(), 3);
  const QFontMetrics metrics(View()->font());
  bool widened = false;
  for (int column = 1; column < kColumnCount; ++column) {
    for (int row = 0; row < 3; ++row) {
      const QString text = Cell(row, column);
      EXPECT_GE(header->sectionSize(column), metrics.horizontalAdvance(text) + 6)
          << column << " " << text.toStdString();
    }
    EXPECT_GE(header->sectionSize(column), ResultsModel::ColumnWidth(column));
    widened = widened || header->sectionSize(column) > ResultsModel::ColumnWidth(column);
  }
  EXPECT_TRUE(widened);

  // A column the user widened keeps that width through the next fill; one made narrower
  // than its text gets its text's width again.
  const int wide = header->sectionSize(3) + 40;
  header->resizeSection(3, wide);
  header->resizeSection(1, 20);
  form_->Model()->Clear();
  form_->FillList();
  EXPECT_EQ(header->sectionSize(3), wide);
  for (int row = 0; row < 3; ++row)
    EXPECT_GE(header->sectionSize(1), metrics.horizontalAdvance(Cell(row, 1)) + 6);
}

TEST_F(ResultsViewTest, PathIsElidedInTheMiddleShownWholeAsTooltipAndTakesTheExtraWidth) {
  Add("/Data/Mixed Case/Deep/", 5000, TodayDayNumber());
  form_->show();
  form_->FillList();
  View()->show();  // as a scan leaves it
  EXPECT_EQ(View()->textElideMode(), Qt::ElideMiddle);
  const QModelIndex path = form_->Model()->index(0, 0);
  EXPECT_EQ(path.data().toString(), "/Data/Mixed Case/Deep/");  // in its real case
  EXPECT_EQ(path.data(Qt::ToolTipRole).toString(), "/Data/Mixed Case/Deep/");
  EXPECT_EQ(form_->Model()->index(0, 1).data(Qt::ToolTipRole).toString(), "5,000 bytes");  // exact

  QHeaderView* header = View()->header();
  ResultsViewBehaviour* list = form_->ListBehaviour();
  auto total = [&] {
    int sum = 0;
    for (int column = 0; column < kColumnCount; ++column) sum += header->sectionSize(column);
    return sum;
  };
  // Path takes what the other columns leave, at every width: every column, Saving included,
  // is in view without scrolling, and the number columns keep their widths.
  for (const int width : {form_->minimumWidth(), 700, 1000}) {
    form_->resize(width, form_->height());
    QCoreApplication::processEvents();  // the layout passes the new width on
    EXPECT_EQ(total(), View()->viewport()->width()) << width;
    EXPECT_GE(header->sectionSize(0), ResultsViewBehaviour::kMinPathWidth) << width;
    for (int column = 1; column < kColumnCount; ++column)
      EXPECT_EQ(header->sectionSize(column), list->MinimumWidth(column)) << width;
  }

  // The Path column is not the user's to size (a drag cannot push Saving out of view); the
  // number columns are, and Path gives way to them.
  EXPECT_EQ(header->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_EQ(header->sectionResizeMode(3), QHeaderView::Interactive);
  const int pathWidth = header->sectionSize(0);
  header->resizeSection(3, header->sectionSize(3) + 50);
  EXPECT_EQ(header->sectionSize(0), pathWidth - 50);
  EXPECT_EQ(total(), View()->viewport()->width());
  EXPECT_EQ(View()->horizontalScrollBar()->maximum(), 0);
}

// A list that fills in after the widths were set grows a vertical scroll bar; the Path
// column gives way to it, or Saving slipped behind a sideways scroll (seen on a real
// display, where the bar appears only after the fill's layout).
TEST_F(ResultsViewTest, SavingStaysInViewWhenTheRowsOutgrowTheList) {
  Add("/Data/One/", 5000, TodayDayNumber());
  form_->resize(900, 500);
  form_->show();
  form_->FillList();
  View()->show();
  QCoreApplication::processEvents();
  ASSERT_FALSE(View()->verticalScrollBar()->isVisible());
  for (int i = 0; i < 200; ++i) Add("/Data/Many/" + std::to_string(i) + "/", 5000 + i, TodayDayNumber());
  form_->FillList();
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();  // the bar shows after layout
  ASSERT_TRUE(View()->verticalScrollBar()->isVisible());
  QHeaderView* header = View()->header();
  int total = 0;
  for (int column = 0; column < kColumnCount; ++column) total += header->sectionSize(column);
  EXPECT_EQ(total, View()->viewport()->width());
  EXPECT_EQ(View()->horizontalScrollBar()->maximum(), 0);
}

TEST_F(ResultsViewTest, CtrlCAndCopyPathPutTheRealPathOnTheClipboard) {
  Add("/Home/User/Photos 2024/", 5000, TodayDayNumber());
  ShowActive();
  form_->FillList();
  View()->setFocus();
  View()->setCurrentIndex(form_->Model()->index(0, 0));
  QApplication::clipboard()->clear();
  QTest::keySequence(View(), QKeySequence(QKeySequence::Copy));
  EXPECT_EQ(QApplication::clipboard()->text(), "/Home/User/Photos 2024/");

  auto* popup = form_->findChild<QMenu*>("PopupMenu1");
  QAction* copy = form_->findChild<QAction*>("mnuCopyPath");
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(popup->actions().contains(copy));
  EXPECT_EQ(copy->text(), "&Copy path");
  QApplication::clipboard()->setText("something else");
  copy->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), "/Home/User/Photos 2024/");

  // Without a selected row nothing is copied.
  View()->selectionModel()->clear();
  copy->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), "/Home/User/Photos 2024/");
}

TEST_F(ResultsViewTest, AfterAScanTheKeyboardWorksWithoutAClick) {
  MakeTree();
  ShowActive();
  form_->settings.ZipExts.Clear();
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, QFile::encodeName(dir_.path() + "/Tree").toStdString()));
  ASSERT_EQ(form_->Model()->rowCount(), 2);
  EXPECT_TRUE(View()->isVisible());
  EXPECT_TRUE(View()->hasFocus());
  EXPECT_EQ(View()->currentIndex().row(), 0);
  EXPECT_EQ(form_->SelectedRow(), form_->Model()->RowAt(0));

  // Arrows move, F4 and Ctrl+E act on the row, without any click first.
  QTest::keyClick(View(), Qt::Key_Down);
  EXPECT_EQ(form_->SelectedRow(), form_->Model()->RowAt(1));
  QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_E));
  ASSERT_EQ(script_.openedFolders.size(), 1);
  EXPECT_TRUE(script_.openedFolders[0].endsWith("/Tree/Beta/"));
  QTest::keySequence(form_.get(), QKeySequence(Qt::Key_F4));
  EXPECT_TRUE(form_->frmProp()->isVisible());
  form_->frmProp()->hide();

  // Enter and a double-click open the properties too.
  ShowActive();
  View()->setFocus();
  QTest::keyClick(View(), Qt::Key_Return);
  EXPECT_TRUE(form_->frmProp()->isVisible());
  form_->frmProp()->hide();
  const QPoint onRow0 = View()->visualRect(form_->Model()->index(0, 0)).center();
  int clicks = 0;
  QObject::connect(View(), &QAbstractItemView::doubleClicked, [&] { ++clicks; });
  // A double-click as the platform delivers it: press, release, then the double-click press.
  QWidget* viewport = View()->viewport();
  QTest::mouseClick(viewport, Qt::LeftButton, {}, onRow0);
  QMouseEvent second(QEvent::MouseButtonPress, onRow0, viewport->mapToGlobal(onRow0), Qt::LeftButton,
                     Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &second);
  QMouseEvent dbl(QEvent::MouseButtonDblClick, onRow0, viewport->mapToGlobal(onRow0), Qt::LeftButton,
                  Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &dbl);
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, onRow0);
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(form_->frmProp()->isVisible());
  EXPECT_EQ(form_->SelectedRow(), form_->Model()->RowAt(0));
  form_->frmProp()->hide();

  // Shift+F10 opens the context menu, as the Menu key does.
  ShowActive();
  View()->setFocus();
  auto* popup = form_->findChild<QMenu*>("PopupMenu1");
  QTest::keyClick(View(), Qt::Key_F10, Qt::ShiftModifier);
  EXPECT_TRUE(popup->isVisible());
  popup->close();
}

}  // namespace
}  // namespace orbelan
