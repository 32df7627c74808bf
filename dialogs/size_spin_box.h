#pragma once
#include <QSpinBox>

namespace orbelan {

// The minimum-size field: 0 to 10000 in steps of 100. Any text may be typed; when the
// field is read (focus leaves it, Enter, OK) a number outside the range moves to the
// nearer bound and text that is not a number counts as 0. A plain QSpinBox would refuse
// such text while typing or fall back to the previous value.
class SizeSpinBox : public QSpinBox {
  Q_OBJECT
 public:
  explicit SizeSpinBox(QWidget* parent = nullptr);

  // The value a typed text stands for under the rules above.
  static int ValueOfText(const QString& text);

 protected:
  QValidator::State validate(QString& input, int& pos) const override;
  void fixup(QString& input) const override;
  int valueFromText(const QString& text) const override;
};

}  // namespace orbelan
