// The windows under every installed style and under dark palettes: nothing clipped, and
// the coloured texts stay readable against the background they are drawn on.

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMap>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionTab>
#include <QTabBar>
#include <QTabWidget>
#include <gtest/gtest.h>

#include "dialogs/frm_prop.h"
#include "dialogs/frm_fav.h"
#include "dialogs/frm_lists.h"
#include "settings/settings.h"
#include "scan/folder_list.h"
#include "tests/gui/dark_palette.h"
#include "tests/gui/scripted_interaction.h"
#include "ui/about_box.h"
#include "ui/readable_colour.h"

namespace orbelan {
namespace {

// The rectangle the tab bar's style draws a tab's caption in.
QRect TabTextRect(QTabBar* bar, int index) {
  struct Peek : QTabBar {
    using QTabBar::initStyleOption;
  };
  QStyleOptionTab option;
  // Called on the bar itself through a pointer to the member: no cast to a type it is not.
  void (QTabBar::*init)(QStyleOptionTab*, int) const = &Peek::initStyleOption;
  (bar->*init)(&option, index);
  return bar->style()->subElementRect(QStyle::SE_TabBarTabText, &option, bar);
}

// Sets an application style (and palette) for one test and puts the previous ones back.
class StyleScope {
 public:
  explicit StyleScope(const QString& name, const QPalette* palette = nullptr)
      : oldStyle_(QApplication::style()->name()), oldPalette_(QApplication::palette()) {
    QApplication::setStyle(name);
    if (palette) QApplication::setPalette(*palette);
  }
  ~StyleScope() {
    QApplication::setStyle(oldStyle_);
    QApplication::setPalette(oldPalette_);
  }

