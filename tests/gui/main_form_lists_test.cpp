// The list actions and the two settings windows as the main window uses them: ignoring and
// favouring a listed folder, scanning a favourite, opening the settings.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/gui_scan_observer.h"
#include "app/main_form.h"
#include "app/results_model.h"
#include "dialogs/frm_lists.h"
#include "tests/gui/form_fixture.h"
#include "tests/gui/scan_wait.h"

namespace orbelan {
namespace {

using testing::Bytes;
using testing::MakeFile;

class MainFormListsTest : public testing::FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    MakeFile(root_ + "/Docs/a.txt", 3000);
    MakeFile(root_ + "/Docs/Old/b.txt", 4000);
    MakeFile(root_ + "/Music/c.mp3", 5000);
    OpenForm();
  }
  void SelectRowOf(const QString& folder) {
    const QStringList paths = PathColumn();
    const int row = paths.indexOf(folder);
    ASSERT_GE(row, 0) << folder.toStdString();
    auto* view = form_->findChild<QTreeView*>("LView1");
    view->setCurrentIndex(form_->Model()->index(row, 0));
  }
  Settings Saved() const {
    Settings saved;
    saved.FileName = form_->settings.FileName;
    saved.LoadSettings();
    return saved;
  }
};

TEST_F(MainFormListsTest, IgnoredRowStaysUntilTheRefreshLeavesItsSubtreeOut) {
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  ASSERT_EQ(PathColumn().size(), 3);  // Docs, Docs/Old, Music; the empty root is not listed
  SelectRowOf(root_ + "/Docs/");
  QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_I));

  const std::string entry = (root_ + "/Docs/").toLower().toStdString();
  ASSERT_EQ(Saved().IgnorePaths.Count, form_->settings.IgnorePaths.Count);
  EXPECT_EQ(Saved().IgnorePaths[Saved().IgnorePaths.Count - 1], entry);
  EXPECT_EQ(PathColumn().size(), 3);  // not refreshed yet

  form_->mnuRefreshClick();

  ASSERT_TRUE(orbelan::testing::WaitForScan(*form_));
  EXPECT_EQ(PathColumn(), QStringList({root_ + "/Music/"}));
}

TEST_F(MainFormListsTest, PreferencesOkRelistsForANewMinimumAndOffersAScanForNewLists) {
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  ASSERT_EQ(PathColumn().size(), 3);
  SelectRowOf(root_ + "/Music/");
  TfrmLists* prefs = form_->frmLists();
  auto ok = [&] {
    prefs->findChild<QPushButton*>("butOK")->click();
    QCoreApplication::processEvents();  // the window applies it once the dialog is closed
    ASSERT_TRUE(orbelan::testing::WaitForScan(*form_));  // and a scan it starts runs in the background
  };

  // 3,000 bytes are 2 KiB: a minimum of 2 KiB leaves Docs out at once, without a scan.
  form_->butListsClick();
  prefs->findChild<QSpinBox*>("spinSize")->setValue(2);
  ok();
  EXPECT_EQ(PathColumn(), QStringList({root_ + "/Docs/Old/", root_ + "/Music/"}));
  EXPECT_EQ(form_->SelectedRecord()->Path(), Bytes(root_ + "/Music/"));  // still selected
  EXPECT_TRUE(script_.Texts("question").isEmpty());

  // A new archive extension counts the files differently: a scan is offered; No keeps the
  // figures as they are, Yes scans again.
  auto zippedOfMusic = [&] {
    auto* model = form_->Model();
    const int row = PathColumn().indexOf(root_ + "/Music/");
    return model->data(model->index(row, 2)).toString().trimmed();
  };
  for (const bool yes : {false, true}) {
    form_->butListsClick();
    script_.inputs = {QString(yes ? ".mp3" : ".ogg")};
    prefs->findChild<QPushButton*>("butAddZip")->click();
    script_.yesNo = {yes};
    ok();
    ASSERT_EQ(script_.Texts("question").size(), yes ? 2 : 1);
    EXPECT_EQ(script_.Texts("question").back(),
              "The changed lists count the files differently from the next scan on. Scan \"" +
                  root_ + "\" again now?");
    EXPECT_EQ(zippedOfMusic(), yes ? "5,000" : "0");
  }

  // Only a favourite changed: nothing to re-list, nothing to ask.
  const int questions = script_.Texts("question").size();
  form_->butListsClick();
  script_.folders = {root_ + "/Docs/"};
  prefs->findChild<QPushButton*>("butAdd")->click();
  ok();
  EXPECT_EQ(script_.Texts("question").size(), questions);
}

TEST_F(MainFormListsTest, NewFavoriteIsScannedInItsRealCase) {
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  SelectRowOf(root_ + "/Music/");
  QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_A));
  EXPECT_EQ(Saved().Favorites.Count, 1);
  EXPECT_EQ(Saved().Favorites[0], (root_ + "/Music/").toStdString());

  script_.onModal = [](QDialog* chooser) {
    chooser->findChild<QListWidget*>("list1")->setCurrentRow(0);
    chooser->findChild<QPushButton*>("butScan")->click();
    return chooser->result();
  };
  QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_F));
  ASSERT_TRUE(orbelan::testing::WaitForScan(*form_));
  EXPECT_EQ(script_.Texts("modal"), QStringList({"Scan Favorite Folder"}));
  EXPECT_EQ(form_->CurrentPath, Bytes(root_ + "/Music/"));
  EXPECT_EQ(PathColumn(), QStringList({root_ + "/Music/"}));
}

TEST_F(MainFormListsTest, ScanFavoriteWhileBusyShowsNoChooser) {
  form_->settings.Favorites.Append((root_ + "/Music/").toStdString());
  int visits = 0;
  form_->ScanObserverForTests().onFolderProgress = [&](std::int64_t) {
    if (visits++ == 0) form_->mnuScanFavClick();
  };
  ASSERT_TRUE(orbelan::testing::ScanAndWait(*form_, Bytes(root_)));
  EXPECT_GT(visits, 0);
  EXPECT_TRUE(script_.Texts("modal").isEmpty());
  EXPECT_EQ(form_->CurrentPath, Bytes(root_));
}

TEST_F(MainFormListsTest, PreferencesOpenTheSettingsDialogOnce) {
  form_->settings.ZipExts.Append(".cab");
  QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_P));
  auto* dialog = form_->frmLists();
  ASSERT_TRUE(dialog->isVisible());
  auto* zips = dialog->findChild<QListWidget*>("lstZips");
  const int shown = zips->count();
  EXPECT_EQ(shown, form_->settings.ZipExts.Count);
  script_.inputs = {QString("lzh")};
  dialog->findChild<QPushButton*>("butAddZip")->click();
  form_->butListsClick();  // asked again while open: no refill
  EXPECT_EQ(zips->count(), shown + 1);
  dialog->findChild<QPushButton*>("butCancel")->click();
  EXPECT_FALSE(dialog->isVisible());
}

}  // namespace
}  // namespace orbelan
