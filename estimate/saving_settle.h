#pragma once
// Folders of few blocks: one block of the archive is many points of what such a folder
// holds, and an estimate near a block's edge lands a block off as often as not. When an
// estimate leaves the archive's block count open (ArchiveBlocksInDoubt), the folder is
// deflated whole with the zipper's own zlib, which gives each member's bytes as the zipper
// writes them. (libdeflate first, and zlib only where its figure still left the block
// open, read twice the bytes for the same cost on /usr/share: most such folders stayed open.)
// Internal to the estimate.

#include <atomic>
#include <cstdint>

#include "estimate/disk_saving.h"
#include "estimate/saving_figures.h"
#include "estimate/saving_io.h"

namespace orbelan::saving {

// The listed folder's files deflated whole, exactly as the zipper does. Not Known when they
// cannot all be read as listed (unreadable, shrunk since, more than twice kFewBlocks bytes)
// or once stop is set: the caller keeps its estimate.
SavingEstimate SettleFewBlocks(int dirFd, const Listing& listing, const std::atomic<bool>* stop,
                               Workspace& ws);

}  // namespace orbelan::saving
