#include "ui/bevel_panel.h"

#include <QMouseEvent>
#include <QPainter>

namespace orbelan {
namespace {

// Draws `width` nested one-pixel frames: top and left edges in `topLeft`, bottom and right
// edges in `bottomRight`; returns the rectangle left inside them.
QRect Frame3D(QPainter& p, QRect r, const QColor& topLeft, const QColor& bottomRight, int width) {
  for (int i = 0; i < width && r.width() > 0 && r.height() > 0; ++i) {
    p.fillRect(QRect(r.left(), r.top(), r.width(), 1), topLeft);
    p.fillRect(QRect(r.left(), r.top(), 1, r.height()), topLeft);
    p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
    p.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
    r.adjust(1, 1, -1, -1);
  }
  return r;
}

}  // namespace

BevelPanel::BevelPanel(QWidget* parent) : QWidget(parent) {}

void BevelPanel::SetSunkenBorder(bool on) {
  sunkenBorder_ = on;
  update();
}

void BevelPanel::SetBevels(Bevel outer, Bevel inner, int width) {
  outer_ = outer;
  inner_ = inner;
  bevelWidth_ = width;
  update();
}

void BevelPanel::SetFaceColor(const QColor& color) {
  face_ = color;
  update();
}

QRect BevelPanel::ContentRect() const {
  int inset = BorderWidth();
  if (outer_ != Bevel::None) inset += bevelWidth_;
  if (inner_ != Bevel::None) inset += bevelWidth_;
  return rect().adjusted(inset, inset, -inset, -inset);
}

void BevelPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  const QColor light = pal.color(QPalette::Light);
  const QColor shadow = pal.color(QPalette::Dark);
  QRect r = rect();
  if (face_.isValid()) p.fillRect(r, face_);
  if (sunkenBorder_) {
    r = Frame3D(p, r, shadow, light, 1);
    r = Frame3D(p, r, pal.color(QPalette::Shadow), pal.color(QPalette::Button), 1);
  }
  auto bevel = [&](Bevel kind) {
    if (kind == Bevel::Raised) r = Frame3D(p, r, light, shadow, bevelWidth_);
    if (kind == Bevel::Lowered) r = Frame3D(p, r, shadow, light, bevelWidth_);
  };
  bevel(outer_);
  bevel(inner_);
}

void BevelPanel::mousePressEvent(QMouseEvent* event) { click_.Press(event); }

void BevelPanel::mouseReleaseEvent(QMouseEvent* event) {
  if (click_.Release(*this, event)) emit clicked();
}

}  // namespace orbelan
