#include "ui/pictures.h"

#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QSet>
#include <gtest/gtest.h>

#include "ui/picture_art.h"
#include "ui/pictures/logo.xpm"
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
}

TEST(Pictures, ProgramIconIsTheDesktopIconInEverySize) {
  // The window shows the very PNGs that are installed for the desktop menu.
  const QString icons = QStringLiteral(ORBELAN_SOURCE_DIR "/resources/icons");
  const QIcon program = pictures::ProgramIcon();
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    SCOPED_TRACE(size);
    const QImage png(QStringLiteral("%1/orbelan-%2.png").arg(icons).arg(size));
    ASSERT_FALSE(png.isNull()) << "resources/icons/orbelan-" << size << ".png missing";
    EXPECT_EQ(png.size(), QSize(size, size));
    const QImage shown = program.pixmap(QSize(size, size)).toImage();
    // Pixmaps hold premultiplied pixels, so the two are compared in that form.
    const QImage a = shown.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage b = png.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ASSERT_EQ(a.size(), b.size());
    int differing = 0;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) differing += a.pixel(x, y) != b.pixel(x, y);
    EXPECT_EQ(differing, 0);
    // Drawn on a see-through ground: the corners are clear, the middle is not.
    EXPECT_EQ(qAlpha(png.pixel(0, 0)), 0);
    EXPECT_GT(qAlpha(png.pixel(size * 3 / 5, size * 3 / 4)), 200);
  }
}

}  // namespace
}  // namespace orbelan
