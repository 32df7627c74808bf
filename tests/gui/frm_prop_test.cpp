// The "Folder Info" dialog: its texts for a filled record, its shape, and its two buttons.

#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include "dialogs/frm_prop.h"
#include "survey/figure_text.h"
#include "scan/folder_list.h"
#include "tests/gui/scripted_interaction.h"

namespace orbelan {
namespace {

class FrmPropTest : public ::testing::Test {
 protected:
  void SetUp() override { SetThousandsSeparator(","); }
  void TearDown() override { ResetThousandsSeparator(); }

  QString Text(const char* name) const {
    auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(name));
    EXPECT_NE(label, nullptr) << name;
    return label ? label->text() : QString();
  }
  QPushButton* Button(const char* name) const {
    return dialog.findChild<QPushButton*>(QString::fromLatin1(name));
  }

  // Three counted files of 1,200,000 bytes in all, one an archive of 200,000, newest
  // yesterday, nothing ignored.
  static FolderRec ThreeFileFolder() {
    FolderRec rec;
    rec.SetPath("/home/Ann/Data/Old Stuff/");
    rec.NFiles = 3;
    rec.SzFiles = 1'200'000;
    rec.NZips = 1;
    rec.SzZips = 200'000;
    rec.Recent = LocalToday() - 1 + 0.5;  // yesterday at noon
    return rec;
  }

  TfrmProp dialog;
};

TEST_F(FrmPropTest, ThreeFileFolderShowsEveryFigureExactly) {
  dialog.FillFolderInfo(ThreeFileFolder());
  EXPECT_EQ(Text("labPath"), "/home/Ann/Data/Old Stuff/");
  EXPECT_EQ(Text("labNFiles"), "3 files found --");
  EXPECT_EQ(Text("labSzFiles"), "size =    1,200,000");
  EXPECT_EQ(Text("labNZips"), "1 ZIP files found --");
  EXPECT_EQ(Text("labSzZips"), "size =      200,000");
  EXPECT_EQ(Text("labNIgno"), "0 files ignored --");
  EXPECT_EQ(Text("labSzIgno"), "size =            0");
  EXPECT_EQ(Text("labRecent"), "Most recent file = yesterday");
  EXPECT_EQ(Text("labPercent"), "17% of files are zipped");
  EXPECT_EQ(Text("labPriority"), "Zip Priority = 59");
}

TEST_F(FrmPropTest, FolderOfArchivesOnlyAndFolderWithoutCountedFiles) {
  FolderRec archives;
  archives.SetPath("/srv/Backups/");
  archives.NFiles = 2;
  archives.SzFiles = 5'000'000;
  archives.NZips = 2;
  archives.SzZips = 5'000'000;
  archives.NIgno = 4;
  archives.SzIgno = 12'345;
  archives.Recent = LocalToday();
  dialog.FillFolderInfo(archives);
  EXPECT_EQ(Text("labPercent"), "100% of files are zipped");
  EXPECT_EQ(Text("labPriority"), "Zip Priority = 0");
  EXPECT_EQ(Text("labNIgno"), "4 files ignored --");
  EXPECT_EQ(Text("labSzIgno"), "size =       12,345");
  EXPECT_EQ(Text("labRecent"), "Most recent file = today");

  FolderRec empty;
  empty.SetPath("/srv/Empty/");
  dialog.FillFolderInfo(empty);
  EXPECT_EQ(Text("labNFiles"), "0 files found --");
  EXPECT_EQ(Text("labSzFiles"), "size =            0");
  EXPECT_EQ(Text("labPercent"), "0% of files are zipped");  // not the list's blank
  EXPECT_EQ(Text("labRecent"), "Most recent file =  ");
  EXPECT_EQ(Text("labPriority"), "Zip Priority = 0");
}

TEST_F(FrmPropTest, RefillReplacesEveryText) {
  dialog.FillFolderInfo(ThreeFileFolder());
  const char* names[] = {"labPath", "labNFiles", "labSzFiles", "labNZips", "labSzZips",
                         "labNIgno", "labSzIgno", "labRecent", "labPercent", "labPriority"};
  QStringList before;
  for (const char* name : names) before << Text(name);

  FolderRec other;
  other.SetPath("/mnt/Photos/2019/");
  other.NFiles = 12;
  other.SzFiles = 98'765'432'100;  // beyond 32 bits
  other.NZips = 4;
  other.SzZips = 3'000'000;
  other.NIgno = 7;
  other.SzIgno = 1'024;
  other.Recent = LocalToday() - 10;
  dialog.FillFolderInfo(other);

  for (int i = 0; i < before.size(); ++i) EXPECT_NE(Text(names[i]), before[i]) << names[i];
  EXPECT_EQ(Text("labPath"), "/mnt/Photos/2019/");
  EXPECT_EQ(Text("labNFiles"), "12 files found --");
  EXPECT_EQ(Text("labSzFiles"), "size = 98,765,432,100");  // longer than the field, not cut
  EXPECT_EQ(Text("labNZips"), "4 ZIP files found --");
  EXPECT_EQ(Text("labSzZips"), "size =    3,000,000");
  EXPECT_EQ(Text("labNIgno"), "7 files ignored --");
  EXPECT_EQ(Text("labSzIgno"), "size =        1,024");
  EXPECT_EQ(Text("labRecent"), "Most recent file = 10 days ago");
  EXPECT_EQ(Text("labPercent"), "0% of files are zipped");
}

TEST_F(FrmPropTest, FixedDialogWithoutCloseBoxAndItsButtons) {
  EXPECT_EQ(dialog.windowTitle(), "Folder Info");
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());  // the user cannot resize it
  EXPECT_EQ(dialog.size(), dialog.minimumSize());
  const Qt::WindowFlags flags = dialog.windowFlags();
  EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_FALSE(dialog.isModal());

