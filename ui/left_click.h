#pragma once
#include <QMouseEvent>
#include <QWidget>

namespace orbelan {

// A left click on a widget: a press on it followed by a release inside it. Both events are
// accepted, so the click never reaches whatever lies behind the widget.
class LeftClick {
 public:
  void Press(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
  }
  // True when this release completes a click on widget.
  bool Release(const QWidget& widget, QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       widget.rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    return click;
  }

 private:
  bool pressed_ = false;
};

}  // namespace orbelan
