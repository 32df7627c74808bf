// "ignore this path" and "add to favorites": what is appended, that it is saved at once,
// and what the user is told when it cannot be.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/list_actions.h"
#include "platform/system_paths.h"
#include "settings/settings.h"
#include "scan/folder_list.h"
#include "tests/gui/scripted_interaction.h"

namespace orbelan {
namespace {

using ::testing::ElementsAre;
using Strings = std::vector<std::string>;

Strings Entries(const EntryList& list) {
  return Strings(list.Items.begin(), list.Items.begin() + list.Count);
}

// The default ignored paths followed by added.
Strings With(const Strings& added) {
  Strings all = DefaultIgnoredPaths();
  all.insert(all.end(), added.begin(), added.end());
  return all;
}

class ListActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    settings.FileName = (dir.path() + "/orbelan.dat").toStdString();
    settings.SetDefaults();
  }
  // The settings as the file holds them now.
  Settings Reloaded() const {
    Settings loaded;
    loaded.FileName = settings.FileName;
    loaded.LoadSettings();
    return loaded;
  }
  static FolderRec Rec(std::string path) {
    FolderRec rec;
    rec.SetPath(std::move(path));
    return rec;
  }

  QTemporaryDir dir;
  testing::ScriptedInteraction script;
  Settings settings;
};

TEST_F(ListActionsTest, NoSelectionDoesNothing) {
  mnuIgnorePathClick(nullptr, settings, nullptr);
  mnuAddFavorClick(nullptr, settings, nullptr);
  EXPECT_EQ(settings.IgnorePaths.Count, DefaultIgnoredPaths().size());
  EXPECT_EQ(settings.Favorites.Count, 0);
  EXPECT_FALSE(QDir(dir.path()).exists("orbelan.dat"));
  EXPECT_TRUE(script.shown.empty());
}

TEST_F(ListActionsTest, IgnoringAppendsTheLowerCasedCaptionAndSavesAtOnce) {
  const FolderRec rec = Rec("/Home/Me/Big Folder/");
  mnuIgnorePathClick(nullptr, settings, &rec);
  mnuIgnorePathClick(nullptr, settings, &rec);  // twice: both kept
  const Strings expected = With({"/home/me/big folder/", "/home/me/big folder/"});
  EXPECT_EQ(Entries(settings.IgnorePaths), expected);
  EXPECT_EQ(Entries(Reloaded().IgnorePaths), expected);
  EXPECT_TRUE(script.shown.empty());
}

TEST_F(ListActionsTest, IgnoredCaptionIsTrimmedAndEndsInASlash) {
  const FolderRec padded = Rec(" \t/Srv/Data/\n");
  const FolderRec unended = Rec("/Srv/Other");
  mnuIgnorePathClick(nullptr, settings, &padded);
  mnuIgnorePathClick(nullptr, settings, &unended);
  EXPECT_EQ(Entries(Reloaded().IgnorePaths), With({"/srv/data/", "/srv/other/"}));
}

TEST_F(ListActionsTest, FavoriteKeepsTheRealPathAndSavesEverythingPending) {
  settings.MinSize = 700;  // e.g. from an earlier OK in the settings dialog
  const FolderRec rec = Rec("/Home/Me/Caf\xe9 Photos/");
  mnuAddFavorClick(nullptr, settings, &rec);
  mnuAddFavorClick(nullptr, settings, &rec);
  const Settings loaded = Reloaded();
  EXPECT_THAT(Entries(loaded.Favorites),
              ElementsAre("/Home/Me/Caf\xe9 Photos/", "/Home/Me/Caf\xe9 Photos/"));
  EXPECT_EQ(loaded.MinSize, 700);
  EXPECT_EQ(Entries(loaded.IgnorePaths), Entries(settings.IgnorePaths));
}

