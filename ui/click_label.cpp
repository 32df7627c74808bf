#include "ui/click_label.h"

#include <QMouseEvent>

namespace orbelan {

ClickLabel::ClickLabel(QWidget* parent) : QLabel(parent) {}

void ClickLabel::mousePressEvent(QMouseEvent* event) { click_.Press(event); }

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (click_.Release(*this, event)) emit clicked();
}

}  // namespace orbelan
