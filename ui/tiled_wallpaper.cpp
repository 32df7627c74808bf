#include "ui/tiled_wallpaper.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace orbelan {
namespace {

constexpr int kMirrorLimit = 50;  // the mirror styles mirror at most this block of the picture
constexpr QRgb kWhite = 0xffffffff;

// A rectangle as (left, top, right, bottom), right and bottom exclusive.
struct Box {
  int l, t, r, b;
  int w() const { return r - l; }
  int h() const { return b - t; }
};

// Copies the source box of `src` onto the destination box of `dst`, each axis scaled on its
// own by nearest-pixel sampling: a destination pixel takes the source pixel under its
// centre. Destination pixels outside `dst` are dropped; an empty box copies nothing.
// `opaque` forces full alpha, for painting RGB32 tiles into an ARGB image.
void StretchCopy(const QImage& src, Box s, QImage& dst, Box d, bool opaque = false) {
  if (s.w() <= 0 || s.h() <= 0 || d.w() <= 0 || d.h() <= 0) return;
  const int x0 = std::max(d.l, 0), x1 = std::min(d.r, dst.width());
  const int y0 = std::max(d.t, 0), y1 = std::min(d.b, dst.height());
  const QRgb alpha = opaque ? 0xff000000u : 0u;
  for (int y = y0; y < y1; ++y) {
    const long long sy = s.t + ((2LL * (y - d.t) + 1) * s.h()) / (2LL * d.h());
    if (sy < 0 || sy >= src.height()) continue;
    const auto* in = reinterpret_cast<const QRgb*>(src.constScanLine(static_cast<int>(sy)));
    auto* out = reinterpret_cast<QRgb*>(dst.scanLine(y));
    for (int x = x0; x < x1; ++x) {
      const long long sx = s.l + ((2LL * (x - d.l) + 1) * s.w()) / (2LL * d.w());
      if (sx < 0 || sx >= src.width()) continue;
      out[x] = in[sx] | alpha;
    }
  }
}

// Resizes a bitmap the way a canvas bitmap grows: pixels that still fit keep their
// positions, new pixels are white.
QImage ResizeKeeping(const QImage& old, int w, int h) {
  if (w <= 0 || h <= 0) return QImage();
  QImage fresh(w, h, QImage::Format_RGB32);
  fresh.fill(kWhite);
  const int keepW = std::min(w, old.width()), keepH = std::min(h, old.height());
  for (int y = 0; y < keepH; ++y) {
    std::copy_n(reinterpret_cast<const QRgb*>(old.constScanLine(y)), keepW,
                reinterpret_cast<QRgb*>(fresh.scanLine(y)));
  }
  return fresh;
}

}  // namespace

double TileMirror8Quotient(int ph, int pw) {
  if (pw == 0) return 0.0;
  const double q = static_cast<double>(ph) / pw;
  if (q == 0.0) return 0.0;
  int exponent = 0;
  const double mantissa = std::frexp(q, &exponent);  // in [0.5, 1)
  return std::ldexp(std::nearbyint(std::ldexp(mantissa, 40)), exponent - 40);
}

RezeRazedaziz::RezeRazedaziz(QWidget* parent) : QWidget(parent), about_("1.0") {
  // Stands in for a windowless control: the parent shows through wherever nothing is painted.
  setAttribute(Qt::WA_NoSystemBackground);
  setAutoFillBackground(false);
  setFocusPolicy(Qt::NoFocus);
  resize(105, 105);
}

void RezeRazedaziz::SetAbout(const QString&) {}

void RezeRazedaziz::SetPicture(const WallpaperPicture& picture) {
  picture_ = picture;
  PictureChanged();
}

void RezeRazedaziz::SetTileStyle(TkelTileStyle style) {
  if (style == tileStyle_) return;
  tileStyle_ = style;
  BuildTile();
  update();
}

void RezeRazedaziz::PictureChanged() {
  // Decided once per picture change; a later resize leaves the flag as it is.
  const bool opaque = picture_.IsBitmap() && picture_.width() == width() &&
                      picture_.height() == height();
  setAttribute(Qt::WA_OpaquePaintEvent, opaque);
  BuildTile();
  update();
}

