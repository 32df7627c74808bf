#include "ui/pictures.h"

#include <QColor>

namespace orbelan::pictures {
namespace {

QImage Plain(int w, int h, const QColor& colour) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

QIcon IconOf(const QImage& image) { return QIcon(QPixmap::fromImage(image)); }

}  // namespace

QIcon ExitIcon() { return IconOf(Plain(16, 16, Qt::red)); }
QIcon ListsIcon() { return IconOf(Plain(16, 16, Qt::white)); }
QIcon HelpIcon() { return IconOf(Plain(16, 16, Qt::yellow)); }
QIcon ExploreIcon() { return IconOf(Plain(16, 16, Qt::gray)); }
QImage SplashPicture() { return Plain(206, 135, QColor(230, 230, 240)); }
QImage LogoPicture() { return Plain(133, 74, QColor(0, 0, 128)); }
QIcon OkGlyph() { return IconOf(Plain(16, 16, Qt::green)); }
QIcon ProgramIcon() { return IconOf(Plain(32, 32, QColor(0, 0, 128))); }

}  // namespace orbelan::pictures
