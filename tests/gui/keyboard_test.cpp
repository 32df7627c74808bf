// The main window without a mouse: Tab goes round the banner, the list and the buttons,
// the banner follows Enter and Space like a link, the buttons Space, and the sort keys
// order the list wherever the focus is.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "app/results_model.h"
#include "app/sort_menu.h"
#include "dialogs/frm_lists.h"
#include "tests/gui/scripted_interaction.h"
#include "tests/gui/scan_wait.h"

namespace orbelan {
namespace {

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    root_ = dir_.path() + "/Tree";
    for (const auto& [name, size] : {std::pair{"Big", 700'000}, {"Small", 20'000}}) {
      ASSERT_TRUE(QDir().mkpath(root_ + "/" + name));
      QFile file(root_ + "/" + name + "/data.txt");
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(QByteArray(size, 'x'));
    }
    TForm1::Options options;
    options.settingsFile = (dir_.path() + "/orbelan.dat").toStdString();
    options.startSplashTimer = false;
    form_ = std::make_unique<TForm1>(options);
    form_->settings.MinSize = 0;
    form_->settings.EstimateSavings = false;
    form_->show();
    QApplication::setActiveWindow(form_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }
  QWidget* Child(const char* name) { return form_->findChild<QWidget*>(QLatin1String(name)); }
  // Where Tab takes the focus, count presses from the widget given.
  std::vector<std::string> TabRound(QWidget* from, int count, Qt::Key key = Qt::Key_Tab) {
    from->setFocus(Qt::TabFocusReason);
    std::vector<std::string> visited;
    for (int i = 0; i < count; ++i) {
      QTest::keyClick(QApplication::focusWidget(), key, key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
      visited.push_back(QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "");
    }
    return visited;
  }

  QTemporaryDir dir_;
  QString root_;
  testing::ScriptedInteraction script_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(KeyboardTest, TabGoesRoundTheBannerTheListAndTheButtons) {
  // Before a scan the filter and the list are hidden: Tab passes them over.
  EXPECT_EQ(TabRound(Child("labPath"), 4),
            (std::vector<std::string>{"butExit", "butLists", "butHelp", "labPath"}));
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, QFile::encodeName(root_).toStdString()));
  ASSERT_GT(form_->Model()->rowCount(), 0);
  EXPECT_EQ(QApplication::focusWidget(), Child("LView1"));  // a scan leaves the focus on its answer
  EXPECT_EQ(TabRound(Child("labPath"), 6),
            (std::vector<std::string>{"edFilter", "LView1", "butExit", "butLists", "butHelp", "labPath"}));
  EXPECT_EQ(TabRound(Child("labPath"), 2, Qt::Key_Backtab), (std::vector<std::string>{"butHelp", "butLists"}));
  // Every stop takes the focus by Tab alone, none by a click that only looked at it.
  for (const char* name : {"labPath", "butExit", "butLists", "butHelp"})
    EXPECT_TRUE(Child(name)->focusPolicy() & Qt::TabFocus) << name;
}

TEST_F(KeyboardTest, TheBannerFollowsEnterAndSpaceAndTheButtonsSpace) {
  QWidget* banner = Child("labPath");
  banner->setFocus(Qt::TabFocusReason);
  QTest::keyClick(banner, Qt::Key_Return);
  QTest::keyClick(banner, Qt::Key_Space);
  ASSERT_EQ(script_.shown.size(), 2u);  // the folder picker, twice (both cancelled)
  EXPECT_EQ(script_.shown[0].kind, "picker");
  EXPECT_EQ(script_.shown[1].kind, "picker");
  // A letter is no click.
  QTest::keyClick(banner, Qt::Key_A);
  EXPECT_EQ(script_.shown.size(), 2u);
  // The picker's answer is scanned, as a click's would be.
  script_.folders.push_back(root_);
  QTest::keyClick(banner, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(form_->CurrentPath, QFile::encodeName(root_ + "/").toStdString());

  auto* lists = qobject_cast<QToolButton*>(Child("butLists"));
  lists->setFocus(Qt::TabFocusReason);
  QTest::keyClick(lists, Qt::Key_Space);
  EXPECT_TRUE(form_->frmLists()->isVisible());
  form_->frmLists()->reject();
}

TEST_F(KeyboardTest, SortKeysWorkWhereverTheFocusIs) {
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, QFile::encodeName(root_).toStdString()));
  ASSERT_EQ(form_->Model()->rowCount(), 2);  // Big, Small
  for (const char* focus : {"LView1", "labPath", "butHelp"}) {
    Child(focus)->setFocus(Qt::TabFocusReason);
    QTest::keySequence(QApplication::focusWidget(), SortMenu::Shortcut(-2));  // largest first
    EXPECT_EQ(form_->SortColumn, -2) << focus;
    EXPECT_TRUE(form_->Model()->data(form_->Model()->index(0, 0)).toString().endsWith("/Big/")) << focus;
    QTest::keySequence(QApplication::focusWidget(), SortMenu::Shortcut(2));
    EXPECT_EQ(form_->SortColumn, 2) << focus;
    EXPECT_TRUE(form_->Model()->data(form_->Model()->index(0, 0)).toString().endsWith("/Small/")) << focus;
  }
}

}  // namespace
}  // namespace orbelan
