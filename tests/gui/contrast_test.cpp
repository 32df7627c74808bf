// Every text of every window against what is drawn behind it, measured on the rendered
// pixels, under Fusion light and dark, Adwaita-Dark and qt6ct's dark colour scheme.

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMap>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <functional>

#include "dialogs/frm_fav.h"
#include "dialogs/frm_lists.h"
#include "dialogs/frm_prop.h"
#include "dialogs/help_window.h"
#include "settings/settings.h"
#include "scan/folder_list.h"
#include "tests/gui/dark_palette.h"
#include "tests/gui/scripted_interaction.h"
#include "ui/about_box.h"
#include "ui/readable_colour.h"
#include "ui/splash_window.h"

namespace orbelan {
namespace {

// The contrast a reader sees in one area of a rendered image: the colour most of its pixels
// show is the background, and the pixel farthest from it is the text's own colour (the core
// of a stroke, where no smoothing mixes in the background).
double DrawnContrast(const QImage& image, const QRect& area, QColor* background = nullptr) {
  QMap<QRgb, int> counts;
  const QRect inside = area.intersected(image.rect());
  for (int y = inside.top(); y <= inside.bottom(); ++y)
    for (int x = inside.left(); x <= inside.right(); ++x) ++counts[image.pixel(x, y) | 0xff000000u];
  QRgb most = 0;
  int seen = -1;
  for (auto it = counts.begin(); it != counts.end(); ++it)
    if (it.value() > seen) most = it.key(), seen = it.value();
  double best = 1;
  for (auto it = counts.begin(); it != counts.end(); ++it)
    best = std::max(best, ContrastRatio(QColor(it.key()), QColor(most)));
  if (background) *background = QColor(most);
  return best;
}

struct Look {
  const char* name;
  const char* style;
  std::function<QPalette()> palette;  // empty: the style's own
};

// qt6ct's "darker" colour scheme as qt6ct applies it: the colours of each group by role.
QPalette Qt6ctDarker() {
  QPalette palette;
  QFile file(QStringLiteral("/usr/share/qt6ct/colors/darker.conf"));
  if (!file.open(QIODevice::ReadOnly)) return palette;
  for (const QByteArray& line : file.readAll().split('\n')) {
    const int equals = line.indexOf('=');
    if (equals < 0) continue;
    const QByteArray key = line.left(equals);
    QPalette::ColorGroup group = QPalette::Active;
    if (key == "disabled_colors") group = QPalette::Disabled;
    else if (key == "inactive_colors") group = QPalette::Inactive;
    else if (key != "active_colors") continue;
    const QList<QByteArray> colours = line.mid(equals + 1).split(',');
    for (int role = 0; role < colours.size() && role < QPalette::NColorRoles; ++role)
      palette.setColor(group, static_cast<QPalette::ColorRole>(role),
                       QColor(QString::fromLatin1(colours[role].trimmed())));
  }
  return palette;
}

class ContrastTest : public ::testing::TestWithParam<Look> {
 protected:
  void SetUp() override {
    const Look& look = GetParam();
    if (!QStyleFactory::keys().contains(QString::fromLatin1(look.style), Qt::CaseInsensitive))
      GTEST_SKIP() << look.style << " is not installed (Debian: adwaita-qt6)";
    if (std::string(look.name) == "qt6ct-darker" && !QFile::exists("/usr/share/qt6ct/colors/darker.conf"))
      GTEST_SKIP() << "qt6ct is not installed (Debian: qt6ct)";
    oldStyle_ = QApplication::style()->name();
    oldPalette_ = QApplication::palette();
    QApplication::setStyle(QString::fromLatin1(look.style));
    QApplication::setPalette(look.palette ? look.palette() : QApplication::style()->standardPalette());
  }
  void TearDown() override {
    if (oldStyle_.isEmpty()) return;
    QApplication::setStyle(oldStyle_);
    QApplication::setPalette(oldPalette_);
  }

  // Shows the window, lets its texts settle on the background they are drawn on, and checks
  // every visible label, check box, tab caption and button caption in it.
  void ExpectEveryTextReadable(QWidget* window) {
    window->show();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    const QImage image = window->grab().toImage();
    auto check = [&](const QString& what, const QRect& area) {
      QColor background;
      const double ratio = DrawnContrast(image, area, &background);
      EXPECT_GE(ratio, kReadableContrast)
          << window->objectName().toStdString() << ": \"" << what.toStdString() << "\" on "
          << background.name().toStdString();
    };
    for (QLabel* label : window->findChildren<QLabel*>()) {
      if (!label->isVisible() || label->text().trimmed().isEmpty()) continue;
      check(label->text(), QRect(label->mapTo(window, QPoint(0, 0)), label->size()));
    }
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
      if (!button->isVisible() || button->text().isEmpty()) continue;
      check(button->text(), QRect(button->mapTo(window, QPoint(0, 0)), button->size()).adjusted(3, 3, -3, -3));
    }
    for (QTabBar* bar : window->findChildren<QTabBar*>()) {
      for (int i = 0; i < bar->count(); ++i) {
        const QRect tab = bar->tabRect(i).adjusted(2, 2, -2, -2);
        check(bar->tabText(i), QRect(bar->mapTo(window, tab.topLeft()), tab.size()));
        // No caption cut short: the tab is as wide as its text needs.
        EXPECT_GE(bar->tabRect(i).width(), bar->fontMetrics().horizontalAdvance(bar->tabText(i)))
            << bar->tabText(i).toStdString();
      }
    }
  }

