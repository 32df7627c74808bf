#include "survey/settled_blocks.h"

#include "survey/disk_saving.h"
#include "survey/saving_estimate.h"

namespace orbelan::saving {

bool ArchiveBlocksSettled(const DiskUse& use, std::int64_t low, std::int64_t high) {
  if (use.Members <= 0 || use.Bytes <= 0 || low > high) return false;
  // The disk figures' own reckoning, not a copy of it: below nothing allowed, so that a
  // clamp at nothing cannot hide a difference in blocks, and taken as the zipper's bytes,
  // so that a point is not widened.
  SavingEstimate probe;
  probe.Known = true;
  probe.AsZipped = true;
  probe.Low = probe.Saving = low;
  probe.High = high;
  AddDiskFigures(use, probe, /*belowNothing=*/true);
  return probe.DiskLow == probe.DiskHigh;
}

}  // namespace orbelan::saving
