#pragma once
// What a mount does with its files' blocks: whether it compresses them, and whether its
// files can share extents (reflinked copies, snapshots). Told by /proc/self/mountinfo.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fsfacts/fs_compression.h"

namespace orbelan {

// Whether a file system of this type lets files share extents (reflinked copies, snapshots).
bool SharesExtents(std::string_view fsType);

// What a mount does with its files' blocks.
struct MountFacts {
  FsCompression Compression;
  bool SharesExtents = false;
  // Whether its files' extents must be asked for to tell what they take and give back.
  bool AskExtents() const { return Compression.Compresses() || SharesExtents; }
};

struct MountEntry {
  std::uint64_t Device = 0;  // as mountinfo tells it (btrfs gives its files other st_dev)
  std::string Point;         // unescaped
  MountFacts Facts;
};
// Every mount of a /proc/self/mountinfo text, with what it compresses and shares.
std::vector<MountEntry> ParseMounts(std::string_view mountinfo);

// The facts of the mount a folder lies on, from /proc/self/mountinfo: the mount of its
// files' st_dev, else (btrfs gives each subvolume a device of its own, which mountinfo does
// not show) the mount whose point is the longest prefix of its path. Remembered by device;
// the table is read again for a device not seen before (a mount that appeared since).
// Thread-safe.
MountFacts MountFactsOfFolder(std::uint64_t device, std::string_view path);

}  // namespace orbelan
