#include "app/percent_gauge.h"

#include <QPainter>
#include <QPalette>
#include <algorithm>

namespace orbelan {

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
  const int filled = inner.width() * value_ / 100;
  if (filled > 0) p.fillRect(QRect(inner.left(), inner.top(), filled, inner.height()), Qt::darkBlue);

  p.setPen(QColor(0, 255, 255));  // aqua
  p.drawText(inner, Qt::AlignCenter, text());
}

}  // namespace orbelan
