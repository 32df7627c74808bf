#include "ui/click_label.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace orbelan {

ClickLabel::ClickLabel(QWidget* parent) : QLabel(parent) {}

void ClickLabel::mousePressEvent(QMouseEvent* event) { click_.Press(event); }

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (click_.Release(*this, event)) emit clicked();
}

void ClickLabel::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) &&
      (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    emit clicked();
    return;
  }
  QLabel::keyPressEvent(event);
}

void ClickLabel::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  if (!hasFocus()) return;
  // Drawn in the text's own colour: the style's focus frame can vanish on a coloured banner.
  QPainter painter(this);
  painter.setPen(QPen(palette().color(foregroundRole()), 1, Qt::DotLine));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace orbelan
