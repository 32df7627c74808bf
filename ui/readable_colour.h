#pragma once
// Coloured texts (the maroon captions, the navy priority) that stay readable under any
// palette: the hue is kept, the lightness moves until the text stands out from the
// background it is drawn on by the contrast the accessibility guidelines ask of body text.

#include <QColor>

class QWidget;

namespace orbelan {

constexpr double kReadableContrast = 4.5;

// The contrast ratio of two colours, from 1 (equal) to 21 (black on white).
double ContrastRatio(const QColor& a, const QColor& b);

// wanted itself when it already stands out from background by minRatio; otherwise the
// colour of the same hue and saturation, lighter on a dark background and darker on a light
// one, nearest to wanted that does.
QColor ReadableOn(const QColor& wanted, const QColor& background,
                  double minRatio = kReadableContrast);

// Gives the widget's text (WindowText) the wanted colour, made readable on the background
// its parent shows, now and whenever the palette or style changes.
void KeepTextReadable(QWidget* widget, const QColor& wanted);

}  // namespace orbelan
