#include "ui/pictures.h"

#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QSet>
#include <gtest/gtest.h>

#include "ui/picture_art.h"
#include "ui/pictures/logo.xpm"
#include "ui/pictures/program_icon.xpm"
#include "ui/pictures/splash.xpm"

namespace orbelan {
namespace {

QSet<QRgb> Colours(const QImage& image) {
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  QSet<QRgb> colours;
  for (int y = 0; y < argb.height(); ++y)
    for (int x = 0; x < argb.width(); ++x) {
      const QRgb c = argb.pixel(x, y);
      colours.insert(qAlpha(c) == 0 ? 0 : c);
    }
  return colours;
}

bool Has(const QSet<QRgb>& colours, QRgb wanted) { return colours.contains(wanted); }

struct Button {
  const char* name;
  QIcon icon;
  std::vector<QRgb> mustShow;
};

TEST(Pictures, ButtonPicturesAreSixteenColourSquaresWithGreyedTwins) {
  const Button buttons[] = {
      {"exit", pictures::ExitIcon(), {qRgb(255, 0, 0), qRgb(0, 255, 255)}},
      {"lists", pictures::ListsIcon(), {qRgb(255, 255, 255), qRgb(0, 0, 0)}},
      {"help", pictures::HelpIcon(), {qRgb(255, 0, 0), qRgb(255, 255, 0)}},
      {"explore", pictures::ExploreIcon(), {qRgb(255, 0, 0)}},
      {"ok", pictures::OkGlyph(), {}},
  };
  for (const Button& b : buttons) {
    SCOPED_TRACE(b.name);
    ASSERT_FALSE(b.icon.isNull());
    const QImage normal = b.icon.pixmap(QSize(16, 16), QIcon::Normal).toImage();
    const QImage greyed = b.icon.pixmap(QSize(16, 16), QIcon::Disabled).toImage();
    ASSERT_EQ(normal.size(), QSize(16, 16));
    ASSERT_EQ(greyed.size(), QSize(16, 16));
    EXPECT_EQ(qAlpha(normal.pixel(0, 15)), 0);
    EXPECT_EQ(qAlpha(greyed.pixel(0, 15)), 0);

    const QSet<QRgb> colours = Colours(normal);
    EXPECT_LE(colours.size(), 16);
    EXPECT_TRUE(Has(colours, 0));  // the see-through colour
    for (QRgb c : b.mustShow) EXPECT_TRUE(Has(colours, c)) << std::hex << c;

    const QSet<QRgb> greys = Colours(greyed);
    EXPECT_LE(greys.size(), 16);
    EXPECT_GE(greys.size(), 2);
    EXPECT_NE(normal, greyed);
    for (QRgb c : greys) EXPECT_TRUE(qAlpha(c) == 0 || (qRed(c) == qGreen(c) && qGreen(c) == qBlue(c)));
  }
}

TEST(Pictures, SplashAndLogoHaveTheirSizesInSixteenColours) {
  const QImage splash = pictures::SplashPicture();
  EXPECT_EQ(splash.size(), QSize(206, 135));
  EXPECT_LE(Colours(splash).size(), 16);
  EXPECT_GE(Colours(splash).size(), 4);
  // Faded: the picture is mostly light, so the name box reads well over it.
  int light = 0;
  for (int y = 0; y < splash.height(); ++y)
    for (int x = 0; x < splash.width(); ++x) light += qGray(splash.pixel(x, y)) > 150;
  EXPECT_GT(light, splash.width() * splash.height() * 9 / 10);

  const QImage logo = pictures::LogoPicture();
  EXPECT_EQ(logo.size(), QSize(133, 74));
  EXPECT_LE(Colours(logo).size(), 16);
  EXPECT_GE(Colours(logo).size(), 4);

  const QIcon program = pictures::ProgramIcon();
  EXPECT_FALSE(program.isNull());
  EXPECT_FALSE(program.pixmap(QSize(48, 48)).isNull());
}

std::vector<std::string> Strings(const char* const* xpm, std::size_t count) {
  return std::vector<std::string>(xpm, xpm + count);
}

TEST(Pictures, CommittedDrawingsMatchTheirGenerator) {
  const auto check = [](const art::IndexedArt& art, const char* const* xpm, std::size_t count) {
    const std::vector<std::string> generated = art::XpmStrings(art);
    EXPECT_EQ(Strings(xpm, count), generated)
        << "ui/pictures is out of date: build the update-pictures target";
  };
  check(art::SplashArt(), splash_xpm, std::size(splash_xpm));
  check(art::LogoArt(), logo_xpm, std::size(logo_xpm));
  check(art::ProgramIconArt(), program_icon_xpm, std::size(program_icon_xpm));
}

TEST(Pictures, DesktopIconIsTheProgramIcon) {
  const QString root = QFileInfo(QString::fromUtf8(__FILE__)).absoluteDir().absoluteFilePath("../..");
  const QImage png(root + "/resources/orbelan.png");
  ASSERT_FALSE(png.isNull()) << "resources/orbelan.png missing";
  const QImage expected = QImage(program_icon_xpm).convertToFormat(QImage::Format_ARGB32);
  const QImage actual = png.convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(actual.size(), expected.size());
  for (int y = 0; y < expected.height(); ++y)
    for (int x = 0; x < expected.width(); ++x) {
      const QRgb e = expected.pixel(x, y), a = actual.pixel(x, y);
      ASSERT_EQ(qAlpha(a), qAlpha(e)) << x << "," << y;
      if (qAlpha(e) != 0) {
        ASSERT_EQ(a, e) << x << "," << y;
      }
    }
}

}  // namespace
}  // namespace orbelan
