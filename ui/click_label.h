#pragma once
#include "ui/left_click.h"
#include <QLabel>

namespace orbelan {

// A label that keeps its mouse clicks to itself: a plain QLabel passes presses on to its
// parent, so a click on a label without a handler would act on whatever lies behind it.
// Emits clicked() on a release inside the label that follows a press on it, and, when the
// label takes the keyboard focus (a link the user can Tab to), on Enter or Space; it then
// shows the focus as a dotted frame in its text colour.
class ClickLabel : public QLabel {
  Q_OBJECT
 public:
  explicit ClickLabel(QWidget* parent = nullptr);

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  LeftClick click_;
};

}  // namespace orbelan
