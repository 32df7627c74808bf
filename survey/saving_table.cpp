#include "survey/saving_table.h"

#include <algorithm>

#include "survey/figures.h"

namespace orbelan {
namespace {

// value / total as a whole percentage, rounded half up; total > 0.
std::int64_t PercentOf(std::int64_t value, std::int64_t total) {
  const __int128 scaled = static_cast<__int128>(std::max<std::int64_t>(value, 0)) * 200 / total;
  return static_cast<std::int64_t>((scaled + 1) / 2);
}

}  // namespace

const SavingEstimate* SavingTable::Find(const FolderRec& rec) const {
  const auto found = byRecord_.find(&rec);
  return found == byRecord_.end() ? nullptr : &found->second;
}

void SavingTable::Set(const FolderRec& rec, const SavingEstimate& estimate) {
  byRecord_[&rec] = estimate;
}

std::string SavingSentence(const SavingEstimate* estimate, std::int64_t unzippedBytes) {
  if (!estimate) return "Not estimated yet";
  if (!estimate->Known) return "Not estimated: none of its files could be read";
  // The share is of the bytes the estimate found, which may have changed since the scan.
  const std::int64_t total = estimate->Bytes > 0 ? estimate->Bytes : unzippedBytes;
  if (estimate->Saving <= 0) {
    std::string text = "Zipping would free nothing measurable";
    // A few draws of a small folder may leave room above nothing: say how much.
    if (!estimate->Exact() && total > 0 && PercentOf(estimate->High, total) >= 1)
      text += " (at most " + std::to_string(PercentOf(estimate->High, total)) + "%)";
    return text;
  }
  std::string text = "Zipping would free ";
  if (!estimate->Exact()) text += "about ";
  text += GroupedNumber(estimate->Saving) + " bytes";
  if (total <= 0) return text;
  const std::int64_t percent = PercentOf(estimate->Saving, total);
  text += " (" + std::to_string(percent) + "%";
  if (!estimate->Exact()) {
    const std::int64_t margin = std::max<std::int64_t>(
        PercentOf(std::max(estimate->Saving - estimate->Low, estimate->High - estimate->Saving), total), 1);
    // The few draws of a small folder give a wide interval; "± m" past 0 or 100 would say
    // what cannot be, so such an interval is given by its ends.
    if (percent - margin < 0 || percent + margin > 100)
      text += ", between " + std::to_string(PercentOf(estimate->Low, total)) + "% and " +
              std::to_string(std::min<std::int64_t>(PercentOf(estimate->High, total), 100)) + "%";
    else
      text += " \u00b1 " + std::to_string(margin) + "%";
  }
  return text + ")";
}

}  // namespace orbelan
