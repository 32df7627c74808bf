#pragma once
// The tiled wallpaper control (unit kelWallp): covers its rectangle with copies of a tile
// built from its picture. The tile is built when the picture or the tile style changes and
// at no other time; painting only copies rectangles of the finished tile.

#include "ui/left_click.h"
#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>

namespace orbelan {

// What a picture can hold. The control works on bitmaps only; an icon or a metafile stands
// for "some other graphic" and is replaced by an empty bitmap at the next build.
class WallpaperPicture {
 public:
  enum class Kind { Nothing, Bitmap, Icon, Metafile };

  WallpaperPicture() = default;
  static WallpaperPicture FromBitmap(const QImage& image) { return {Kind::Bitmap, image}; }
  static WallpaperPicture FromIcon(const QImage& image) { return {Kind::Icon, image}; }
  static WallpaperPicture FromMetafile(const QImage& image) { return {Kind::Metafile, image}; }

  Kind kind() const { return kind_; }
  bool IsBitmap() const { return kind_ == Kind::Bitmap; }
  // The graphic's pixels; an empty bitmap holds a null image (0 x 0).
  const QImage& image() const { return image_; }
  int width() const { return image_.width(); }
  int height() const { return image_.height(); }

 private:
  WallpaperPicture(Kind kind, const QImage& image) : kind_(kind), image_(image) {}
  Kind kind_ = Kind::Nothing;
  QImage image_;
};

enum TkelTileStyle : std::uint8_t {
  tileTopLeft,
  tileCenter,
  tileHMirror,
  tileVMirror,
  tileMirror4,
  tileMirror8,
  tilePile,
  tileHChecker,
  tileVChecker,
};

// The slope the eight-part mirror follows down its diagonal: ph / pw (0 when pw is 0), held
// with a 40-bit significand rounded to nearest. The width of the significand decides where
// the diagonal falls on exact multiples: 10 / 6 held this way lies just below 5 / 3.
double TileMirror8Quotient(int ph, int pw);

class RezeRazedaziz : public QWidget {
  Q_OBJECT
 public:
  explicit RezeRazedaziz(QWidget* parent = nullptr);

  QString About() const { return about_; }
  // The version text is fixed; there is no form designer, so setting it does nothing.
  void SetAbout(const QString& ignored);

  const WallpaperPicture& Picture() const { return picture_; }
  // Copies the picture (the caller keeps its own) and rebuilds the tile.
  void SetPicture(const WallpaperPicture& picture);

  TkelTileStyle TileStyle() const { return tileStyle_; }
  void SetTileStyle(TkelTileStyle style);

  // The finished tile, and how many builds have run (a rebuild is otherwise invisible
  // when it produces the same tile).
  const QImage& Tile() const { return tile_; }
  int BuildCount() const { return buildCount_; }

  // The control as painted at a size of width x height: tile copies where the layout puts
  // them, fully transparent wherever it paints nothing.
  QImage Render(int width, int height) const;
  QImage Render() const { return Render(this->width(), this->height()); }

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void PictureChanged();
  void BuildTile();

  QString about_;
  WallpaperPicture picture_;
  TkelTileStyle tileStyle_ = tileTopLeft;
  QImage tile_;
  int buildCount_ = 0;
  LeftClick click_;
};

}  // namespace orbelan
