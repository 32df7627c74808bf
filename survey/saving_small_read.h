#pragma once
// Folders the scan found small (up to SmallLimit) and tiny ones (up to WholeLimit), read as
// they are listed: what survey/saving_estimate.cpp dispatches to them. Internal to the
// estimate.

#include <atomic>
#include <cstdint>

#include "survey/disk_use.h"
#include "survey/file_draws.h"
#include "survey/saving_estimate.h"
#include "survey/saving_io.h"

namespace orbelan {

class DirReader;
struct ScanRules;

namespace saving {

// Every listed file compressed whole: exact but for what could not be read.
SavingEstimate EstimateWhole(int dirFd, const Listing& listing, const std::atomic<bool>* stop,
                             Workspace& ws);

// A tiny folder compressed whole as it is listed (by the scan's names where it kept them:
// CountedEntries). With the scan's disk use, its files are deflated largest first only
// until the archive's block count is settled (survey/settled_blocks.h): exact then only
// where every file was needed. False, having stopped reading, when its files now come to
// more than limit bytes (grown since the scan: it is sampled instead).
bool EstimateWholeDirect(DirReader& reader, const ScanRules& rules, std::int64_t limit, const FileDraws* draws,
                         const DiskUse* disk, const std::atomic<bool>* stop, Workspace& ws, SavingEstimate& out);

// A tiny folder whose archive takes the same blocks whatever its files save, told by the
// scan's figures alone (use; bytes: its unzipped bytes): Known without opening it, its
// byte saving anywhere from nothing to all of its files' bytes, the middle as the point.
// False, out untouched, otherwise.
bool TinyFolderSettledUnread(const DiskUse& use, std::int64_t bytes, SavingEstimate& out);

// A small folder read as it is listed (survey/saving_small.h; by the scan's names where it
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
