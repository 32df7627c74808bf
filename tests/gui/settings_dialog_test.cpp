// The settings dialog: each page's Add / Edit / Delete with scripted answers, OK and Cancel,
// the minimum-size field's rules and the capacity of the lists.

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QFile>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "dialogs/frm_lists.h"
#include "settings/settings.h"
#include "scan/scan_rules.h"
#include "tests/gui/scripted_interaction.h"

namespace orbelan {
namespace {

using ::testing::ElementsAre;
using Strings = std::vector<std::string>;

void Fill(EntryList& list, const Strings& entries) {
  list.Clear();
  for (const auto& e : entries) list.Append(e);
}

Strings Entries(const EntryList& list) {
  return Strings(list.Items.begin(), list.Items.begin() + list.Count);
}

class SettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    settings.FileName = (dir.path() + "/orbelan.dat").toStdString();
    settings.SetDefaults();
    Fill(settings.ZipExts, {".zip", ".arj"});
    Fill(settings.IgnorePaths, {"/usr/", "/proc/"});
  }

  QListWidget* List(const char* name) { return dialog.findChild<QListWidget*>(name); }
  void Click(const char* name) {
    auto* button = dialog.findChild<QPushButton*>(name);
    ASSERT_NE(button, nullptr) << name;
    button->click();
  }
  QStringList Shown(const char* name) {
    QStringList out;
    auto* list = List(name);
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
  }
  void Select(const char* name, const QString& text) {
    auto* list = List(name);
    auto found = list->findItems(text, Qt::MatchExactly);
    ASSERT_FALSE(found.isEmpty()) << text.toStdString();
    list->setCurrentItem(found.front());
  }
  QSpinBox* Spin() { return dialog.findChild<QSpinBox*>("spinSize"); }
  // Types text into the size field and moves the focus away, as a user would.
  void TypeSize(const QString& text) {
    Spin()->selectAll();
    QKeyEvent erase(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QApplication::sendEvent(Spin(), &erase);
    for (QChar c : text) {
      QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
      QApplication::sendEvent(Spin(), &key);
    }
    EXPECT_EQ(Spin()->findChild<QLineEdit*>()->text(), text) << "typing was refused";
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(Spin(), &out);
  }

  QTemporaryDir dir;
  testing::ScriptedInteraction script;
  Settings settings;
  TfrmLists dialog{settings};
};

TEST_F(SettingsDialogTest, ShowingFillsSortedListsSizeAndFirstPage) {
  Fill(settings.ZipExts, {".zip", "b", ".Arj", ".7z", ".ARJ"});
  Fill(settings.Favorites, {"/srv/b/", "/Home/", "/alpha/"});
  settings.MinSize = 300;
  dialog.ShowSettings();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_FALSE(dialog.isModal());
  EXPECT_EQ(dialog.windowTitle(), "Preferences");  // as the menu item and the button name it
  // Every tab's caption shows whole, and every control of the page shown lies inside the
  // dialog, wider where the style's tabs need more room.
  auto* pages = dialog.findChild<QTabWidget*>();
  ASSERT_NE(pages, nullptr);
  for (int i = 0; i < pages->count(); ++i)
    EXPECT_GE(pages->tabBar()->tabRect(i).width(), pages->tabBar()->fontMetrics().horizontalAdvance(pages->tabText(i)))
        << pages->tabText(i).toStdString();
  EXPECT_LE(pages->tabBar()->tabRect(pages->count() - 1).right(), pages->width());
  for (QWidget* control : pages->currentWidget()->findChildren<QWidget*>()) {
    if (!control->isVisible()) continue;
    EXPECT_TRUE(dialog.rect().contains(QRect(control->mapTo(&dialog, QPoint(0, 0)), control->size())))
        << control->objectName().toStdString();
  }
  // Equal but for case: the raw bytes decide, so the order never varies.
  EXPECT_THAT(Shown("lstZips"), ElementsAre(".7z", ".ARJ", ".Arj", ".zip", "b"));
  EXPECT_THAT(Shown("lstPaths"), ElementsAre("/proc/", "/usr/"));
  EXPECT_THAT(Shown("lstFav"), ElementsAre("/alpha/", "/Home/", "/srv/b/"));
  EXPECT_TRUE(Shown("lstFiles").isEmpty());
  EXPECT_EQ(Spin()->value(), 300);

  auto* tabs = dialog.findChild<QTabWidget*>("tab1");
  ASSERT_EQ(tabs->count(), 4);
  EXPECT_LE(tabs->tabBar()->sizeHint().width(), dialog.width());
  EXPECT_EQ(tabs->tabText(0), "Zip extensions");
  EXPECT_EQ(tabs->tabText(1), "Paths to ignore");
  EXPECT_EQ(tabs->tabText(2), "Files types to ignore");
  EXPECT_EQ(tabs->tabText(3), "Favorites");
  // Every caption in full view, without scroll arrows.
  EXPECT_LE(tabs->tabBar()->tabRect(3).right(), tabs->width());
  EXPECT_EQ(tabs->tabBar()->width(), tabs->tabBar()->sizeHint().width());
  tabs->setCurrentIndex(3);
  Click("butCancel");
  dialog.ShowSettings();
  EXPECT_EQ(tabs->currentIndex(), 0);
}

TEST_F(SettingsDialogTest, EstimateCheckBoxShowsTheSettingAndOnlyOkWritesIt) {
  auto* check = dialog.findChild<QCheckBox*>("chkEstimate");
  ASSERT_NE(check, nullptr);
  settings.EstimateSavings = false;
  dialog.ShowSettings();
  EXPECT_FALSE(check->isChecked());
  check->setChecked(true);
  Click("butCancel");
  EXPECT_FALSE(settings.EstimateSavings);

  dialog.ShowSettings();
  EXPECT_FALSE(check->isChecked());  // the cancelled tick is gone
  check->click();
  Click("butOK");
  EXPECT_TRUE(settings.EstimateSavings);
  dialog.ShowSettings();
  check->click();
  Click("butOK");
  EXPECT_FALSE(settings.EstimateSavings);
}

TEST_F(SettingsDialogTest, AddOnExtensionPagesPutsADotInFrontAndLowerCases) {
  dialog.ShowSettings();
  script.inputs = {QString("zip"), QString(".zip"), QString("ZIP"), QString("7z")};
  for (int i = 0; i < 4; ++i) Click("butAddZip");
  EXPECT_THAT(Shown("lstZips"), ElementsAre(".7z", ".arj", ".zip", ".zip", ".zip", ".zip"));
  ASSERT_EQ(script.shown.size(), 4u);
  EXPECT_EQ(script.shown[0].caption, "Add zip extension");
  EXPECT_EQ(script.shown[0].text, "Enter new zip extension here:");
  EXPECT_EQ(script.lastInputStart, "");

  script.inputs = {QString("bak"), QString(".TMP")};
  Click("butAddFiles");
  EXPECT_EQ(script.shown.back().caption, "Ignore file extension");
  EXPECT_EQ(script.shown.back().text, "Enter new file extension to ignore:");
  Click("butAddFiles");
  EXPECT_THAT(Shown("lstFiles"), ElementsAre(".bak", ".tmp"));

  Click("butOK");
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_THAT(Entries(settings.ZipExts), ElementsAre(".7z", ".arj", ".zip", ".zip", ".zip", ".zip"));
  EXPECT_THAT(Entries(settings.IgnoreExts), ElementsAre(".bak", ".tmp"));
}

TEST_F(SettingsDialogTest, EmptyOrCancelledAnswersOnExtensionPagesAddNothing) {
  dialog.ShowSettings();
  script.inputs = {QString(""), std::nullopt};
  Click("butAddZip");
  Click("butAddZip");
  script.inputs = {QString("")};
  Click("butAddFiles");
  EXPECT_THAT(Shown("lstZips"), ElementsAre(".arj", ".zip"));
  EXPECT_TRUE(Shown("lstFiles").isEmpty());
}

TEST_F(SettingsDialogTest, AddedPathIsLowerCasedGetsItsSlashAndNamesAFolderOrIsAskedFor) {
  ASSERT_TRUE(QDir(dir.path()).mkpath("Music"));
  const QString music = dir.path() + "/Music";
  dialog.ShowSettings();
  // An existing folder without its "/"; a path naming nothing, kept after Yes, dropped
  // after No; an empty answer adds nothing.
  script.inputs = {music, QString("/No/Such/Place"), QString("/no/other"), QString("")};
  script.yesNo = {true, false};
  for (int i = 0; i < 4; ++i) Click("butAddPaths");
  EXPECT_EQ(script.shown[0].caption, "Ignore path");
  EXPECT_EQ(script.shown[0].text, "Enter new path to ignore:");
  EXPECT_THAT(script.Texts("question"),
              ElementsAre("There is no folder \"/No/Such/Place/\". Keep it in the list anyway?",
                          "There is no folder \"/no/other/\". Keep it in the list anyway?"));
  const std::string musicEntry = LowerAscii(music.toStdString()) + "/";
  const QStringList shown = Shown("lstPaths");
  EXPECT_THAT(shown, ::testing::UnorderedElementsAre("/no/such/place/", "/proc/", "/usr/",
                                                     QString::fromStdString(musicEntry)));
  QStringList sorted = shown;
  std::sort(sorted.begin(), sorted.end(),
            [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
  EXPECT_EQ(shown, sorted);
  Click("butOK");
  EXPECT_THAT(Entries(settings.IgnorePaths),
              ::testing::UnorderedElementsAre("/no/such/place/", "/proc/", "/usr/", musicEntry));
}

TEST_F(SettingsDialogTest, BrowseOnThePathsPagePicksAFolderToIgnore) {
  dialog.ShowSettings();
  script.folders = {QString("/home/Ann/Mixed Case"), std::nullopt};
  Click("butBrowsePaths");
  Click("butBrowsePaths");  // cancelled
  EXPECT_THAT(script.Texts("picker"), ElementsAre("Choose a Folder to Ignore", "Choose a Folder to Ignore"));
  EXPECT_THAT(Shown("lstPaths"), ElementsAre("/home/ann/mixed case/", "/proc/", "/usr/"));
  EXPECT_TRUE(script.Texts("question").isEmpty());
}

TEST_F(SettingsDialogTest, EditKeepsPlaceAndTakesTheAnswerExactly) {
  Fill(settings.ZipExts, {".arj", ".zip", ".lzh"});
  dialog.ShowSettings();
  Select("lstZips", ".lzh");  // middle row
  script.inputs = {QString("rar")};
  Click("butEditZips");
  EXPECT_EQ(script.shown.back().caption, "Edit a zip extension");
  EXPECT_EQ(script.shown.back().text, "Enter (or edit) the name of this zip extension.");
  EXPECT_EQ(script.lastInputStart, ".lzh");
  EXPECT_THAT(Shown("lstZips"), ElementsAre(".arj", "rar", ".zip"));
  // Extensions are lower-cased, without a dot put in front.
  Select("lstZips", ".zip");
  script.inputs = {QString("GZ")};
  Click("butEditZips");
  EXPECT_THAT(Shown("lstZips"), ElementsAre(".arj", "rar", "gz"));

  // A path edited gets its "/" and is compared in lower case, as an added one.
  ASSERT_TRUE(QDir(dir.path()).mkpath("Opt"));
  const QString opt = dir.path() + "/Opt";
  Select("lstPaths", "/usr/");
  script.inputs = {opt};
  Click("butEditPaths");
  EXPECT_EQ(script.shown.back().caption, "Edit a path to ignore");
  const QString optEntry = QString::fromStdString(LowerAscii(opt.toStdString()) + "/");
  EXPECT_THAT(Shown("lstPaths"), ElementsAre("/proc/", optEntry));
  EXPECT_TRUE(script.Texts("question").isEmpty());

  Click("butOK");
  EXPECT_THAT(Entries(settings.ZipExts), ElementsAre(".arj", "rar", "gz"));
  EXPECT_THAT(Entries(settings.IgnorePaths), ElementsAre("/proc/", optEntry.toStdString()));
}

TEST_F(SettingsDialogTest, EditCancelledOrWithoutSelectionChangesNothing) {
  Fill(settings.IgnoreExts, {".tmp"});
  Fill(settings.Favorites, {"/a/"});
  dialog.ShowSettings();
  for (const char* button : {"butEditZips", "butEditPaths", "butEditFiles", "butEdit"}) Click(button);
  EXPECT_THAT(script.Texts("message"),
              ElementsAre("You need to select an item before you can Edit it.",
                          "You need to select an item before you can Edit it.",
                          "You need to select an item before you can Edit it.",
                          "You need to select an item before you can Edit it."));
  EXPECT_EQ(script.shown.back().caption, "orbelan");
  EXPECT_TRUE(script.Texts("input").isEmpty());

  Select("lstFav", "/a/");
  Click("butEdit");  // no answer queued: Cancel
  EXPECT_EQ(script.shown.back().caption, "Edit a folder");
  EXPECT_EQ(script.shown.back().text, "Enter (or edit) the name of this Favorite folder.");
  EXPECT_THAT(Shown("lstFav"), ElementsAre("/a/"));
  Select("lstFiles", ".tmp");
  Click("butEditFiles");
  EXPECT_EQ(script.shown.back().caption, "Edit a file type");
  EXPECT_EQ(script.shown.back().text, "Enter (or edit) the name of this file type to ignore.");
  script.inputs = {QString(".BAK")};
  Click("butEditFiles");
  EXPECT_THAT(Shown("lstFiles"), ElementsAre(".bak"));
  // Favourites keep their case (a folder that does not exist is kept after a Yes).
  script.inputs = {QString("/Data/")};
  script.yesNo = {true};
  Click("butEdit");
  EXPECT_THAT(Shown("lstFav"), ElementsAre("/Data/"));
}

TEST_F(SettingsDialogTest, DeleteRemovesSelectionOrSaysWhyNot) {
  Fill(settings.IgnoreExts, {".tmp", ".bak"});
  Fill(settings.Favorites, {"/a/", "/b/"});
  dialog.ShowSettings();
  for (const char* button : {"butDelZip", "butDelPaths", "butDelFiles"}) Click(button);
  ASSERT_EQ(script.shown.size(), 3u);
  for (const auto& box : script.shown) {
    EXPECT_EQ(box.kind, "message");
    EXPECT_EQ(box.text, "You have not selected an item from the list.");
    EXPECT_EQ(box.caption, "Cannot delete");
  }
  Click("butDel");
  EXPECT_EQ(script.shown.back().text, "You need to select an item before you can Delete it.");
  EXPECT_EQ(script.shown.back().caption, "orbelan");

  Select("lstZips", ".zip");
  Click("butDelZip");
  Select("lstFiles", ".bak");
  Click("butDelFiles");
  Select("lstFav", "/b/");
  Click("butDel");
  EXPECT_EQ(script.shown.size(), 4u);  // no question, no message
  EXPECT_THAT(Shown("lstZips"), ElementsAre(".arj"));
  EXPECT_THAT(Shown("lstFiles"), ElementsAre(".tmp"));
  EXPECT_THAT(Shown("lstFav"), ElementsAre("/a/"));

  // After a Delete nothing is selected: a second Delete says so instead of taking the
  // entry that moved up.
  Select("lstPaths", "/proc/");
  Click("butDelPaths");
  EXPECT_THAT(Shown("lstPaths"), ElementsAre("/usr/"));
  EXPECT_TRUE(List("lstPaths")->selectedItems().isEmpty());
  Click("butDelPaths");
  EXPECT_THAT(Shown("lstPaths"), ElementsAre("/usr/"));
  EXPECT_EQ(script.shown.back().text, "You have not selected an item from the list.");
  Click("butDelFiles");
  Click("butDel");
  EXPECT_THAT(Shown("lstFiles"), ElementsAre(".tmp"));
  EXPECT_THAT(Shown("lstFav"), ElementsAre("/a/"));
  EXPECT_EQ(script.Texts("message").size(), 7);
}

TEST_F(SettingsDialogTest, FavoritesAddPicksAFolderInItsRealCase) {
  dialog.ShowSettings();
  script.folders = {QString("/home/User/Mixed Case"), QString("/Data/"), std::nullopt};
  Click("butAdd");
  Click("butAdd");
  Click("butAdd");
  EXPECT_THAT(script.Texts("picker"), ElementsAre("Add a Folder to List", "Add a Folder to List",
                                                  "Add a Folder to List"));
  EXPECT_THAT(Shown("lstFav"), ElementsAre("/Data/", "/home/User/Mixed Case/"));
  Click("butOK");
  EXPECT_THAT(Entries(settings.Favorites), ElementsAre("/Data/", "/home/User/Mixed Case/"));
}

TEST_F(SettingsDialogTest, OkCopiesIntoMemoryButNeverWritesTheFile) {
  settings.MinSize = 5;
  dialog.ShowSettings();
  script.inputs = {QString("cab")};
  Click("butAddZip");
  TypeSize("700");
  Click("butOK");
  EXPECT_THAT(Entries(settings.ZipExts), ElementsAre(".arj", ".cab", ".zip"));
  EXPECT_EQ(settings.MinSize, 700);
  EXPECT_FALSE(QFile::exists(dir.path() + "/orbelan.dat"));

  // An existing file keeps its old contents too.
  settings.SaveSettings();
  QFile file(dir.path() + "/orbelan.dat");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray before = file.readAll();
  file.close();
  dialog.ShowSettings();
  Select("lstZips", ".cab");
  Click("butDelZip");
  Click("butOK");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), before);
}

TEST_F(SettingsDialogTest, CancelAndEscapeDropEveryChange) {
  Fill(settings.Favorites, {"/a/"});
  settings.MinSize = 100;
  dialog.ShowSettings();
  script.inputs = {QString("cab"), QString("/tmp/")};
  script.folders = {QString("/b/")};
  Click("butAddZip");
  Click("butAddPaths");
  Click("butAdd");
  Select("lstFav", "/a/");
  Click("butDel");
  TypeSize("900");
  Click("butCancel");
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_THAT(Entries(settings.ZipExts), ElementsAre(".zip", ".arj"));
  EXPECT_THAT(Entries(settings.Favorites), ElementsAre("/a/"));
  EXPECT_EQ(settings.MinSize, 100);

  dialog.ShowSettings();
  EXPECT_THAT(Shown("lstZips"), ElementsAre(".arj", ".zip"));
  EXPECT_THAT(Shown("lstPaths"), ElementsAre("/proc/", "/usr/"));
  EXPECT_THAT(Shown("lstFav"), ElementsAre("/a/"));
  EXPECT_EQ(Spin()->value(), 100);

  script.inputs = {QString("cab")};
  Click("butAddZip");
  QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&dialog, &esc);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_THAT(Entries(settings.ZipExts), ElementsAre(".zip", ".arj"));
}

