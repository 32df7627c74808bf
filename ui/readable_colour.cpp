#include "ui/readable_colour.h"

#include <QEvent>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <QObject>
#include <QPalette>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace orbelan {

namespace {

double Linear(double channel) {
  return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& colour) {
  const QColor rgb = colour.toRgb();
  return 0.2126 * Linear(rgb.redF()) + 0.7152 * Linear(rgb.greenF()) + 0.0722 * Linear(rgb.blueF());
}

// The colour behind the widget's text as the window really draws it (a style may paint a
// tab page or a frame in a shade of its own): the colour most pixels of its area show.
QColor DrawnBackground(QWidget* widget) {
  QWidget* window = widget->window();
  const QRect area(widget->mapTo(window, QPoint(0, 0)), widget->size());
  const QImage image = window->grab(area).toImage();
  QHash<QRgb, int> counts;
  QRgb best = 0;
  int most = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb pixel = image.pixel(x, y) | 0xff000000u;
      const int n = ++counts[pixel];
      if (n > most) best = pixel, most = n;
    }
  }
  return most > 0 ? QColor(best) : widget->palette().color(QPalette::Window);
}

// What a label aims at: a little above the guideline's ratio, because the pixels a glyph
// really lights come out of 8-bit rounding and the style's shading a shade short of it.
constexpr double kDrawnTarget = kReadableContrast + 0.25;

// Re-colours the widget when it is shown and whenever its palette or style changes (a
// theme switch, a dark palette set after the window was built). The background is read
// once the window has drawn itself, so the check runs from the event loop.
class ReadableText : public QObject {
 public:
  ReadableText(QWidget* widget, const QColor& wanted) : QObject(widget), widget_(widget), wanted_(wanted) {
    widget->installEventFilter(this);
    // A first guess from the palette until the window is shown.
    SetColour(ReadableOn(wanted_, widget->palette().color(QPalette::Window), kDrawnTarget));
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == widget_ && !applying_) {
      switch (event->type()) {
        case QEvent::Show:
        case QEvent::PaletteChange:
        case QEvent::StyleChange:
          Schedule();
          break;
        default:
          break;
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  void Schedule() {
    if (pending_) return;
    pending_ = true;
    QTimer::singleShot(0, this, [this] {
      pending_ = false;
      if (widget_->isVisible()) SetColour(ReadableOn(wanted_, DrawnBackground(widget_), kDrawnTarget));
    });
  }

  void SetColour(const QColor& colour) {
    QPalette palette = widget_->palette();
    if (palette.color(QPalette::Active, QPalette::WindowText) == colour &&
        palette.color(QPalette::Inactive, QPalette::WindowText) == colour)
      return;
    applying_ = true;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
      palette.setColor(group, QPalette::WindowText, colour);
      palette.setColor(group, QPalette::Text, colour);
    }
    widget_->setPalette(palette);
    applying_ = false;
  }

  QWidget* widget_;
  QColor wanted_;
  bool applying_ = false;
  bool pending_ = false;
};

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableOn(const QColor& wanted, const QColor& background, double minRatio) {
  if (ContrastRatio(wanted, background) >= minRatio) return wanted;
  const QColor hsl = wanted.toHsl();
  const float hue = hsl.hslHueF(), saturation = hsl.hslSaturationF(), alpha = hsl.alphaF();
  const bool lighter = Luminance(background) < 0.18;  // below mid-grey in perceived terms
  // The lightness that reaches the ratio, found by halving the interval between the wanted
  // lightness and the end of the scale (white or black always reach it, or come closest).
  // Colours are judged as the screen gets them, in 8-bit channels.
  const auto at = [&](float lightness) {
    const QColor c = QColor::fromHslF(std::max(hue, 0.0f), saturation, lightness, alpha).toRgb();
    return QColor(c.red(), c.green(), c.blue(), c.alpha());
  };
  float near = hsl.lightnessF(), far = lighter ? 1.0f : 0.0f;
  if (ContrastRatio(at(far), background) < minRatio) return at(far);
  for (int step = 0; step < 24; ++step) {
    const float middle = (near + far) / 2;
    if (ContrastRatio(at(middle), background) >= minRatio)
      far = middle;
    else
      near = middle;
  }
  return at(far);
}

void KeepTextReadable(QWidget* widget, const QColor& wanted) { new ReadableText(widget, wanted); }

}  // namespace orbelan
