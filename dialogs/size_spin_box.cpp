#include "dialogs/size_spin_box.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <optional>

namespace orbelan {

namespace {

constexpr int kLowest = 0;
constexpr int kHighest = 10000;

// A whole decimal number with an optional sign and blanks around it, held saturated
// (a run of digits too long for an int still counts as a very large number).
std::optional<long long> ParseWhole(const QString& text) {
  const QString t = text.trimmed();
  int i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    negative = t[i] == '-';
    ++i;
  }
  if (i == t.size()) return std::nullopt;
  long long magnitude = 0;
  for (; i < t.size(); ++i) {
    const QChar c = t[i];
    if (c < '0' || c > '9') return std::nullopt;
    if (magnitude < 1'000'000'000'000LL) magnitude = magnitude * 10 + (c.unicode() - '0');
  }
  return negative ? -magnitude : magnitude;
}

}  // namespace

SizeSpinBox::SizeSpinBox(QWidget* parent) : QSpinBox(parent) {
  setRange(kLowest, kHighest);
  setSingleStep(100);
  setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
}

std::optional<int> SizeSpinBox::TypedValue(const QString& text) {
  const auto number = ParseWhole(text);
  if (!number || *number < kLowest || *number > kHighest) return std::nullopt;
  return static_cast<int>(*number);
}

QString SizeSpinBox::TypedText() const { return lineEdit()->text(); }

QValidator::State SizeSpinBox::validate(QString& input, int&) const {
  if (TypedValue(input)) return QValidator::Acceptable;
  // Anything else may stand while typing; the dialog's OK says what is wrong with it.
  return QValidator::Intermediate;
}

void SizeSpinBox::fixup(QString&) const {}  // what was typed stays, to be refused with a reason

int SizeSpinBox::valueFromText(const QString& text) const { return TypedValue(text).value_or(value()); }

// Leaving the field and Enter would put the previous value back in place of a text the
// field cannot take: the text stays, for OK to refuse with a reason.
void SizeSpinBox::focusOutEvent(QFocusEvent* event) {
  const QString typed = lineEdit()->text();
  QSpinBox::focusOutEvent(event);
  if (!TypedValue(typed) && lineEdit()->text() != typed) lineEdit()->setText(typed);
}

void SizeSpinBox::keyPressEvent(QKeyEvent* event) {
  const QString typed = lineEdit()->text();
  QSpinBox::keyPressEvent(event);
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && !TypedValue(typed) && lineEdit()->text() != typed) lineEdit()->setText(typed);
}

}  // namespace orbelan
