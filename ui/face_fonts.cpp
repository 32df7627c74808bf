#include "ui/face_fonts.h"

#include <QStringList>

namespace orbelan {
namespace {

QFont MakeFont(const QStringList& families, QFont::StyleHint hint, int pixelHeight, bool bold) {
  QFont font;
  font.setFamilies(families);
  font.setStyleHint(hint);
  font.setPixelSize(pixelHeight);
  font.setBold(bold);
  return font;
}

}  // namespace

QFont ArialFont(int pixelHeight, bool bold) {
  return MakeFont({"Liberation Sans", "Arial", "DejaVu Sans"}, QFont::SansSerif, pixelHeight, bold);
}

QFont TimesFont(int pixelHeight, bool bold) {
  return MakeFont({"Liberation Serif", "Times New Roman", "DejaVu Serif"}, QFont::Serif, pixelHeight,
                  bold);
}

QFont DialogSansFont(int pixelHeight, bool bold) {
  // Liberation Sans is closer in width to the old dialog face than DejaVu Sans, so the
  // fixed-size boxes keep their texts inside their rectangles.
  return MakeFont({"Liberation Sans", "MS Sans Serif", "DejaVu Sans"}, QFont::SansSerif, pixelHeight,
                  bold);
}

}  // namespace orbelan
