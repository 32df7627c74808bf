#pragma once
#include <QWidget>

namespace orbelan {

// A horizontal percentage gauge in the classic style: a sunken single-line border, the
// share filled in navy from the left over the button-face colour, and the percentage
// written in aqua across the middle.
class PercentGauge : public QWidget {
  Q_OBJECT
 public:
  explicit PercentGauge(QWidget* parent = nullptr);

  int value() const { return value_; }
  // Values outside 0..100 are held to that range.
  void setValue(int percent);
  QString text() const;  // what the gauge writes: "37%"

  QSize sizeHint() const override { return {115, 25}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int value_ = 0;
};

}  // namespace orbelan
