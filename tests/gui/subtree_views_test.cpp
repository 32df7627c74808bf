// Subtrees in the main window: the folder tree beside the list, the list's subtree totals,
// the filter above both, and the choices kept in the settings file.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QLineEdit>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/folder_tree_model.h"
#include "app/folder_tree_view.h"
#include "app/main_form.h"
#include "app/results_model.h"
#include "app/subtree_views.h"
#include "dialogs/frm_prop.h"
#include "dialogs/subtree_page.h"
#include "survey/saving_sum.h"
#include "survey/figure_text.h"
#include "survey/saving_table.h"
#include "tests/gui/form_fixture.h"
#include "tests/gui/scan_wait.h"

namespace orbelan {
namespace {

using testing::Bytes;
using testing::MakeFile;

class SubtreeViewsTest : public testing::FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    // A project of small folders, none listed on its own, and one big folder.
    MakeFile(root_ + "/Project/a/x.txt", 600);
    MakeFile(root_ + "/Project/b/y.txt", 700);
    MakeFile(root_ + "/Project/b/c/z.txt", 800);
    MakeFile(root_ + "/Music/song.txt", 5000);
    Open();
  }
  void Open() { OpenForm(/*estimate=*/false); }
  QStringList TreeNames(const QModelIndex& parent) const {
    QStringList out;
    FolderTreeModel* model = form_->Subtrees()->TreeModel();
    for (int r = 0; r < model->rowCount(parent); ++r) out << model->index(r, 0, parent).data().toString();
    return out;
  }
};

TEST_F(SubtreeViewsTest, CtrlTSwitchesToTheTreeOpenOnTheStartAndTheChoiceIsKept) {
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  auto* list = form_->findChild<QTreeView*>("LView1");
  FolderTreeView* tree = form_->Subtrees()->Tree();
  EXPECT_TRUE(list->isVisible());
  EXPECT_FALSE(tree->isVisible());

  QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_T));
  EXPECT_TRUE(tree->isVisible());
  EXPECT_FALSE(list->isVisible());
  const QModelIndex start = tree->model()->index(0, 0);
  EXPECT_EQ(start.data().toString(), root_ + "/");
  EXPECT_TRUE(tree->isExpanded(start));
  // Largest first: Music's 5,000 bytes before the project's 2,100 (nothing estimated).
  EXPECT_EQ(TreeNames(start), QStringList({"Music", "Project"}));
  EXPECT_EQ(form_->SelectedRecord()->Path(), Bytes(root_ + "/"));

  // The keyboard walks it: down to Music, down to Project, right opens it.
  QTest::keyClick(tree, Qt::Key_Down);
  QTest::keyClick(tree, Qt::Key_Down);
  EXPECT_EQ(form_->SelectedRecord()->Path(), Bytes(root_ + "/Project/"));
  QTest::keyClick(tree, Qt::Key_Right);
  EXPECT_TRUE(tree->isExpanded(tree->currentIndex()));
  EXPECT_EQ(TreeNames(tree->currentIndex()), QStringList({"b", "a"}));
  QTest::keyClick(tree, Qt::Key_Left);
  EXPECT_FALSE(tree->isExpanded(tree->currentIndex()));

  // Folder commands act on the tree's folder.
  QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_E));
  EXPECT_EQ(script_.openedFolders, QStringList({root_ + "/Project/"}));

  form_->close();
  Open();
  EXPECT_TRUE(form_->settings.View.Tree);
  EXPECT_TRUE(form_->Subtrees()->TreeAction()->isChecked());
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  EXPECT_TRUE(form_->Subtrees()->Tree()->isVisible());
  QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_T));
  EXPECT_TRUE(form_->findChild<QTreeView*>("LView1")->isVisible());
}

