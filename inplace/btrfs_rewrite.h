#pragma once
// Rewriting a range of a btrfs file in place through the defragment ioctl: compressed with
// a codec and level, or uncompressed. The kernel writes the new extents before it lets go
// of the old ones, so the file's content is whole at every moment, whatever happens to us.

#include <cstdint>

namespace orbelan {

// How a range is rewritten.
struct RewriteWay {
  bool Compress = true;  // false: rewritten uncompressed
  int Level = 3;         // zstd's level (compressing)
};

// What the kernel let a rewrite do, remembered across the files of one run so that a
// refused flag is asked for once.
struct RewriteSupport {
  bool LevelRefused = false;         // the level flag is unknown here: the kernel's default level
  bool UncompressRefused = false;    // no flag for an uncompressed rewrite here
};

// Rewrites length bytes of the open regular file fd from start; the descriptor may be
// read-only (the kernel checks write permission on the file instead). Returns 0 or an
// errno value. Where the kernel does not know the level flag, rewrites at its default
// level and notes it in support; where it cannot rewrite uncompressed, returns EOPNOTSUPP
// and notes that.
int RewriteRange(int fd, std::uint64_t start, std::uint64_t length, const RewriteWay& way,
                 RewriteSupport& support);

}  // namespace orbelan
