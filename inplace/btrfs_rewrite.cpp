#include "inplace/btrfs_rewrite.h"

#include <linux/btrfs.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

// Newer than some kernel headers: the level rides in the compression field's second byte,
// and an uncompressed rewrite has a flag of its own.
#ifndef BTRFS_DEFRAG_RANGE_COMPRESS_LEVEL
#define BTRFS_DEFRAG_RANGE_COMPRESS_LEVEL 4
#endif
#ifndef BTRFS_DEFRAG_RANGE_NOCOMPRESS
#define BTRFS_DEFRAG_RANGE_NOCOMPRESS 8
#endif

namespace orbelan {
namespace {

constexpr std::uint8_t kZstd = 3;  // BTRFS_COMPRESS_ZSTD, as the ioctl numbers codecs
// Writeback starts with each range, so the kernel compresses while the next one is read,
// and little is left in memory to write when the run ends or is stopped.
constexpr std::uint64_t kStartIo = BTRFS_DEFRAG_RANGE_START_IO;

int Defrag(int fd, btrfs_ioctl_defrag_range_args& args) {
  for (;;) {
    if (::ioctl(fd, BTRFS_IOC_DEFRAG_RANGE, &args) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

}  // namespace

int RewriteRange(int fd, std::uint64_t start, std::uint64_t length, const RewriteWay& way,
                 RewriteSupport& support) {
  btrfs_ioctl_defrag_range_args args;
  std::memset(&args, 0, sizeof args);
  args.start = start;
  args.len = length;
  // extent_thresh 0: the kernel's own. Compressing, it rewrites every extent not yet
  // compressed that way; uncompressed, every compressed one.
  if (!way.Compress) {
    if (support.UncompressRefused) return EOPNOTSUPP;
    args.flags = kStartIo | BTRFS_DEFRAG_RANGE_NOCOMPRESS;
    const int error = Defrag(fd, args);
    // Older kernels refuse a flag they do not know with EOPNOTSUPP (or EINVAL).
    if (error == EOPNOTSUPP || error == EINVAL) {
      support.UncompressRefused = true;
      return EOPNOTSUPP;
    }
    return error;
  }
  if (!support.LevelRefused) {
    args.flags = kStartIo | BTRFS_DEFRAG_RANGE_COMPRESS | BTRFS_DEFRAG_RANGE_COMPRESS_LEVEL;
    // The type in the first byte of the compression field, the signed level in the second.
    unsigned char* field = reinterpret_cast<unsigned char*>(&args.compress_type);
    field[0] = kZstd;
    field[1] = static_cast<unsigned char>(static_cast<signed char>(way.Level));
    const int error = Defrag(fd, args);
    if (error != EOPNOTSUPP && error != EINVAL) return error;
    support.LevelRefused = true;
  }
  args.flags = kStartIo | BTRFS_DEFRAG_RANGE_COMPRESS;
  args.compress_type = kZstd;
  return Defrag(fd, args);
}

}  // namespace orbelan