TEST_F(SettingsDialogTest, EnterActsAsOkUnlessAnotherButtonHasTheFocus) {
  dialog.ShowSettings();
  script.inputs = {QString("cab")};
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(dialog.findChild<QPushButton*>("butAddZip"), &enter);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(script.Texts("input").size(), 1);
  QApplication::sendEvent(&dialog, &enter);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_THAT(Entries(settings.ZipExts), ElementsAre(".arj", ".cab", ".zip"));
}

TEST_F(SettingsDialogTest, AskingAgainWhileOpenDoesNotRefill) {
  dialog.ShowSettings();
  script.inputs = {QString("cab")};
  Click("butAddZip");
  auto* tabs = dialog.findChild<QTabWidget*>("tab1");
  tabs->setCurrentIndex(2);
  Fill(settings.ZipExts, {".lzh"});  // e.g. changed meanwhile
  dialog.ShowSettings();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_THAT(Shown("lstZips"), ElementsAre(".arj", ".cab", ".zip"));
  EXPECT_EQ(tabs->currentIndex(), 2);
}

TEST_F(SettingsDialogTest, SizeFieldRefusesWhatIsNotANumberInRangeWithAMessage) {
  dialog.ShowSettings();
  auto* spin = Spin();
  EXPECT_EQ(spin->minimum(), 0);
  EXPECT_EQ(spin->maximum(), 10000);
  EXPECT_EQ(spin->singleStep(), 100);
  EXPECT_NE(dialog.findChildren<QLabel*>().size(), 0);
  bool unitShown = false;
  for (const QLabel* label : dialog.findChildren<QLabel*>()) unitShown |= label->text() == "KiB in size";
  EXPECT_TRUE(unitShown);

  // Numbers in range count; anything else stays as typed and OK says why it cannot be kept.
  struct Case { const char* typed; int value; };
  const Case good[] = {{"250", 250}, {" 42 ", 42}, {"10000", 10000}, {"0", 0}};
  for (const Case& c : good) {
    settings.MinSize = 600;
    dialog.ShowSettings();
    TypeSize(c.typed);
    Click("butOK");
    EXPECT_FALSE(dialog.isVisible()) << c.typed;
    EXPECT_EQ(settings.MinSize, c.value) << '"' << c.typed << '"';
  }
  for (const char* typed : {"50000", "99999999999999999999", "-5", "abc", "12abc", ""}) {
    settings.MinSize = 600;
    script.shown.clear();
    dialog.ShowSettings();
    TypeSize(typed);
    EXPECT_EQ(spin->findChild<QLineEdit*>()->text(), typed) << "not moved quietly";
    Click("butOK");
    EXPECT_TRUE(dialog.isVisible()) << typed;
    EXPECT_EQ(settings.MinSize, 600) << typed;
    EXPECT_THAT(script.Texts("message"),
                ElementsAre(QString("The minimum size must be a whole number of KiB from 0 to 10000, "
                                    "not \"%1\".").arg(typed)));
    Click("butCancel");
  }

  // Enter in the field with a number out of range does not put the old value back either.
  dialog.ShowSettings();
  spin->findChild<QLineEdit*>()->setText("123456");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(spin, &enter);
  EXPECT_EQ(spin->findChild<QLineEdit*>()->text(), "123456");
  EXPECT_EQ(settings.MinSize, 600);
  Click("butCancel");

  spin->setValue(9950);
  spin->stepUp();
  EXPECT_EQ(spin->value(), 10000);
  spin->setValue(0);
  spin->stepUp();
  EXPECT_EQ(spin->value(), 100);
}

