#include "app/percent_gauge.h"

#include <QPainter>
#include <QPalette>
#include <algorithm>

#include "ui/readable_colour.h"

namespace orbelan {
namespace {
const QColor kNavy(0, 0, 128);
}  // namespace

PercentGauge::PercentGauge(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PercentGauge::setValue(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == value_) return;
  value_ = percent;
  update();
}

QString PercentGauge::text() const { return QString::number(value_) + QLatin1Char('%'); }

void PercentGauge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect outer = rect();
  p.fillRect(outer, palette().color(QPalette::Button));
  p.setPen(palette().color(QPalette::Dark));
  p.drawRect(outer.adjusted(0, 0, -1, -1));

  const QRect inner = outer.adjusted(1, 1, -1, -1);
  const QRect filled(inner.left(), inner.top(), inner.width() * value_ / 100, inner.height());
  const QRect empty(filled.right() + 1, inner.top(), inner.width() - filled.width(), inner.height());
  p.fillRect(filled, kNavy);

  // The text is aqua over the fill; where it crosses the pale unfilled part it turns navy,
  // as the classic gauge's inverted text did, so it stays readable at any value.
  p.setClipRect(filled);
  p.setPen(QColor(0, 255, 255));
  p.drawText(inner, Qt::AlignCenter, text());
  p.setClipRect(empty);
  // Navy vanishes on a dark button face: its hue is kept at a readable lightness.
  p.setPen(ReadableOn(kNavy, palette().color(QPalette::Button)));
  p.drawText(inner, Qt::AlignCenter, text());
}

}  // namespace orbelan
