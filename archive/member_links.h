#pragma once
// Hard links among a zip's members. A file's blocks come back only when the last of its
// names goes: a file whose every name is among the members gives back its disk space once,
// however many of them there are; one that keeps a name anywhere else gives back nothing
// (its bytes still go into the archive under each name).

#include <cstdint>
#include <vector>

#include "archive/folder_zipper.h"

namespace orbelan {

struct LinkTally {
  // Disk space given back once all of the members go: each file's blocks once, those of
  // files with a name outside the members left out.
  std::int64_t Allocated = 0;
  std::int64_t Elsewhere = 0;  // members whose file keeps a name outside them: they free nothing
  std::int64_t Together = 0;   // members whose file has several names, every one among them
  // Blocks of the members' files in extents shared with other files or snapshots: left out
  // of Allocated, they stay in use (each file once).
  std::int64_t Shared = 0;
  // Of the blocks that come back, what the file system's compression already spared: left
  // out of Allocated as well.
  std::int64_t FsSaved = 0;
};

// members: each at most once. A file is told by its device and inode, its names by the
// link count each member was last seen with (the highest, should they differ).
LinkTally TallyLinks(const std::vector<const ZipMember*>& members);
LinkTally TallyLinks(const std::vector<ZipMember>& members);

}  // namespace orbelan
