#pragma once
// Folders of few blocks: one block of the archive is many points of what such a folder
// holds, and an estimate near a block's edge lands a block off as often as not. When an
// estimate leaves the archive's block count open (ArchiveBlocksInDoubt), the folder is
// deflated with the zipper's own zlib, which gives each member's bytes as the zipper
// writes them. (libdeflate first, and zlib only where its figure still left the block
// open, read twice the bytes for the same cost on /usr/share: most such folders stayed open.)
// Largest file first, and only until the files left, each saving anything from nothing to
// all of its bytes, can no longer move the block count (survey/settled_blocks.h): the
// block count is the zipper's either way, the byte figure exact only where every file was
// needed. Internal to the estimate.

#include <atomic>
#include <cstdint>
#include <vector>

#include "survey/disk_saving.h"
#include "survey/saving_estimate.h"
#include "survey/saving_io.h"

namespace orbelan::saving {

// The listed folder's files deflated as the zipper does, until use's block count is
// settled (use: the scan's disk use of the folder). Not Known when they cannot all be read
// as listed (unreadable, shrunk since, more than twice kFewBlocks bytes) or once stop is
// set: the caller keeps its estimate.
SavingEstimate SettleFewBlocks(int dirFd, const Listing& listing, const DiskUse& use,
                               const std::atomic<bool>* stop, Workspace& ws);

// The same for files already held in memory, whole (a tiny folder's: read once); files in
// any order. Bytes: the folder's unzipped bytes, as FinishOthers gives them.
struct HeldFile {
  const unsigned char* data;
  std::int64_t size;
};
SavingEstimate SettleHeld(std::vector<HeldFile> files, std::int64_t bytes, const DiskUse& use, Workspace& ws);

}  // namespace orbelan::saving