TEST_F(SubtreeViewsTest, TheTreesColumnsFillItsWidthWithoutASidewaysScroll) {
  for (int i = 0; i < 40; ++i) MakeFile(root_ + "/Many/f" + QString::number(i) + "/x.txt", 100 + i);
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_T));
  FolderTreeView* tree = form_->Subtrees()->Tree();
  QHeaderView* head = tree->header();
  const int startPath = head->sectionSize(0);
  auto sum = [head] {
    int total = 0;
    for (int c = 0; c < head->count(); ++c) total += head->sectionSize(c);
    return total;
  };
  for (const int width : {form_->minimumWidth(), 900, 1400, 1000}) {
    form_->resize(width, 500);
    QApplication::processEvents();
    SCOPED_TRACE(width);
    // The Path column takes what is left: the columns end at the viewport's right edge, and
    // the Path column keeps its starting width at least (a sideways scroll only then).
    EXPECT_EQ(sum(), std::max(tree->viewport()->width(), sum() - head->sectionSize(0) + startPath));
    EXPECT_EQ(tree->horizontalScrollBar()->maximum() > 0, sum() > tree->viewport()->width());
  }
  // Folders opened until the vertical bar shows: the Path column gives way to it.
  EXPECT_FALSE(tree->verticalScrollBar()->isVisible());
  tree->expandAll();
  QApplication::processEvents();
  ASSERT_TRUE(tree->verticalScrollBar()->isVisible());
  EXPECT_EQ(sum(), tree->viewport()->width());
  EXPECT_EQ(tree->horizontalScrollBar()->maximum(), 0);
}

TEST_F(SubtreeViewsTest, SubtreeTotalsListTheProjectForItsWholeAndTheMinimumSizeAppliesToThem) {
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  EXPECT_EQ(PathColumn(), QStringList({root_ + "/Music/"}));  // the project's folders are small

  QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_U));
  EXPECT_TRUE(form_->settings.View.SubtreeRows);
  EXPECT_EQ(PathColumn(), QStringList({root_ + "/", root_ + "/Music/", root_ + "/Project/", root_ + "/Project/b/"}));
  auto* model = form_->Model();
  EXPECT_EQ(model->data(model->index(2, 1)).toString(), QString::fromStdString(SizeText(2100)));
  EXPECT_EQ(model->data(model->index(0, 1)).toString(), QString::fromStdString(SizeText(7100)));

  form_->settings.MinSize = 2;  // more than 2 KiB: the root (7,100) and Music (5,000)
  form_->Lview1_colclick(0);
  EXPECT_EQ(PathColumn().size(), 2);
  form_->Lview1_colclick(0);
  QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_U));
  EXPECT_EQ(PathColumn(), QStringList({root_ + "/Music/"}));
}

TEST_F(SubtreeViewsTest, TheFilterShowsMatchingPathsInTheListAndTheWayToThemInTheTree) {
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_U));
  auto* filter = form_->findChild<QLineEdit*>("edFilter");
  ASSERT_NE(filter, nullptr);
  EXPECT_TRUE(filter->isVisible());
  form_->Subtrees()->SetFilterText("PROJECT/B");  // letters match in any case
  EXPECT_EQ(PathColumn(), QStringList({root_ + "/Project/b/"}));

  QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_T));
  const QModelIndex start = form_->Subtrees()->TreeModel()->index(0, 0);
  EXPECT_EQ(TreeNames(start), QStringList({"Project"}));
  EXPECT_EQ(TreeNames(form_->Subtrees()->TreeModel()->index(0, 0, start)), QStringList({"b"}));

  form_->Subtrees()->SetFilterText("");
  EXPECT_EQ(TreeNames(start).size(), 2);
}

TEST_F(SubtreeViewsTest, HidingSmallSavingsAsksForTheSizeAndHidesOnlyKnownSmallOnes) {
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  script_.inputs = {QStringLiteral("4")};
  form_->Subtrees()->HideSmallAction()->trigger();
  EXPECT_TRUE(form_->settings.View.HideSmallSavings);
  EXPECT_EQ(form_->settings.View.HideSavingBelowKB, 4);
  EXPECT_EQ(PathColumn().size(), 1);  // nothing estimated: nothing known to be small

  // What counts is the disk space given back, as the Saving column shows it: contents
  // that shrink by 9,000 bytes but give back 3,000 bytes of disk are small...
  SavingTable savings;
  SavingEstimate small;
  small.Known = true;
  small.Saving = small.Low = small.High = 9000;
  small.Disk = small.DiskLow = small.DiskHigh = 3000;
  ResultRows rows = form_->Model()->Rows();
  savings.Set(*rows.Rows[0].Rec, small);
  form_->Subtrees()->FilterRows(rows, &savings);
  EXPECT_TRUE(rows.Rows.empty());
  // ...and tiny files that shrink by 2,000 bytes but free two blocks are not.
  SavingEstimate blocks = small;
  blocks.Saving = blocks.Low = blocks.High = 2000;
  blocks.Disk = blocks.DiskLow = blocks.DiskHigh = 8192;
  rows = form_->Model()->Rows();
  savings.Set(*rows.Rows[0].Rec, blocks);
  form_->Subtrees()->FilterRows(rows, &savings);
  EXPECT_EQ(rows.Rows.size(), 1u);

  form_->Subtrees()->HideSmallAction()->trigger();  // unchecks: shown again
  EXPECT_FALSE(form_->settings.View.HideSmallSavings);
}

