#include "ui/tiled_wallpaper.h"

#include <QApplication>
#include <cmath>
#include <gtest/gtest.h>

namespace orbelan {
namespace {

// Every pixel of a coded picture (up to 256 x 256) names its own position, so a tile or
// painted pixel tells where it was copied from.
QRgb Code(int x, int y) { return qRgb(x, y, 77); }
QPoint Decode(QRgb c) { return {qRed(c), qGreen(c)}; }

QImage CodedPicture(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, Code(x, y));
  return image;
}

QImage Solid(int w, int h, QRgb colour) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

struct Control {
  explicit Control(int w = 105, int h = 105) { wall.resize(w, h); }
  void Use(const QImage& picture, TkelTileStyle style) {
    wall.SetPicture(WallpaperPicture::FromBitmap(picture));
    wall.SetTileStyle(style);
  }
  QRgb At(int x, int y) const { return wall.Tile().pixel(x, y); }
  RezeRazedaziz wall;
};

bool IsTransparent(const QImage& image, int x, int y) { return qAlpha(image.pixel(x, y)) == 0; }

TEST(TiledWallpaper, NewControlIsEmptyUnfocusableAndPaintsNothing) {
  RezeRazedaziz wall;
  EXPECT_EQ(wall.size(), QSize(105, 105));
  EXPECT_EQ(wall.focusPolicy(), Qt::NoFocus);
  EXPECT_TRUE(wall.testAttribute(Qt::WA_NoSystemBackground));
  EXPECT_FALSE(wall.testAttribute(Qt::WA_OpaquePaintEvent));
  EXPECT_EQ(wall.TileStyle(), tileTopLeft);
  EXPECT_TRUE(wall.Tile().isNull());
  const QImage painted = wall.Render();
  for (int y = 0; y < painted.height(); y += 13)
    for (int x = 0; x < painted.width(); x += 13) ASSERT_TRUE(IsTransparent(painted, x, y));
}

TEST(TiledWallpaper, TileSizeOfEveryStyle) {
  struct Case {
    TkelTileStyle style;
    QSize small;  // from a 7 x 5 picture
    QSize large;  // from a 120 x 80 picture: the mirror styles use its top-left 50 x 50
  };
  const Case cases[] = {
      {tileTopLeft, {7, 5}, {120, 80}},    {tileCenter, {7, 5}, {120, 80}},
      {tileHMirror, {14, 5}, {100, 50}},   {tileVMirror, {7, 10}, {50, 100}},
      {tileMirror4, {14, 10}, {100, 100}}, {tileMirror8, {14, 10}, {100, 100}},
      {tilePile, {7, 5}, {120, 80}},       {tileHChecker, {7, 10}, {120, 160}},
      {tileVChecker, {14, 5}, {240, 80}},
  };
  for (const Case& c : cases) {
    Control small, large;
    small.Use(CodedPicture(7, 5), c.style);
    large.Use(CodedPicture(120, 80), c.style);
    EXPECT_EQ(small.wall.Tile().size(), c.small) << "style " << int(c.style);
    EXPECT_EQ(large.wall.Tile().size(), c.large) << "style " << int(c.style);
  }
}

TEST(TiledWallpaper, MirrorStylesMapEachPixel) {
  const int pw = 5, ph = 4;
  Control h, v, four;
  h.Use(CodedPicture(pw, ph), tileHMirror);
  v.Use(CodedPicture(pw, ph), tileVMirror);
  four.Use(CodedPicture(pw, ph), tileMirror4);
  for (int y = 0; y < 2 * ph; ++y) {
    for (int x = 0; x < 2 * pw; ++x) {
      const int sx = x < pw ? x : 2 * pw - 1 - x;
      const int sy = y < ph ? y : 2 * ph - 1 - y;
      if (y < ph) {
        EXPECT_EQ(Decode(h.At(x, y)), QPoint(sx, y)) << x << "," << y;
      }
      if (x < pw) {
        EXPECT_EQ(Decode(v.At(x, y)), QPoint(x, sy)) << x << "," << y;
      }
      EXPECT_EQ(Decode(four.At(x, y)), QPoint(sx, sy)) << x << "," << y;
    }
  }
}

TEST(TiledWallpaper, MirrorOfLargePictureUsesTopLeftBlock) {
  Control h;
  h.Use(CodedPicture(120, 80), tileHMirror);
  EXPECT_EQ(Decode(h.At(49, 10)), QPoint(49, 10));
  EXPECT_EQ(Decode(h.At(50, 10)), QPoint(49, 10));  // not the picture's column 50
  EXPECT_EQ(Decode(h.At(99, 49)), QPoint(0, 49));

  Control one;
  one.Use(Solid(1, 1, qRgb(10, 200, 30)), tileMirror4);
  ASSERT_EQ(one.wall.Tile().size(), QSize(2, 2));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(one.At(x, y), qRgb(10, 200, 30));
}

TEST(TiledWallpaper, Mirror8QuotientHasFortyBitSignificand) {
  EXPECT_EQ(TileMirror8Quotient(7, 7), 1.0);
  EXPECT_EQ(TileMirror8Quotient(50, 10), 5.0);
  EXPECT_EQ(TileMirror8Quotient(10, 0), 0.0);
  // 6 x 10: column 3 copies rows 0 to 5, not 0 to 6.
  const double q = TileMirror8Quotient(10, 6);
  EXPECT_LT(q, 10.0 / 6.0);
  EXPECT_EQ(std::trunc(3 * q), 4.0);
  EXPECT_NEAR(q, 10.0 / 6.0, 1e-11);
}

TEST(TiledWallpaper, Mirror8ReadsWhatItHasAlreadyWritten) {
  // Worked by hand from the loop: column 1 reads pixel (1, 0) after column 0 overwrote it,
  // so the picture's right column vanishes from a 2 x 2 picture.
  const QRgb A = qRgb(200, 0, 0), B = qRgb(0, 200, 0), C = qRgb(0, 0, 200), D = qRgb(9, 9, 9);
  QImage picture(2, 2, QImage::Format_RGB32);
  picture.setPixel(0, 0, A);
  picture.setPixel(1, 0, B);
  picture.setPixel(0, 1, C);
  picture.setPixel(1, 1, D);
  Control c;
  c.Use(picture, tileMirror8);
  const QRgb expected[4][4] = {{A, C, C, A}, {C, A, A, C}, {C, A, A, C}, {A, C, C, A}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(c.At(x, y), expected[y][x]) << x << "," << y;
}

TEST(TiledWallpaper, Mirror8TallPictureLeavesUnwrittenPixelAsBefore) {
  const QImage picture = CodedPicture(10, 50);
  Control c;
  c.Use(picture, tileMirror8);
  ASSERT_EQ(c.wall.Tile().size(), QSize(20, 100));
  for (int y = 0; y <= 46; ++y) EXPECT_EQ(Decode(c.At(10, y)), QPoint(9, y)) << y;
  EXPECT_EQ(c.At(10, 47), qRgb(255, 255, 255));  // nothing writes it: white on a first build
  EXPECT_EQ(Decode(c.At(10, 48)), QPoint(0, 1));
  EXPECT_EQ(Decode(c.At(10, 49)), QPoint(0, 0));

  // A tile of the same size built before keeps its pixel there.
  Control again;
  again.Use(picture, tileMirror4);
  const QRgb before = again.At(10, 47);
  again.wall.SetTileStyle(tileMirror8);
  EXPECT_EQ(again.At(10, 47), before);
  EXPECT_EQ(Decode(before), QPoint(9, 47));
}

TEST(TiledWallpaper, CheckerHalvesAtOddSizes) {
  // hw = 5 div 2 = 2: picture columns 0-1 stretch onto tile columns 2-4 of the lower half and
  // columns 2-4 shrink onto tile columns 0-1 (each destination pixel takes the source pixel
  // under its centre).
  Control h;
  h.Use(CodedPicture(5, 3), tileHChecker);
  const int fromColumn[5] = {2, 4, 0, 1, 1};
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(Decode(h.At(x, y)), QPoint(x, y));
      EXPECT_EQ(Decode(h.At(x, y + 3)), QPoint(fromColumn[x], y)) << x << "," << y;
    }
  }
  // hh = 3 div 2 = 1: picture rows 1-2 shrink onto the right half's row 0, and row 0
  // stretches onto its rows 1-2.
  Control v;
  v.Use(CodedPicture(2, 3), tileVChecker);
  const int fromRow[3] = {2, 0, 0};
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 2; ++x) {
      EXPECT_EQ(Decode(v.At(x, y)), QPoint(x, y));
      EXPECT_EQ(Decode(v.At(x + 2, y)), QPoint(x, fromRow[y])) << x << "," << y;
    }
  }
}

