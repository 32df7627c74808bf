#include "survey/saving_table.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "survey/figure_text.h"

namespace orbelan {

const SavingEstimate* SavingTable::Find(const FolderRec& rec) const {
  const auto found = byRecord_.find(&rec);
  return found == byRecord_.end() ? nullptr : &found->second;
}

void SavingTable::Set(const FolderRec& rec, const SavingEstimate& estimate) {
  byRecord_[&rec] = estimate;
}

std::string DecimalSize(std::int64_t bytes) {
  if (bytes < 1000) return GroupedNumber(std::max<std::int64_t>(bytes, 0)) + (bytes == 1 ? " byte" : " bytes");
  static const char* const kUnits[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
  double value = static_cast<double>(bytes) / 1000.0;
  std::size_t unit = 0;
  // 999.95 kB and up rounds to 1,000.0 kB: the next unit reads better.
  while (value >= 999.95 && unit + 1 < std::size(kUnits)) {
    value /= 1000.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string SavingSentence(const SavingEstimate* estimate, std::int64_t /*unzippedBytes*/) {
  if (!estimate) return "Not estimated yet";
  if (!estimate->Known) return "Not estimated: none of its files could be read";
  const bool exact = estimate->DiskLow == estimate->DiskHigh;
  std::string text;
  if (estimate->Disk <= 0) {
    text = "Gives back no disk space";
    // A sample may leave room above nothing: say how much.
    if (!exact && estimate->DiskHigh > 0) text += ", at most " + DecimalSize(estimate->DiskHigh);
  } else {
    text = std::string("Gives back ") + (exact ? "" : "about ") + DecimalSize(estimate->Disk) + " of disk";
    if (!exact)
      text += ", between " + DecimalSize(estimate->DiskLow) + " and " + DecimalSize(estimate->DiskHigh);
  }
  text += " (file contents shrink by " + DecimalSize(std::max<std::int64_t>(estimate->Saving, 0));
  // What could not be read or measured is inside the interval; say how much it was.
  const std::int64_t unmeasured = estimate->Unreadable + estimate->FsUnmeasured;
  if (unmeasured > 0) text += "; " + DecimalSize(unmeasured) + " could not be measured";
  // Why blocks the files take come back smaller or not at all.
  const std::int64_t kept = estimate->Held + estimate->Shared;
  if (kept > 0) text += "; " + DecimalSize(kept) + " stays in use by other links, copies or snapshots";
  return text + ")";
}

}  // namespace orbelan