TEST_F(SettingsDialogTest, OkTellsWhetherTheRowsOrTheScanAreAffected) {
  auto okAfter = [&](const std::function<void()>& edit) {
    dialog.ShowSettings();
    edit();
    Click("butOK");
    return dialog.LastChanges();
  };
  TfrmLists::Changes changes = okAfter([] {});
  EXPECT_FALSE(changes.minSize);
  EXPECT_FALSE(changes.scanLists);
  changes = okAfter([&] { Spin()->setValue(700); });
  EXPECT_TRUE(changes.minSize);
  EXPECT_FALSE(changes.scanLists);
  script.folders = {QString("/fav/")};
  changes = okAfter([&] { Click("butAdd"); });  // a favourite changes no figure
  EXPECT_FALSE(changes.minSize);
  EXPECT_FALSE(changes.scanLists);
  for (const char* page : {"butAddZip", "butAddFiles"}) {
    script.inputs = {QString(".new")};
    changes = okAfter([&] { Click(page); });
    EXPECT_TRUE(changes.scanLists) << page;
  }
  changes = okAfter([&] {
    Select("lstPaths", "/usr/");
    Click("butDelPaths");
  });
  EXPECT_TRUE(changes.scanLists);
}

TEST_F(SettingsDialogTest, OkWithMoreThanFiftyEntriesKeepsTheDialogOpenAndSaysWhich) {
  Strings fifty;
  for (int i = 0; i < kListCapacity; ++i) fifty.push_back("/p" + std::to_string(100 + i) + "/");
  Fill(settings.IgnorePaths, fifty);
  dialog.ShowSettings();
  script.inputs = {QString("/zz/"), QString("cab")};
  script.yesNo = {true};  // "/zz/" names no folder: kept anyway
  Click("butAddPaths");
  Click("butAddZip");
  Click("butOK");
  EXPECT_TRUE(dialog.isVisible());
  ASSERT_EQ(script.Texts("message").size(), 1);
  EXPECT_EQ(script.Texts("message").front(),
            "The list \"Paths to ignore\" holds 51 entries, but the settings keep at most 50. "
            "Delete 1 of them, then choose OK again.");
  EXPECT_EQ(dialog.findChild<QTabWidget*>("tab1")->currentIndex(), 1);
  // Nothing at all was copied.
  EXPECT_EQ(Entries(settings.IgnorePaths), fifty);
  EXPECT_THAT(Entries(settings.ZipExts), ElementsAre(".zip", ".arj"));

  Select("lstPaths", "/p100/");
  Click("butDelPaths");
  Click("butOK");
  EXPECT_FALSE(dialog.isVisible());
  ASSERT_EQ(settings.IgnorePaths.Count, kListCapacity);
  EXPECT_EQ(settings.IgnorePaths[0], "/p101/");
  EXPECT_EQ(settings.IgnorePaths[kListCapacity - 1], "/zz/");
  EXPECT_THAT(Entries(settings.ZipExts), ElementsAre(".arj", ".cab", ".zip"));
}