TEST(TiledWallpaper, TopLeftGridOfTheSplash) {
  const QImage wide = CodedPicture(206, 135);
  Control c(288, 130);
  c.Use(wide, tileTopLeft);
  const QImage painted = c.wall.Render();
  ASSERT_EQ(painted.size(), QSize(288, 130));
  for (int y = 0; y < 130; y += 7) {
    for (int x = 0; x < 288; ++x) {
      const int sx = x < 206 ? x : x - 206;
      ASSERT_EQ(painted.pixel(x, y), wide.pixel(sx, y)) << x << "," << y;
    }
  }
}

TEST(TiledWallpaper, CentredGridOffsets) {
  const QImage wide = CodedPicture(206, 3);
  // Width 288: xo = 41, copies at -165, 41, 247.
  Control c(288, 3);
  c.Use(wide, tileCenter);
  QImage painted = c.wall.Render();
  EXPECT_EQ(painted.pixel(41, 1), wide.pixel(0, 1));
  EXPECT_EQ(painted.pixel(0, 1), wide.pixel(165, 1));
  EXPECT_EQ(painted.pixel(40, 1), wide.pixel(205, 1));
  EXPECT_EQ(painted.pixel(247, 1), wide.pixel(0, 1));
  EXPECT_EQ(painted.pixel(287, 1), wide.pixel(40, 1));
  // Width 100: xo = -53, copies at -259, -53, 153.
  c.wall.resize(100, 3);
  painted = c.wall.Render();
  EXPECT_EQ(painted.pixel(0, 1), wide.pixel(53, 1));
  EXPECT_EQ(painted.pixel(99, 1), wide.pixel(152, 1));
  // Vertically: a tile 3 high in a control 8 high: yo = (5 div 2) mod 3 = 2.
  Control tall(4, 8);
  tall.Use(CodedPicture(4, 3), tileCenter);
  painted = tall.wall.Render();
  EXPECT_EQ(Decode(painted.pixel(0, 2)), QPoint(0, 0));
  EXPECT_EQ(Decode(painted.pixel(0, 0)), QPoint(0, 1));
  EXPECT_EQ(Decode(painted.pixel(0, 7)), QPoint(0, 2));
}

