#include "ui/pictures.h"

#include <QPixmap>

#include "ui/pictures/exit.xpm"
#include "ui/pictures/explore.xpm"
#include "ui/pictures/help.xpm"
#include "ui/pictures/lists.xpm"
#include "ui/pictures/logo.xpm"
#include "ui/pictures/ok_check.xpm"
#include "ui/pictures/splash.xpm"

namespace orbelan::pictures {
namespace {

// A button picture: every pixel of the bottom-left pixel's colour is see-through.
QImage ButtonPicture(const char* const* xpm) {
  QImage image = QImage(xpm).convertToFormat(QImage::Format_ARGB32);
  if (image.isNull()) return image;
  const QRgb key = image.pixel(0, image.height() - 1);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if (line[x] == key) line[x] = 0;
  }
  return image;
}

// The classic greyed twin: the picture's dark pixels drawn in shadow grey over a copy of
// them in white one pixel down and right; light pixels vanish into the button face.
QImage Greyed(const QImage& picture) {
  QImage out(picture.size(), QImage::Format_ARGB32);
  out.fill(Qt::transparent);
  const auto dark = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= picture.width() || y >= picture.height()) return false;
    const QRgb c = picture.pixel(x, y);
    return qAlpha(c) != 0 && qGray(c) < 160;
  };
  for (int y = 0; y < out.height(); ++y) {
    for (int x = 0; x < out.width(); ++x) {
      if (dark(x, y)) out.setPixel(x, y, qRgb(128, 128, 128));
      else if (dark(x - 1, y - 1)) out.setPixel(x, y, qRgb(255, 255, 255));
    }
  }
  // The bottom-left pixel stays see-through in the twin as well.
  out.setPixel(0, out.height() - 1, 0);
  return out;
}

QIcon ButtonIcon(const char* const* xpm) {
  const QImage picture = ButtonPicture(xpm);
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(picture), QIcon::Normal);
  icon.addPixmap(QPixmap::fromImage(Greyed(picture)), QIcon::Disabled);
  return icon;
}

}  // namespace

QIcon ExitIcon() { return ButtonIcon(exit_xpm); }
QIcon ListsIcon() { return ButtonIcon(lists_xpm); }
QIcon HelpIcon() { return ButtonIcon(help_xpm); }
QIcon ExploreIcon() { return ButtonIcon(explore_xpm); }
QIcon OkGlyph() { return ButtonIcon(ok_check_xpm); }
QImage SplashPicture() { return QImage(splash_xpm); }
QImage LogoPicture() { return QImage(logo_xpm); }
QIcon ProgramIcon() {
  // The same PNG sizes the desktop menu shows, so window, task bar and menu agree.
  QIcon icon;
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/icons/orbelan-%1.png").arg(size), QSize(size, size));
  return icon;
}

}  // namespace orbelan::pictures
