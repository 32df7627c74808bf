#pragma once
// The faces the windows were drawn for, with the nearest free faces Debian ships.
// Sizes are character heights in pixels, so layouts keep their proportions at any DPI setting.

#include <QFont>

namespace orbelan {

QFont ArialFont(int pixelHeight, bool bold = false);          // Liberation Sans
QFont TimesFont(int pixelHeight, bool bold = false);          // Liberation Serif
QFont DialogSansFont(int pixelHeight, bool bold = false);     // MS Sans Serif stand-in

}  // namespace orbelan
