#pragma once
#include <QSpinBox>
#include <optional>

namespace orbelan {

// The minimum-size field: 0 to 10000 in steps of 100. Any text may be typed and stays as
// typed when the focus leaves the field: a number out of range is refused with a message
// when the dialog's OK reads it (TypedValue), never moved quietly to the nearer bound.
class SizeSpinBox : public QSpinBox {
  Q_OBJECT
 public:
  explicit SizeSpinBox(QWidget* parent = nullptr);

  // The value a typed text stands for: a whole number (blanks around it and a sign
  // allowed) from 0 to 10000, else nullopt.
  static std::optional<int> TypedValue(const QString& text);
  // The text in the field as it stands.
  QString TypedText() const;

 protected:
  QValidator::State validate(QString& input, int& pos) const override;
  void fixup(QString& input) const override;
  int valueFromText(const QString& text) const override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace orbelan
