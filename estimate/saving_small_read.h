#pragma once
// Folders the scan found small (up to SmallLimit) and tiny ones (up to WholeLimit), read as
// they are listed: what estimate/estimate_route.cpp dispatches to them. Internal to the
// estimate.

#include <atomic>
#include <cstdint>

#include "estimate/saving_figures.h"
#include "estimate/saving_io.h"
#include "scan/file_draws.h"

namespace orbelan {

class DirReader;
struct ScanRules;

namespace saving {

// Every listed file compressed whole: exact but for what could not be read.
SavingEstimate EstimateWhole(int dirFd, const Listing& listing, const std::atomic<bool>* stop,
                             Workspace& ws);

// A tiny folder compressed whole as it is listed (by the scan's names where it kept them:
// CountedEntries). False, having stopped reading, when its files now come to more than
// limit bytes (grown since the scan: it is sampled instead).
bool EstimateWholeDirect(DirReader& reader, const ScanRules& rules, std::int64_t limit, const FileDraws* draws,
                         const std::atomic<bool>* stop, Workspace& ws, SavingEstimate& out);

// A small folder read as it is listed (estimate/saving_small.h; by the scan's names where it
// kept them: CountedEntries). With the scan's draws, the
// files they skip are not opened (FileDraws::Skipped) unless the sample of short files
// leaves an interval wider than kShortWidthShare of allocated (the folder's allocated bytes
// as the scan found them). False, having stopped reading, when its files now come to more
// than limit bytes.
bool EstimateSmallDirect(DirReader& reader, const ScanRules& rules, std::int64_t limit,
                         std::uint64_t seed, const FileDraws* draws, std::int64_t allocated,
                         const std::atomic<bool>* stop, Workspace& ws, SavingEstimate& out);

}  // namespace saving
}  // namespace orbelan