TEST_F(SettingsDialogTest, EntriesWithLineBreaksAreRefused) {
  Fill(settings.Favorites, {"/a/"});
  dialog.ShowSettings();
  script.inputs = {QString("zip\nrar"), QString("/tmp/\r/x")};
  Click("butAddZip");
  Click("butAddPaths");
  script.folders = {QString("/odd\nname/")};
  Click("butAdd");
  Select("lstFav", "/a/");
  script.inputs = {QString("/a/\n[MAIN]")};
  Click("butEdit");
  EXPECT_THAT(script.Texts("message"),
              ElementsAre("An entry cannot hold a line break.", "An entry cannot hold a line break.",
                          "An entry cannot hold a line break.", "An entry cannot hold a line break."));
  EXPECT_THAT(Shown("lstZips"), ElementsAre(".arj", ".zip"));
  EXPECT_THAT(Shown("lstPaths"), ElementsAre("/proc/", "/usr/"));
  EXPECT_THAT(Shown("lstFav"), ElementsAre("/a/"));
}

TEST_F(SettingsDialogTest, EntriesRoundTripThroughTheDialogAndTheSettingsFile) {
  const std::string latin1 = "/data/caf\xe9/";  // not UTF-8
  Fill(settings.Favorites, {latin1, "/Daten/Gr\xc3\xbc\xc3\x9f" "e/"});
  dialog.ShowSettings();
  // An edit that changes nothing keeps bytes the edit box cannot show.
  Select("lstFav", QString::fromStdString(latin1));
  script.inputs = {QString::fromStdString(latin1)};
  Click("butEdit");
  script.inputs = {QString("a=b"), QString("[MAIN]"), QString(";c"), QString("x\"y'z"),
                   QString::fromUtf8("\xc3\xa9t\xc3\xa9")};
  for (int i = 0; i < 5; ++i) Click("butAddFiles");
  Click("butOK");

  settings.SaveSettings();
  Settings loaded;
  loaded.FileName = settings.FileName;
  loaded.LoadSettings();
  EXPECT_THAT(Entries(loaded.Favorites), ElementsAre(latin1, "/Daten/Gr\xc3\xbc\xc3\x9f" "e/"));
  EXPECT_THAT(Entries(loaded.IgnoreExts),
              ElementsAre(".;c", ".[main]", ".a=b", ".x\"y'z", ".\xc3\xa9t\xc3\xa9"));
  EXPECT_THAT(Entries(loaded.ZipExts), ElementsAre(".arj", ".zip"));
}

}  // namespace
}  // namespace orbelan
