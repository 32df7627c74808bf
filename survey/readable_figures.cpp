#include "survey/readable_figures.h"

#include <clocale>
#include <cmath>

#include "scan/folder_figures.h"
#include "scan/folder_list.h"
#include "survey/figure_text.h"
#include "survey/results.h"
#include "survey/saving_table.h"

namespace orbelan {
namespace {

struct MarkCache {
  bool known = false;
  std::string text;
};

MarkCache& Mark() {
  static MarkCache cache;
  return cache;
}

const std::string& DecimalMark() {
  MarkCache& cache = Mark();
  if (!cache.known) {
    const std::lconv* conv = std::localeconv();
    cache.text = conv && conv->decimal_point && *conv->decimal_point ? conv->decimal_point : ".";
    cache.known = true;
  }
  return cache.text;
}

}  // namespace

void SetDecimalMark(const std::string& mark) {
  Mark().text = mark.empty() ? std::string(".") : mark;
  Mark().known = true;
}

void ResetDecimalMark() { Mark().known = false; }

std::string ReadableSizeText(std::int64_t bytes) {
  if (bytes < 0) {
    // Only the magnitude is scaled; the smallest value has no positive twin, so it is
    // scaled as the largest.
    const std::int64_t magnitude = bytes == INT64_MIN ? INT64_MAX : -bytes;
    std::string text(1, '-');
    text.append(ReadableSizeText(magnitude));
    return text;
  }
  if (bytes < 1000) return std::to_string(bytes).append(bytes == 1 ? " byte" : " bytes");
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  // Whole numbers throughout, so that no rounding of a double moves a figure across a digit.
  // The most decimals that still leave three digits: 9.99 KB, 10.0 KB, 999 KB, and 999,500
  // bytes rounds up to "1.00 MB", never "1000 KB".
  const auto value = static_cast<std::uint64_t>(bytes);
  std::uint64_t scale = 1000;
  for (std::size_t unit = 0; unit < std::size(kUnits); ++unit, scale *= 1000) {
    std::uint64_t divisor = 100;
    for (int decimals = 2; decimals >= 0; --decimals, divisor /= 10) {
      const std::uint64_t step = scale / divisor;
      const std::uint64_t rounded = value / step + ((value % step) * 2 >= step ? 1 : 0);
      if (rounded >= 1000) continue;
      std::string text = std::to_string(rounded / divisor);
      if (decimals > 0) {
        std::string fraction = std::to_string(rounded % divisor);
        fraction.insert(0, static_cast<std::size_t>(decimals) - fraction.size(), '0');
        text.append(DecimalMark()).append(fraction);
      }
      return text.append(1, ' ').append(kUnits[unit]);
    }
  }
  return std::to_string(bytes) + " bytes";  // not reached: 2^63 bytes are 9.22 EB
}

std::string ReadableAgeText(double recent, double today) {
  if (!(recent > 0)) return " ";
  const std::int64_t days = DaysAgo(recent, today);
  if (days <= 60) return AgeText(recent, today);
  // Whole months and years that have passed: 61 days are 2 months, 730 days 1 year and 11
  // months, shown as "23 months ago", and 731 days "2 years ago".
  const std::int64_t months = static_cast<std::int64_t>(std::floor(static_cast<double>(days) * 12.0 / 365.25));
  if (months < 24) return std::to_string(months).append(" months ago");
  return std::to_string(months / 12).append(" years ago");
}

std::string ReadableCellText(const ResultRow& row, int column, double today,
                             const SavingTable* savings, const SubtreeTotals* subtree) {
  const FolderCounts& shown = ShownFigures(*row.Rec, subtree);
  switch (column) {
    case 2: return ReadableSizeText(UnzippedBytes(shown));
    case 3: return ReadableSizeText(shown.SzZips);
    case 5: return ReadableAgeText(shown.Recent, today);
    case 7: {
      std::int64_t saving = 0;
      return ShownSaving(*row.Rec, savings, subtree, saving) ? ReadableSizeText(saving) : std::string();
    }
    default: return CellText(row, column, today, savings, subtree);
  }
}

}  // namespace orbelan
