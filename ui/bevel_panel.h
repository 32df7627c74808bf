#pragma once
#include "ui/left_click.h"
#include <QWidget>

namespace orbelan {

// A panel drawn the classic way: an optional sunken 2-pixel border, then an outer and an
// inner bevel of a given width. Children are placed in client coordinates, which start
// inside the border (ClientOrigin); the bevels lie inside the client area.
// Like a click label it keeps its own clicks and reports them with clicked().
class BevelPanel : public QWidget {
  Q_OBJECT
 public:
  enum class Bevel { None, Raised, Lowered };

  explicit BevelPanel(QWidget* parent = nullptr);

  void SetSunkenBorder(bool on);
  void SetBevels(Bevel outer, Bevel inner, int width);
  void SetFaceColor(const QColor& color);  // fills the panel; invalid colour: no fill

  int BorderWidth() const { return sunkenBorder_ ? 2 : 0; }
  QPoint ClientOrigin() const { return {BorderWidth(), BorderWidth()}; }
  // Where aligned children go: inside the border and both bevels.
  QRect ContentRect() const;

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool sunkenBorder_ = false;
  Bevel outer_ = Bevel::None;
  Bevel inner_ = Bevel::None;
  int bevelWidth_ = 1;
  QColor face_;
  LeftClick click_;
};

}  // namespace orbelan