 private:
  QString oldStyle_;
  QPalette oldPalette_;
};

// The colour most pixels of the label's area show: the background it is drawn on.
QColor DrawnBackground(QWidget* window, QLabel* label) {
  const QImage image = window->grab().toImage();
  const QRect area(label->mapTo(window, QPoint(0, 0)), label->size());
  QMap<QRgb, int> counts;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (image.rect().contains(x, y)) ++counts[image.pixel(x, y) | 0xff000000u];
  QRgb best = 0;
  int most = -1;
  for (auto it = counts.begin(); it != counts.end(); ++it)
    if (it.value() > most) best = it.key(), most = it.value();
  return QColor(best);
}

// Whether the label draws its text in the wanted hue at a readable contrast against what
// is really behind it.
void ExpectReadable(QWidget* window, QLabel* label, const QColor& wanted) {
  ASSERT_NE(label, nullptr);
  SCOPED_TRACE(label->objectName().toStdString() + " " + label->text().toStdString());
  const QColor text = label->palette().color(QPalette::Active, QPalette::WindowText);
  const QColor background = DrawnBackground(window, label);
  EXPECT_GE(ContrastRatio(text, background), kReadableContrast)
      << text.name().toStdString() << " on " << background.name().toStdString();
  EXPECT_EQ(text.hslHue(), wanted.hslHue()) << text.name().toStdString();
  // And the pixels show it: some drawn pixel is at least nearly that far from the background.
  const QImage image = window->grab().toImage();
  const QRect area(label->mapTo(window, QPoint(0, 0)), label->size());
  double best = 1;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      best = std::max(best, ContrastRatio(QColor(image.pixel(x, y)), background));
  EXPECT_GE(best, kReadableContrast * 0.9);
}

TEST(ReadableColourTest, KeepsTheHueAndMovesLightnessOnlyAsFarAsNeeded) {
  const QColor maroon(128, 0, 0), navy(0, 0, 128);
  // Already readable on white: unchanged.
  EXPECT_EQ(ReadableOn(maroon, Qt::white), maroon);
  EXPECT_EQ(ReadableOn(navy, QColor(240, 240, 240)), navy);
  for (const QColor& background : {QColor(53, 53, 53), QColor(35, 35, 35), QColor(0, 0, 0),
                                   QColor(46, 52, 54), QColor(90, 90, 90)}) {
    for (const QColor& wanted : {maroon, navy}) {
      const QColor readable = ReadableOn(wanted, background);
      SCOPED_TRACE(readable.name().toStdString() + " on " + background.name().toStdString());
      EXPECT_GE(ContrastRatio(readable, background), kReadableContrast);
      EXPECT_NEAR(readable.hslHue(), wanted.hslHue(), 1);
      EXPECT_GT(readable.lightness(), wanted.lightness());
      // No lighter than needed: a shade darker falls short.
      const QColor darker = QColor::fromHsl(readable.hslHue(), readable.hslSaturation(),
                                            readable.lightness() - 6);
      EXPECT_LT(ContrastRatio(darker, background), kReadableContrast);
    }
  }
  // A pale text on a pale background goes darker.
  const QColor pale(255, 200, 200);
  const QColor darker = ReadableOn(pale, Qt::white);
  EXPECT_LT(darker.lightness(), pale.lightness());
  EXPECT_GE(ContrastRatio(darker, Qt::white), kReadableContrast);
  EXPECT_NEAR(ContrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
}

class DarkPaletteTest : public ::testing::TestWithParam<const char*> {};

TEST_P(DarkPaletteTest, ColouredLabelsStayReadableLightAndDark) {
  const QString style = GetParam();
  if (!QStyleFactory::keys().contains(style, Qt::CaseInsensitive)) GTEST_SKIP() << "not installed";
  const QPalette dark = testing::FusionDarkPalette();
  for (const bool useDark : {false, true}) {
    SCOPED_TRACE(useDark ? "dark" : "light");
    // Adwaita-Dark brings its own dark palette; Fusion is given one as a user's theme would.
    const QPalette light = QApplication::style()->standardPalette();
    StyleScope scope(style, useDark && style == "Fusion" ? &dark : nullptr);
    if (!useDark && style == "Fusion") QApplication::setPalette(light);
    testing::ScriptedInteraction script;

    TfrmProp prop;
    FolderRec rec;
    rec.SetPath("/home/user/Documents/");
    rec.NFiles = 3;
    rec.SzFiles = 1200000;
    prop.FillFolderInfo(rec);
    prop.show();
    QCoreApplication::processEvents();  // the colours follow what the window drew
    ExpectReadable(&prop, prop.findChild<QLabel*>("labPath"), QColor(128, 0, 0));
    ExpectReadable(&prop, prop.findChild<QLabel*>("labPriority"), QColor(0, 0, 128));

    Settings settings;
    settings.SetDefaults();
    TfrmLists lists(settings);
    lists.ShowSettings();
    auto* tabs = lists.findChild<QTabWidget*>("tab1");
    for (int page = 0; page < tabs->count(); ++page) {
      tabs->setCurrentIndex(page);
      QCoreApplication::processEvents();
      QLabel* caption = tabs->widget(page)->findChild<QLabel*>();
      ExpectReadable(&lists, caption, QColor(128, 0, 0));
    }

    TfrmFav fav;
    fav.show();
    QCoreApplication::processEvents();
    ExpectReadable(&fav, fav.findChild<QLabel*>("Label1"), QColor(128, 0, 0));

    TfrmAbout about;
    about.show();
    QCoreApplication::processEvents();
    ExpectReadable(&about, about.findChild<QLabel*>("ProductName"), Qt::black);
    ExpectReadable(&about, about.findChild<QLabel*>("labMaker"), Qt::black);
    ExpectReadable(&about, about.findChild<QLabel*>("Label1"), QColor(128, 0, 0));
  }
}

INSTANTIATE_TEST_SUITE_P(Styles, DarkPaletteTest, ::testing::Values("Fusion", "Adwaita-Dark"));

TEST(StylesTest, SettingsTabsFitUnderEveryInstalledStyle) {
  for (const QString& name : QStyleFactory::keys()) {
    SCOPED_TRACE(name.toStdString());
    StyleScope scope(name);
    Settings settings;
    settings.SetDefaults();
    TfrmLists dialog(settings);
    dialog.ShowSettings();
    auto* tabs = dialog.findChild<QTabWidget*>("tab1");
    QTabBar* bar = tabs->tabBar();
    // The bar gets all the room its tabs ask for, so no caption is shortened.
    EXPECT_LE(bar->sizeHint().width(), tabs->width());
    EXPECT_LE(tabs->width(), dialog.width());
    for (int i = 0; i < bar->count(); ++i) {
      const int text = bar->fontMetrics().horizontalAdvance(bar->tabText(i));
      EXPECT_GE(bar->tabRect(i).width(), text) << bar->tabText(i).toStdString();
      EXPECT_LE(bar->tabRect(i).right(), tabs->width());
      // Where the style really draws the caption: a tab sized by one style and drawn by
      // another (a proxy over a proxy, as qt6ct's is) cut "Zip extensions" to "ip extension".
      EXPECT_GE(TabTextRect(bar, i).width(), text) << bar->tabText(i).toStdString();
    }
    EXPECT_GE(dialog.width(), 354);
  }
}

}  // namespace
}  // namespace orbelan