TEST_F(ListActionsTest, FullListIsReportedAndNothingIsSaved) {
  settings.IgnorePaths.Clear();
  settings.Favorites.Clear();
  for (int i = 0; i < kListCapacity; ++i) {
    settings.IgnorePaths.Append("/p" + std::to_string(i) + "/");
    settings.Favorites.Append("/f" + std::to_string(i) + "/");
  }
  const FolderRec rec = Rec("/New/");
  mnuIgnorePathClick(nullptr, settings, &rec);
  mnuAddFavorClick(nullptr, settings, &rec);
  EXPECT_EQ(settings.IgnorePaths.Count, kListCapacity);
  EXPECT_EQ(settings.IgnorePaths[kListCapacity - 1], "/p49/");
  EXPECT_EQ(settings.Favorites[kListCapacity - 1], "/f49/");
  EXPECT_THAT(script.Texts("message"),
              ElementsAre("The list of paths to ignore is full (50 entries). Delete some of them "
                          "in the settings first.",
                          "The list of favorite folders is full (50 entries). Delete some of them "
                          "in the settings first."));
  EXPECT_EQ(script.shown.back().caption, "orbelan");
  EXPECT_FALSE(QDir(dir.path()).exists("orbelan.dat"));
}

TEST_F(ListActionsTest, RefusedSaveIsReportedAndTheEntryStaysInMemory) {
  // A folder where the file should be: even root cannot write it.
  ASSERT_TRUE(QDir(dir.path()).mkdir("orbelan.dat"));
  const FolderRec rec = Rec("/Home/X/");
  mnuIgnorePathClick(nullptr, settings, &rec);
  mnuAddFavorClick(nullptr, settings, &rec);
  const QString expected = "Unable to write to " + QString::fromStdString(settings.FileName) + ".";
  EXPECT_THAT(script.Texts("error"), ElementsAre(expected, expected));
  EXPECT_EQ(Entries(settings.IgnorePaths), With({"/home/x/"}));
  EXPECT_THAT(Entries(settings.Favorites), ElementsAre("/Home/X/"));

  settings.FileName = (dir.path() + "/missing/orbelan.dat").toStdString();
  mnuAddFavorClick(nullptr, settings, &rec);
  EXPECT_EQ(script.Texts("error").back(),
            "Unable to write to " + QString::fromStdString(settings.FileName) + ".");
  EXPECT_EQ(settings.Favorites.Count, 2);
}

TEST_F(ListActionsTest, SaveKeepsWhatOthersWroteToTheFileSinceItWasLoaded) {
  // Another copy (or another part of the program) has written its own section and a key
  // of ours after this copy loaded the file: the action's save changes only our keys.
  const std::string other = "[Window]\r\nLeft=10\r\n[MAIN]\r\nminSize=5\r\nNumFav=0\r\n";
  {
    QFile file(QString::fromStdString(settings.FileName));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(other.data(), static_cast<qint64>(other.size()));
  }
  const FolderRec rec = Rec("/Srv/");
  mnuAddFavorClick(nullptr, settings, &rec);
  QFile file(QString::fromStdString(settings.FileName));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray text = file.readAll();
  EXPECT_TRUE(text.startsWith("[Window]\r\nLeft=10\r\n[MAIN]\r\nminSize=0\r\nNumFav=1\r\n"))
      << text.toStdString();
  EXPECT_THAT(Entries(Reloaded().Favorites), ElementsAre("/Srv/"));
  EXPECT_TRUE(script.shown.empty());
}

TEST_F(ListActionsTest, PathWithALineBreakIsRefusedRatherThanCut) {
  const FolderRec rec = Rec("/home/odd\nname/");
  mnuAddFavorClick(nullptr, settings, &rec);
  mnuIgnorePathClick(nullptr, settings, &rec);
  EXPECT_EQ(script.Texts("message").size(), 2);
  EXPECT_EQ(settings.Favorites.Count, 0);
  EXPECT_EQ(settings.IgnorePaths.Count, DefaultIgnoredPaths().size());
  EXPECT_FALSE(QDir(dir.path()).exists("orbelan.dat"));
}

}  // namespace
}  // namespace orbelan