  QString oldStyle_;
  QPalette oldPalette_;
  testing::ScriptedInteraction script_;
};

TEST_P(ContrastTest, SplashAndAboutBox) {
  TfrmSplash splash;
  ExpectEveryTextReadable(&splash);
  TfrmAbout about;
  ExpectEveryTextReadable(&about);
}

TEST_P(ContrastTest, PreferencesChooserAndProperties) {
  Settings settings;
  settings.SetDefaults();
  settings.Favorites.Append("/home/ann/Music/");
  TfrmLists prefs(settings);
  prefs.ShowSettings();
  auto* tabs = prefs.findChild<QTabWidget*>("tab1");
  for (int page = 0; page < tabs->count(); ++page) {
    tabs->setCurrentIndex(page);
    ExpectEveryTextReadable(&prefs);
  }
  TfrmFav chooser;
  ExpectEveryTextReadable(&chooser);
  TfrmProp properties;
  FolderRec rec("/home/ann/Music/");
  rec.NFiles = 3;
  rec.SzFiles = 1200000;
  properties.FillFolderInfo(rec);
  ExpectEveryTextReadable(&properties);
}

TEST_P(ContrastTest, HelpHeadingsAndTableHeadings) {
  QWidget* viewer = ShowHelpFile(nullptr, QStringLiteral(ORBELAN_SOURCE_DIR "/resources/orbelan.hlp"));
  ASSERT_NE(viewer, nullptr);
  auto* browser = viewer->findChild<QTextBrowser*>("helpBrowser");
  QCoreApplication::processEvents();
  const QImage page = browser->viewport()->grab().toImage();
  // Each heading and each table heading in view, by where the document laid it out.
  int checked = 0;
  QTextDocument* document = browser->document();
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    const int level = block.blockFormat().headingLevel();
    const bool tableHead = block.charFormat().fontWeight() >= QFont::Bold && block.text().size() < 20 &&
                           (block.text() == "Page" || block.text() == "Key" || block.text() == "Column");
    if (level == 0 && !tableHead) continue;
    QRectF area = document->documentLayout()->blockBoundingRect(block);
    area.translate(-browser->horizontalScrollBar()->value(), -browser->verticalScrollBar()->value());
    const QRect shown = area.toRect().intersected(page.rect());
    if (shown.height() < area.height() || shown.isEmpty()) continue;  // out of view
    QColor background;
    EXPECT_GE(DrawnContrast(page, shown, &background), kReadableContrast)
        << block.text().toStdString() << " on " << background.name().toStdString();
    ++checked;
  }
  EXPECT_GE(checked, 1);

  // Every link in view, where the viewer shows its text (one on a single line is enough to
  // judge; one that wraps is passed over).
  int links = 0;
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.isValid() || !fragment.charFormat().isAnchor() || fragment.text().trimmed().isEmpty()) continue;
      QTextCursor cursor(document);
      cursor.setPosition(fragment.position());
      const QRect start = browser->cursorRect(cursor);
      cursor.setPosition(fragment.position() + fragment.length());
      const QRect end = browser->cursorRect(cursor);
      if (start.top() != end.top() || end.left() <= start.left()) continue;
      const QRect area(start.left(), start.top(), end.left() - start.left(), start.height());
      const QRect shown = area.intersected(page.rect());
      if (shown != area) continue;  // out of view
      QColor background;
      EXPECT_GE(DrawnContrast(page, shown, &background), kReadableContrast)
          << "link " << fragment.text().toStdString() << " on " << background.name().toStdString();
      ++links;
    }
  }
  EXPECT_GE(links, 3);
  viewer->close();
  delete viewer;
}

INSTANTIATE_TEST_SUITE_P(Looks, ContrastTest,
                         ::testing::Values(Look{"fusion-light", "Fusion", {}},
                                           Look{"fusion-dark", "Fusion", testing::FusionDarkPalette},
                                           Look{"adwaita-dark", "Adwaita-Dark", {}},
                                           Look{"qt6ct-darker", "Fusion", Qt6ctDarker}),
                         [](const ::testing::TestParamInfo<Look>& info) {
                           std::string name = info.param.name;
                           for (char& c : name) if (c == '-') c = '_';
                           return name;
                         });

}  // namespace
}  // namespace orbelan
