#pragma once
// Whether a folder's archive takes the same number of blocks wherever its byte saving lies
// within bounds. Its disk figures are then fixed however the bytes inside those bounds
// compress, so the files that could move the saving only within them need not be deflated:
// most tiny folders' archives fit their first block whatever their files save (a copyright
// file alone in its folder), and a short file beside a long one seldom moves a block edge.
// Internal to the estimate.

#include <cstdint>

#include "survey/disk_use.h"

namespace orbelan::saving {

// True when a byte saving anywhere in [low, high] gives the archive (as AddDiskFigures
// reckons it, manifest slack included) one block count. False for a folder the scan gave
// no regular files or bytes: its use says nothing then.
bool ArchiveBlocksSettled(const DiskUse& use, std::int64_t low, std::int64_t high);

}  // namespace orbelan::saving
