#include "dialogs/size_spin_box.h"

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
  setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

int SizeSpinBox::ValueOfText(const QString& text) {
  const auto number = ParseWhole(text);
  if (!number) return 0;
  if (*number < kLowest) return kLowest;
  if (*number > kHighest) return kHighest;
  return static_cast<int>(*number);
}

QValidator::State SizeSpinBox::validate(QString& input, int&) const {
  const auto number = ParseWhole(input);
  if (number && *number >= kLowest && *number <= kHighest) return QValidator::Acceptable;
  // Anything else may stand while typing; fixup settles it when the field is read.
  return QValidator::Intermediate;
}

void SizeSpinBox::fixup(QString& input) const { input = QString::number(ValueOfText(input)); }

int SizeSpinBox::valueFromText(const QString& text) const { return ValueOfText(text); }

}  // namespace orbelan