TEST(TiledWallpaper, PileFramesOfHalfTiles) {
  Control c(250, 130);
  c.Use(CodedPicture(50, 40), tilePile);
  const QImage painted = c.wall.Render();
  // Everything inside TW x TH = 250 x 120 is covered; rows 120-130 are not painted.
  for (int y = 0; y < 130; ++y)
    for (int x = 0; x < 250; ++x)
      ASSERT_EQ(IsTransparent(painted, x, y), y >= 120) << x << "," << y;

  const auto from = [&](int x, int y) { return Decode(painted.pixel(x, y)); };
  // Frame 1: top strip is the tile's upper half at its own size; left strip its left half.
  EXPECT_EQ(from(30, 5), QPoint(30, 5));
  EXPECT_EQ(from(80, 19), QPoint(30, 19));
  EXPECT_EQ(from(10, 50), QPoint(10, 10));
  // Frame 2 top strip starts at (25, 20): only a second frame paints there.
  EXPECT_EQ(from(30, 30), QPoint(5, 10));
  // Frame 4 bottom strip (y 40-60, x 75-175) covers frame 3's top strip; frame 4's top
  // strip (y 60-80) covers frame 3's bottom strip.
  EXPECT_GE(from(100, 50).x(), 25);
  EXPECT_GE(from(100, 50).y(), 20);
  EXPECT_EQ(from(100, 70), QPoint(25, 10));
  // Frame 3 left strip at x 50-75 over y 40-80.
  EXPECT_EQ(from(60, 50), QPoint(10, 10));
  EXPECT_EQ(from(60, 75), QPoint(10, 35));

  // Bottom and right strips show the lower-right quarter less its last column and row,
  // stretched: never column 49 or row 39, never the left or upper half.
  const QRect bottomOnly(25, 100, 200, 20), rightOnly(225, 0, 25, 120);
  for (const QRect& strip : {bottomOnly, rightOnly}) {
    for (int y = strip.top(); y <= strip.bottom(); ++y) {
      for (int x = strip.left(); x <= strip.right(); ++x) {
        const QPoint s = from(x, y);
        ASSERT_TRUE(s.x() >= 25 && s.x() < 49 && s.y() >= 20 && s.y() < 39)
            << x << "," << y << " <- " << s.x() << "," << s.y();
      }
    }
  }
  EXPECT_EQ(from(225, 0), QPoint(25, 20));
  EXPECT_EQ(from(200, 100), QPoint(25, 20));  // bottom strip k = 4, clear of the side strips
}

TEST(TiledWallpaper, PileNarrowerThanTileShowsOnlyLeftStrip) {
  Control c(30, 100);
  c.Use(CodedPicture(50, 40), tilePile);
  const QImage painted = c.wall.Render();
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 30; ++x) {
      const bool inStrip = x < 25 && y < 80;
      ASSERT_EQ(IsTransparent(painted, x, y), !inStrip) << x << "," << y;
      if (inStrip) {
        ASSERT_EQ(Decode(painted.pixel(x, y)), QPoint(x, y % 40));
      }
    }
  }
}

