// The favourites chooser: what Choose returns for each way of leaving it.

#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialogs/frm_fav.h"
#include "settings/settings.h"
#include "tests/gui/scripted_interaction.h"

namespace orbelan {
namespace {

using ::testing::ElementsAre;

class FavoritesChooserTest : public ::testing::Test {
 protected:
  void SetFavorites(const std::vector<std::string>& entries) {
    settings.Favorites.Clear();
    for (const auto& e : entries) settings.Favorites.Append(e);
  }
  static QListWidget* List(QDialog* d) { return d->findChild<QListWidget*>("list1"); }
  static void Click(QDialog* d, const char* name) { d->findChild<QPushButton*>(name)->click(); }
  static QStringList Shown(QDialog* d) {
    QStringList out;
    for (int i = 0; i < List(d)->count(); ++i) out << List(d)->item(i)->text();
    return out;
  }
  // Answers the chooser by selecting row (or nothing when row < 0) and clicking Scan.
  void ScanRow(int row) {
    script.onModal = [row, this](QDialog* d) {
      shownWhileOpen = Shown(d);
      if (row >= 0) List(d)->setCurrentRow(row);
      Click(d, "butScan");
      return d->result();
    };
  }

  testing::ScriptedInteraction script;
  Settings settings;
  TfrmFav chooser;
  QStringList shownWhileOpen;
};

TEST_F(FavoritesChooserTest, ScanReturnsTheSelectedFavoriteExactlyAsStored) {
  const std::string latin1 = "/srv/Caf\xe9/";  // not UTF-8
  SetFavorites({"/home/Me/Mixed Case/", "", latin1, "/Archive/"});
  ScanRow(2);
  EXPECT_EQ(chooser.Choose(settings), std::optional<std::string>("/home/Me/Mixed Case/"));
  EXPECT_THAT(shownWhileOpen, ElementsAre("", "/Archive/", "/home/Me/Mixed Case/",
                                          QString::fromStdString(latin1)));
  ASSERT_EQ(script.Texts("modal").size(), 1);
  EXPECT_EQ(script.Texts("modal").front(), "Scan Favorite Folder");

  ScanRow(3);
  EXPECT_EQ(chooser.Choose(settings), std::optional<std::string>(latin1));
  ScanRow(0);
  EXPECT_EQ(chooser.Choose(settings), std::optional<std::string>(""));
}

TEST_F(FavoritesChooserTest, TheFirstFavoriteIsChosenAlreadySoScanOrEnterScansIt) {
  SetFavorites({"/srv/b/", "/Home/Only/"});
  script.onModal = [](QDialog* d) {
    EXPECT_EQ(List(d)->currentRow(), 0);
    EXPECT_TRUE(List(d)->currentItem()->isSelected());
    Click(d, "butScan");
    return d->result();
  };
  EXPECT_EQ(chooser.Choose(settings), std::optional<std::string>("/Home/Only/"));
  // Enter in the list presses the default button, Scan.
  script.onModal = [](QDialog* d) {
    d->show();  // a dialog presses its default button only while it is shown
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(List(d), &enter);
    return d->result();
  };
  EXPECT_EQ(chooser.Choose(settings), std::optional<std::string>("/Home/Only/"));
  EXPECT_TRUE(script.Texts("message").isEmpty());
}

TEST_F(FavoritesChooserTest, ScanWithoutSelectionSaysSoAndStaysOpen) {
  SetFavorites({});  // nothing to choose: only now can Scan find no selection
  bool closed = false;
  QObject::connect(&chooser, &QDialog::finished, [&] { closed = true; });
  script.onModal = [&](QDialog* d) {
    Click(d, "butScan");
    EXPECT_FALSE(closed);
    Click(d, "butCancel");
    return d->result();
  };
  EXPECT_EQ(chooser.Choose(settings), std::nullopt);
  EXPECT_TRUE(closed);
  ASSERT_EQ(script.Texts("message").size(), 1);
  EXPECT_EQ(script.Texts("message").front(), "You need to select an item before you can Scan it.");
  EXPECT_EQ(script.shown.back().caption, "orbelan");
}

TEST_F(FavoritesChooserTest, CancelOrCloseBoxReturnNothingEvenAfterAnEarlierScan) {
  SetFavorites({"/a/", "/b/"});
  ScanRow(1);
  ASSERT_EQ(chooser.Choose(settings), std::optional<std::string>("/b/"));

  script.onModal = [](QDialog* d) {
    d->show();
    d->close();  // the close box
    return d->result();
  };
  EXPECT_EQ(chooser.Choose(settings), std::nullopt);
  script.onModal = [](QDialog* d) {
    List(d)->setCurrentRow(0);
    Click(d, "butCancel");
    return d->result();
  };
  EXPECT_EQ(chooser.Choose(settings), std::nullopt);
}

TEST_F(FavoritesChooserTest, EveryShowingRefillsFromTheFavorites) {
  SetFavorites({"/b/", "/A/"});
  script.onModal = [this](QDialog* d) {
    shownWhileOpen = Shown(d);
    return int(QDialog::Rejected);
  };
  chooser.Choose(settings);
  EXPECT_THAT(shownWhileOpen, ElementsAre("/A/", "/b/"));
  SetFavorites({});
  chooser.Choose(settings);
  EXPECT_TRUE(shownWhileOpen.isEmpty());
}

}  // namespace
}  // namespace orbelan
