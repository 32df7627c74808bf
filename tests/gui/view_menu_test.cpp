// The View menu: every sort order a key away, and the readable figures, remembered.

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QShortcut>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "app/main_form.h"
#include "app/results_model.h"
#include "app/sort_menu.h"
#include "platform/ini_profile.h"
#include "survey/readable_figures.h"
#include "tests/gui/form_fixture.h"
#include "tests/gui/scan_wait.h"

namespace orbelan {
namespace {

using testing::MakeFile;

class ViewMenuTest : public testing::FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    MakeFile(root_ + "/Big/a.txt", 7'000'000);
    MakeFile(root_ + "/Mid/b.txt", 30'000);
    MakeFile(root_ + "/Small/c.txt", 2'000);
    SetDecimalMark(".");
    MakeForm();
  }
  void TearDown() override {
    form_.reset();
    ResetDecimalMark();
  }
  void MakeForm() { OpenForm(/*estimate=*/false); }
  QString Cell(int row, int column) {
    return form_->Model()->data(form_->Model()->index(row, column)).toString();
  }
  QStringList Names() {
    QStringList out;
    for (int r = 0; r < form_->Model()->rowCount(); ++r)
      out << Cell(r, 0).mid(root_.size() + 1).chopped(1);
    return out;
  }
  QAction* Action(const QString& name) { return form_->findChild<QAction*>(name); }
};

TEST_F(ViewMenuTest, EverySortOrderHasItsOwnKeyClashingWithNoOtherCommand) {
  std::set<QString> keys;
  int bound = 0;
  for (QAction* action : form_->findChildren<QAction*>()) {
    if (action->shortcut().isEmpty()) continue;
    ++bound;
    keys.insert(action->shortcut().toString());
  }
  EXPECT_EQ(keys.size(), static_cast<std::size_t>(bound)) << "two commands share a key";
  EXPECT_EQ(keys.count(QKeySequence(Qt::CTRL | Qt::Key_Z).toString()), 0u) << "Ctrl+Z stays free";
  for (int column = 1; column <= 7; ++column) {
    for (const int order : {column, -column}) {
      ASSERT_NE(Action(QStringLiteral("mnuSort%1%2").arg(order < 0 ? "Down" : "Up").arg(column)), nullptr);
      EXPECT_EQ(keys.count(SortMenu::Shortcut(order).toString()), 1u) << order;
    }
  }
  EXPECT_EQ(SortMenu::Caption(-7), "Saving, largest first");
  EXPECT_EQ(SortMenu::Caption(5), "&Most Recent, newest first");
}

// The help and the window must not drift apart: a key the help promises for a command
// is bound to one (it once promised Ctrl+Z for Zip folder after that key was freed).
TEST_F(ViewMenuTest, EveryCommandKeyTheHelpNamesIsBound) {
  std::set<QString> bound;
  for (QAction* action : form_->findChildren<QAction*>())
    for (const QKeySequence& key : action->shortcuts()) bound.insert(key.toString());
  for (QShortcut* shortcut : form_->findChildren<QShortcut*>())
    for (const QKeySequence& key : shortcut->keys()) bound.insert(key.toString());
  QFile help(QStringLiteral(ORBELAN_SOURCE_DIR "/resources/orbelan.hlp"));
  ASSERT_TRUE(help.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(help.readAll());
  // Keys Qt or the menu bar handle themselves are not commands of ours.
  const std::set<QString> qtOwn = {"Alt+O", "Shift+F10", "Shift+Tab"};
  int checked = 0;
  QRegularExpression kbd(QStringLiteral("<kbd>((?:Ctrl|Alt|Shift)\\+[^<]+|F[0-9]+)</kbd>"));
  for (auto it = kbd.globalMatch(text); it.hasNext();) {
    const QString key = it.next().captured(1);
    if (qtOwn.count(key)) continue;
    ++checked;
    EXPECT_EQ(bound.count(QKeySequence(key).toString()), 1u) << key.toStdString() << " is in the help but bound to nothing";
  }
  EXPECT_GT(checked, 20);
}

TEST_F(ViewMenuTest, SortKeysOrderTheListAndCheckTheirItemHeaderClicksStayAsDesigned) {
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, QFile::encodeName(root_).toStdString()));
  ASSERT_EQ(Names(), QStringList({"Big", "Mid", "Small"}));
  QTest::keySequence(form_.get(), SortMenu::Shortcut(2));  // Unzipped, smallest first
  EXPECT_EQ(form_->SortColumn, 2);
  EXPECT_EQ(Names(), QStringList({"Small", "Mid", "Big"}));
  EXPECT_TRUE(Action("mnuSortUp2")->isChecked());
  QTest::keySequence(form_.get(), SortMenu::Shortcut(-1));  // Path, Z to A
  EXPECT_EQ(form_->SortColumn, -1);
  EXPECT_EQ(Names(), QStringList({"Small", "Mid", "Big"}));
  QTest::keySequence(form_.get(), SortMenu::Shortcut(-2));  // Unzipped, largest first
  EXPECT_EQ(form_->SortColumn, -2);
  EXPECT_EQ(Names(), QStringList({"Big", "Mid", "Small"}));
  EXPECT_TRUE(Action("mnuSortDown2")->isChecked());
  EXPECT_FALSE(Action("mnuSortUp2")->isChecked());
  QTest::keySequence(form_.get(), SortMenu::Shortcut(-7));
  EXPECT_EQ(form_->SortColumn, -7);
  EXPECT_EQ(form_->findChild<QTreeView*>("LView1")->header()->sortIndicatorSection(), 6);