  auto* tabs = dialog.findChild<QTabWidget*>("TabbedNotebook1");
  ASSERT_NE(tabs, nullptr);
  ASSERT_EQ(tabs->count(), 2);  // the folder's own figures, then its subtree's
  EXPECT_EQ(tabs->tabText(0), "Properties");
  EXPECT_EQ(tabs->tabText(1), "Subtree");

  QPushButton* ok = Button("butOK");
  QPushButton* explore = Button("butExplore");
  ASSERT_NE(ok, nullptr);
  ASSERT_NE(explore, nullptr);
  EXPECT_EQ(ok->text(), "&OK");
  EXPECT_EQ(explore->text(), "&Explore");
  EXPECT_FALSE(ok->icon().isNull());
  EXPECT_FALSE(explore->icon().isNull());
  EXPECT_TRUE(explore->isDefault());
  EXPECT_EQ(ok->nextInFocusChain(), explore);  // OK first, then Explore

  // A path too long for the label is clipped, not wrapped or widened.
  FolderRec deep = ThreeFileFolder();
  deep.SetPath("/" + std::string(400, 'x') + "/");
  dialog.FillFolderInfo(deep);
  auto* path = dialog.findChild<QLabel*>("labPath");
  const QSize pathSize = path->size();
  EXPECT_EQ(path->text().size(), 402);
  EXPECT_FALSE(path->wordWrap());
  EXPECT_EQ(path->size(), pathSize);
  EXPECT_LE(path->width(), dialog.width());
  EXPECT_LT(path->width(), path->fontMetrics().horizontalAdvance(path->text()));
}

TEST_F(FrmPropTest, SavingLineShowsUnderThePriorityAndGoesWithItsSpace) {
  auto* saving = dialog.findChild<QLabel*>("labSaving");
  ASSERT_NE(saving, nullptr);
  dialog.show();
  EXPECT_FALSE(saving->isVisible());  // the estimate off: the dialog as it always was
  const QSize plain = dialog.size();
  auto* tabs = dialog.findChild<QTabWidget*>("TabbedNotebook1");
  // OK keeps to the bottom of the dialog, under the pages, whatever its height.
  auto okAtTheBottom = [&] {
    const QRect ok(Button("butOK")->mapTo(&dialog, QPoint(0, 0)), Button("butOK")->size());
    EXPECT_GT(ok.top(), tabs->geometry().bottom());
    EXPECT_LE(ok.bottom(), dialog.height() - 1);
    EXPECT_GE(ok.bottom(), dialog.height() - 16);
  };
  okAtTheBottom();

  dialog.SetSavingText("Zipping would free about 184,320,000 bytes (30% \u00b1 3%)");
  EXPECT_TRUE(saving->isVisible());
  EXPECT_EQ(saving->text(), "Zipping would free about 184,320,000 bytes (30% \u00b1 3%)");
  // At least 16 pixels taller; more where the style's tabs take more of the page.
  EXPECT_EQ(dialog.width(), plain.width());
  EXPECT_GE(dialog.height(), plain.height() + 16);
  auto* page = dialog.findChild<QWidget*>("Properties");
  const QRect line = saving->geometry();
  EXPECT_GT(line.top(), dialog.findChild<QLabel*>("labPriority")->geometry().bottom());
  EXPECT_LE(line.bottom(), page->height()) << "the line must not be cut off by the page";
  EXPECT_GE(saving->width(), saving->fontMetrics().horizontalAdvance(saving->text()));
  okAtTheBottom();

  // A sentence wider than the dialog wraps onto a second line and the dialog grows by it.
  const int oneLine = dialog.height();
  const QString wide = "Zipping would free about 387,817 bytes (78%, between 19% and 100%)";
  dialog.SetSavingText(wide);
  EXPECT_GT(saving->fontMetrics().horizontalAdvance(wide), saving->width());
  EXPECT_GE(saving->height(), 2 * saving->fontMetrics().height());
  EXPECT_GE(dialog.height(), oneLine + saving->fontMetrics().height());
  EXPECT_LE(saving->geometry().bottom(), page->height()) << "the second line must not be cut off";
  okAtTheBottom();
  dialog.SetSavingText("Zipping would free about 184,320,000 bytes (30% \u00b1 3%)");
  EXPECT_EQ(dialog.height(), oneLine);  // one line again

  // A new fill keeps the line until it is set again.
  dialog.FillFolderInfo(ThreeFileFolder());
  EXPECT_TRUE(saving->isVisible());
  dialog.SetSavingText("Not estimated yet");
  EXPECT_EQ(saving->text(), "Not estimated yet");
  dialog.SetSavingText(QString());
  EXPECT_FALSE(saving->isVisible());
  EXPECT_EQ(dialog.size(), plain);
  okAtTheBottom();
  dialog.hide();
}

TEST_F(FrmPropTest, OkHidesAndExploreOpensTheRecordedPath) {
  testing::ScriptedInteraction script;
  dialog.FillFolderInfo(ThreeFileFolder());
  dialog.show();
  ASSERT_TRUE(dialog.isVisible());

  QTest::mouseClick(Button("butExplore"), Qt::LeftButton);
  EXPECT_EQ(script.openedFolders, QStringList{"/home/Ann/Data/Old Stuff/"});  // its own case
  EXPECT_TRUE(dialog.isVisible());

  QTest::mouseClick(Button("butOK"), Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(Text("labPath"), "/home/Ann/Data/Old Stuff/");  // kept for the next showing
}

}  // namespace
}  // namespace orbelan