TEST(TiledWallpaper, NonBitmapOrEmptyPicturePaintsNothing) {
  for (const WallpaperPicture& p :
       {WallpaperPicture::FromIcon(Solid(16, 16, qRgb(1, 2, 3))),
        WallpaperPicture::FromMetafile(Solid(8, 8, qRgb(1, 2, 3))), WallpaperPicture(),
        WallpaperPicture::FromBitmap(QImage())}) {
    for (TkelTileStyle style : {tileTopLeft, tileCenter, tileMirror8, tilePile, tileVChecker}) {
      Control c(40, 40);
      c.Use(Solid(4, 4, qRgb(200, 0, 0)), style);  // a tile that would show
      c.wall.SetPicture(p);
      EXPECT_TRUE(c.wall.Picture().IsBitmap());
      EXPECT_TRUE(c.wall.Picture().image().isNull());
      const QImage painted = c.wall.Render();
      for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_TRUE(IsTransparent(painted, x, y)) << int(style);
    }
  }
}

TEST(TiledWallpaper, OpaqueFlagFollowsPictureChangesOnly) {
  Control c(20, 10);
  c.Use(Solid(20, 10, qRgb(0, 0, 0)), tileTopLeft);
  EXPECT_TRUE(c.wall.testAttribute(Qt::WA_OpaquePaintEvent));
  c.wall.resize(30, 30);
  EXPECT_TRUE(c.wall.testAttribute(Qt::WA_OpaquePaintEvent));
  c.wall.SetPicture(WallpaperPicture::FromBitmap(Solid(20, 10, qRgb(0, 0, 0))));
  EXPECT_FALSE(c.wall.testAttribute(Qt::WA_OpaquePaintEvent));
  c.wall.SetPicture(WallpaperPicture::FromIcon(Solid(30, 30, qRgb(0, 0, 0))));
  EXPECT_FALSE(c.wall.testAttribute(Qt::WA_OpaquePaintEvent));
}

TEST(TiledWallpaper, PictureIsCopiedAndAboutCannotBeSet) {
  QImage mine = Solid(3, 3, qRgb(10, 20, 30));
  Control c;
  c.Use(mine, tileTopLeft);
  mine.fill(qRgb(99, 99, 99));
  EXPECT_EQ(c.wall.Picture().image().pixel(1, 1), qRgb(10, 20, 30));
  EXPECT_EQ(c.At(1, 1), qRgb(10, 20, 30));
  const QString about = c.wall.About();
  EXPECT_FALSE(about.isEmpty());
  c.wall.SetAbout("9.9");
  EXPECT_EQ(c.wall.About(), about);
}

class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

TEST(TiledWallpaper, OnlyPictureAndStyleChangesRebuild) {
  QWidget parent;
  parent.resize(100, 100);
  auto* wall = new RezeRazedaziz(&parent);
  wall->SetPicture(WallpaperPicture::FromBitmap(CodedPicture(6, 6)));
  PaintCounter counter;
  wall->installEventFilter(&counter);
  parent.show();
  QApplication::processEvents();
  const int builds = wall->BuildCount();
  const int paints = counter.paints;
  EXPECT_GT(paints, 0);

  wall->SetTileStyle(tileTopLeft);  // already the style
  wall->resize(80, 70);
  wall->move(3, 4);
  wall->update();
  QApplication::processEvents();
  EXPECT_EQ(wall->BuildCount(), builds);

  const int paintsBefore = counter.paints;
  wall->SetTileStyle(tileTopLeft);
  QApplication::processEvents();
  EXPECT_EQ(counter.paints, paintsBefore);

  wall->SetTileStyle(tileMirror4);
  QApplication::processEvents();
  EXPECT_EQ(wall->BuildCount(), builds + 1);
  EXPECT_GT(counter.paints, paintsBefore);
}

TEST(TiledWallpaper, ParentShowsThroughWhereNothingIsPainted) {
  QWidget parent;
  parent.resize(40, 40);
  parent.setAutoFillBackground(true);
  QPalette pal = parent.palette();
  pal.setColor(QPalette::Window, QColor(0, 200, 0));
  parent.setPalette(pal);
  auto* wall = new RezeRazedaziz(&parent);
  wall->setGeometry(0, 0, 30, 40);
  wall->SetPicture(WallpaperPicture::FromBitmap(Solid(50, 40, qRgb(200, 0, 0))));
  wall->SetTileStyle(tilePile);  // only the left strip, x 0-25, is painted
  const QImage shot = parent.grab().toImage();
  EXPECT_EQ(shot.pixelColor(10, 20), QColor(200, 0, 0));
  EXPECT_EQ(shot.pixelColor(27, 20), QColor(0, 200, 0));
  EXPECT_EQ(shot.pixelColor(35, 20), QColor(0, 200, 0));
}

}  // namespace
}  // namespace orbelan