  // The header: the first click ascending, the second descending; the menu follows it.
  emit form_->findChild<QTreeView*>("LView1")->header()->sectionClicked(1);
  EXPECT_EQ(form_->SortColumn, 2);
  emit form_->findChild<QTreeView*>("LView1")->header()->sectionClicked(1);
  EXPECT_EQ(form_->SortColumn, -2);
  EXPECT_TRUE(Action("mnuSortDown2")->isChecked());
}

TEST_F(ViewMenuTest, ReadableFiguresShowRoundedSizesKeepExactOnesInTooltipsAndAreRemembered) {
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, QFile::encodeName(root_).toStdString()));
  ASSERT_EQ(Names().front(), "Big");
  EXPECT_EQ(Cell(0, 1).trimmed(), "7,000,000");  // the designed figures by default
  QAction* readable = Action("mnuReadable");
  ASSERT_NE(readable, nullptr);
  EXPECT_FALSE(readable->isChecked());
  readable->trigger();
  EXPECT_EQ(Cell(0, 1), "7.00 MB");
  EXPECT_EQ(Cell(1, 1), "30.0 KB");
  EXPECT_EQ(Cell(2, 1), "2.00 KB");
  EXPECT_EQ(Cell(0, 4), "today");
  const QModelIndex big = form_->Model()->index(0, 1);
  EXPECT_EQ(big.data(Qt::ToolTipRole).toString(), "7,000,000 bytes");
  // Every figure whole in its column.
  const QHeaderView* header = form_->findChild<QTreeView*>("LView1")->header();
  const QFontMetrics metrics(form_->findChild<QTreeView*>("LView1")->font());
  EXPECT_GE(header->sectionSize(1), metrics.horizontalAdvance("7.00 MB"));

  form_->close();
  IniFile file(dir_.path().toStdString() + "/orbelan.dat");
  EXPECT_EQ(file.GetString("WINDOW", "ReadableFigures"), "1");
  MakeForm();
  EXPECT_TRUE(Action("mnuReadable")->isChecked());
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, QFile::encodeName(root_).toStdString()));
  EXPECT_EQ(Cell(0, 1), "7.00 MB");
  Action("mnuReadable")->trigger();
  EXPECT_EQ(Cell(0, 1).trimmed(), "7,000,000");
}

}  // namespace
}  // namespace orbelan