TEST_F(SubtreeViewsTest, PropertiesShowTheFolderAndItsSubtree) {
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_T));
  FolderTreeView* tree = form_->Subtrees()->Tree();
  QTest::keyClick(tree, Qt::Key_Down);
  QTest::keyClick(tree, Qt::Key_Down);  // Project
  QTest::keyClick(tree, Qt::Key_F4);
  TfrmProp* prop = form_->frmProp();
  ASSERT_TRUE(prop->isVisible());
  auto text = [&](const char* name) { return prop->findChild<QLabel*>(name)->text(); };
  EXPECT_EQ(text("labNFiles"), "0 files found --");  // its own: none
  EXPECT_EQ(text("labSubFolders"), "This folder and 3 below it");
  EXPECT_EQ(text("labSubNFiles"), "3 files found --");
  EXPECT_EQ(text("labSubSzFiles"), "size = " + QString::fromStdString(SizeText(2100)));
  EXPECT_EQ(text("labSubRecent"), "Most recent file = today");
  EXPECT_FALSE(prop->findChild<QLabel*>("labSubSaving")->isVisible());  // the estimate is off here
}

TEST_F(SubtreeViewsTest, RescanThisFolderTakesInItsChangesAndLeavesTheRestAlone) {
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_T));
  FolderTreeView* tree = form_->Subtrees()->Tree();
  MakeFile(root_ + "/Project/b/new.txt", 10'000);
  MakeFile(root_ + "/Project/d/e.txt", 1000);
  MakeFile(root_ + "/Music/more.txt", 7000);  // outside: not seen until F5
  QTest::keyClick(tree, Qt::Key_Down);
  QTest::keyClick(tree, Qt::Key_Down);
  ASSERT_EQ(form_->SelectedRecord()->Path(), Bytes(root_ + "/Project/"));
  QTest::keySequence(form_.get(), QKeySequence(Qt::SHIFT | Qt::Key_F5));
  ASSERT_TRUE(orbelan::testing::WaitForScan(*form_));

  const SubtreeTotals& totals = form_->Subtrees()->Totals();
  EXPECT_EQ(totals.Figures(0).SzFiles, 5000 + 2100 + 11'000);
  EXPECT_EQ(totals.Figures(0).NFolders, 7);  // the root, Music, Project, a, b, c, d
  const QModelIndex start = tree->model()->index(0, 0);
  QStringList names = TreeNames(start);
  names.sort();
  EXPECT_EQ(names, QStringList({"Music", "Project"}));
  const int projectRow = TreeNames(start).indexOf("Project");
  EXPECT_EQ(tree->model()->index(projectRow, 1, start).data().toString(), QString::fromStdString(SizeText(13'100)));

  // Gone since: taken out, and said so.
  QDir(root_ + "/Project").removeRecursively();
  tree->setCurrentIndex(tree->model()->index(TreeNames(start).indexOf("Project"), 0, start));
  ASSERT_EQ(form_->SelectedRecord()->Path(), Bytes(root_ + "/Project/"));
  form_->mnuRescanFolderClick();
  ASSERT_TRUE(orbelan::testing::WaitForScan(*form_));
  EXPECT_EQ(script_.Texts("message").size(), 1);
  EXPECT_EQ(TreeNames(tree->model()->index(0, 0)), QStringList({"Music"}));
  EXPECT_EQ(form_->Subtrees()->Totals().Figures(0).SzFiles, 5000);
}

TEST(SubtreeSavingSentence, SaysTheSumItsRangeAndWhatIsMissing) {
  EXPECT_EQ(SubtreeSavingSentence(nullptr), "Not estimated yet");
  SavingSum sum;
  sum.Saving = 5000;
  sum.Low = 4000;
  sum.High = 9000;
  sum.Estimated = 3;
  const std::string separator = ThousandsSeparator();
  EXPECT_EQ(SubtreeSavingSentence(&sum),
            "Zipping it all would free about 5" + separator + "000 bytes (4" + separator + "000 to 9" + separator + "000)");
  sum.Low = sum.High = sum.Saving;
  sum.Missing = 1;
  EXPECT_EQ(SubtreeSavingSentence(&sum), "Zipping it all would free 5" + separator + "000 bytes; 1 folder not estimated yet");
}

}  // namespace
}  // namespace orbelan