void RezeRazedaziz::BuildTile() {
  if (!picture_.IsBitmap()) {
    // Replacing the graphic is itself a picture change, with its own complete build.
    picture_ = WallpaperPicture::FromBitmap(QImage());
    PictureChanged();
  }
  ++buildCount_;
  const QImage& picture = picture_.image();
  int pw = picture.width(), ph = picture.height();
  const TkelTileStyle style = tileStyle_;
  const bool mirror = style == tileHMirror || style == tileVMirror || style == tileMirror4 ||
                      style == tileMirror8;
  if (mirror) {
    pw = std::min(pw, kMirrorLimit);
    ph = std::min(ph, kMirrorLimit);
  }

  int tw = pw, th = ph;
  switch (style) {
    case tileHChecker: th = 2 * ph; break;
    case tileVChecker: tw = 2 * pw; break;
    case tileHMirror: tw = 2 * pw; break;
    case tileVMirror: th = 2 * ph; break;
    case tileMirror4:
    case tileMirror8: tw = 2 * pw; th = 2 * ph; break;
    default: break;
  }
  tile_ = ResizeKeeping(tile_, tw, th);
  if (tile_.isNull()) return;

  if (!picture.isNull()) {
    QPainter painter(&tile_);
    painter.drawImage(0, 0, picture);
  }

  const auto get = [this](int x, int y) { return tile_.pixel(x, y); };
  const auto put = [this](int x, int y, QRgb c) {
    if (x >= 0 && y >= 0 && x < tile_.width() && y < tile_.height()) tile_.setPixel(x, y, c);
  };

  switch (style) {
    case tileHChecker: {
      const QImage source = picture.convertToFormat(QImage::Format_RGB32);
      const int hw = pw / 2;
      StretchCopy(source, {0, 0, hw, ph}, tile_, {hw, ph, pw, 2 * ph});
      StretchCopy(source, {hw, 0, pw, ph}, tile_, {0, ph, hw, 2 * ph});
      break;
    }
    case tileVChecker: {
      const QImage source = picture.convertToFormat(QImage::Format_RGB32);
      const int hh = ph / 2;
      StretchCopy(source, {0, hh, pw, ph}, tile_, {pw, 0, 2 * pw, hh});
      StretchCopy(source, {0, 0, pw, hh}, tile_, {pw, hh, 2 * pw, ph});
      break;
    }
    case tileHMirror:
    case tileVMirror:
    case tileMirror4:
      for (int x = 0; x < pw; ++x) {
        for (int y = 0; y < ph; ++y) {
          const QRgb c = get(x, y);
          if (style != tileVMirror) put(2 * pw - 1 - x, y, c);
          if (style != tileHMirror) put(x, 2 * ph - 1 - y, c);
          if (style == tileMirror4) put(2 * pw - 1 - x, 2 * ph - 1 - y, c);
        }
      }
      break;
    case tileMirror8: {
      const double q = TileMirror8Quotient(ph, pw);
      for (int x = 0; x < pw; ++x) {
        const int yl = static_cast<int>(std::trunc(x * q));
        for (int y = 0; y <= yl + 1; ++y) {
          // Reads see this loop's earlier writes; that is part of the pattern.
          const QRgb c = get(x, y);
          put(2 * pw - 1 - x, y, c);
          put(pw + x, ph - 1 - y, c);
          put(pw + x, ph + y, c);
          put(2 * pw - 1 - x, 2 * ph - 1 - y, c);
          put(x, 2 * ph - 1 - y, c);
          put(pw - 1 - x, ph + y, c);
          put(pw - 1 - x, ph - 1 - y, c);
        }
      }
      break;
    }
    default: break;
  }
}

QImage RezeRazedaziz::Render(int cw, int ch) const {
  QImage out(std::max(cw, 0), std::max(ch, 0), QImage::Format_ARGB32);
  out.fill(Qt::transparent);
  const int W = tile_.width(), H = tile_.height();
  if (W < 1 || H < 1 || out.isNull()) return out;

  int xo = 0, yo = 0;
  if (tileStyle_ == tileCenter) {
    xo = ((cw - W) / 2) % W;  // C++ division truncates and % takes the dividend's sign
    yo = ((ch - H) / 2) % H;
  }
  int cols = cw / W, rows = ch / H;
  const Box whole{0, 0, W, H};

  if (tileStyle_ != tilePile) {
    const int first = tileStyle_ == tileCenter ? -1 : 0;
    const int lastCol = tileStyle_ == tileCenter ? cols + 1 : cols;
    const int lastRow = tileStyle_ == tileCenter ? rows + 1 : rows;
    for (int i = first; i <= lastCol; ++i) {
      for (int j = first; j <= lastRow; ++j) {
        StretchCopy(tile_, whole, out,
                    {i * W + xo, j * H + yo, (i + 1) * W + xo, (j + 1) * H + yo}, true);
      }
    }
    return out;
  }

  // Concentric frames of half tiles inside TW x TH; inner frames cover outer ones.
  const int TW = cols * W, TH = rows * H;
  const int hw = W / 2, hh = H / 2;
  const Box upperHalf{0, 0, W, hh};
  const Box leftHalf{0, 0, hw, H};
  const Box lowerRightQuarter{hw, hh, W - 1, H - 1};  // less its last column and row
  const int frames = std::min(cols, rows) + 1;
  int x0 = 0, y0 = 0;
  for (int f = 0; f < frames; ++f) {
    if (f > 0) {
      x0 += hw;
      y0 += hh;
      --cols;
      --rows;
    }
    for (int k = 0; k < cols; ++k)
      StretchCopy(tile_, upperHalf, out, {x0 + k * W, y0, x0 + (k + 1) * W, y0 + hh}, true);
    for (int k = 0; k < cols; ++k)
      StretchCopy(tile_, lowerRightQuarter, out,
                  {x0 + k * W, TH - y0 - hh, x0 + (k + 1) * W, TH - y0}, true);
    for (int m = 0; m < rows; ++m)
      StretchCopy(tile_, leftHalf, out, {x0, y0 + m * H, x0 + hw, y0 + (m + 1) * H}, true);
    for (int m = 0; m < rows; ++m)
      StretchCopy(tile_, lowerRightQuarter, out,
                  {TW - x0 - hw, y0 + m * H, TW - x0, y0 + (m + 1) * H}, true);
  }
  return out;
}

void RezeRazedaziz::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, Render());
}

void RezeRazedaziz::mousePressEvent(QMouseEvent* event) { click_.Press(event); }

void RezeRazedaziz::mouseReleaseEvent(QMouseEvent* event) {
  if (click_.Release(*this, event)) emit clicked();
}

}  // namespace orbelan
