#pragma once
// A folder's files' extents as FIEMAP tells them (no root needed): which are stored
// compressed where the mount compresses, and what those take (fsfacts/fs_compression.h);
// which the files share with other files or snapshots (btrfs and XFS reflinks, btrfs
// snapshots), whose blocks stay in use when the files go and so give nothing back.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "fsfacts/fs_compression.h"

struct fiemap;

namespace orbelan {

// How a file's extents are asked for: ioctl(fd, FS_IOC_FIEMAP, map) unless replaced (tests
// refuse it or change the layout between requests). Returns 0, or -1 with errno set.
using FiemapRequest = int (*)(int fd, struct ::fiemap* map);
// Replaces it for every thread (nullptr: the ioctl again); returns the one it replaced.
FiemapRequest SetFiemapRequest(FiemapRequest request);

// One extent a folder's files share, where it lies on the disk: a folder above it may hold
// every file that shares it (a copy in one subfolder, its original in another).
struct SharedPlace {
  std::uint64_t Physical = 0;
  std::int64_t Length = 0;
  bool Within = false;  // met twice in this folder already: counted in its SharedWithin
};

// What the counted files of one folder take on disk where the file system compresses them,
// and what of it they share.
struct FolderExtents {
  std::int64_t Compressed = 0;  // logical bytes in extents stored compressed, plus Unmeasured
  std::int64_t Stored = 0, StoredLow = 0, StoredHigh = 0;  // what those take, with a 95% interval
  std::int64_t Unmeasured = 0;  // allocated bytes of files FIEMAP or reading refused
  std::int64_t Read = 0;        // bytes read to measure
  // Allocated bytes in extents shared with other files or snapshots (not in Compressed),
  // each file's own; of them, the extents found in two or more of the folder's own files,
  // once each: those go too if nothing outside the folder shares them, which cannot be told.
  std::int64_t Shared = 0, SharedWithin = 0;
  // The shared extents by place, each once (none when there are more than some thousands).
  std::shared_ptr<const std::vector<SharedPlace>> Places;
  // Bytes kept inline in the metadata, whose sharing FIEMAP does not tell (on a mount that
  // shares); of them, what is taken as shared (all, where most of the rest is).
  std::int64_t InlineUnsure = 0, InlineShared = 0;
};

// Allocated bytes of the open file fd (size bytes) in extents it shares with other files or
// snapshots, and those of its data kept inline in the metadata (whose sharing FIEMAP does
// not tell); where the mount compresses (c), also what of its other blocks the file
// system's compression spares, its compressed extents read and compressed as the file
// system does. Nothing when FIEMAP is refused.
struct FileSharing {
  std::int64_t Shared = 0, Inline = 0;
  std::int64_t FsSaved = 0;
};
FileSharing SharingOfFile(int fd, std::int64_t size, const FsCompression& c = {});

// Data kept inline in the metadata is shared with a snapshot as its metadata is, which
// FIEMAP does not tell: it is taken as shared where most of the other blocks (shared
// against other) are shared, as a snapshot's are.
inline bool InlineTakenAsShared(std::int64_t shared, std::int64_t other) { return shared > 0 && shared >= other; }

// Measures the regular files of the folder open at dirFd that counted(name) accepts, on a
// mount with compression c (none: only what they share is told), which shares extents when
// sharing says so. Each inode once; the inodes held (other names outside the folder keep all
// their blocks) are skipped. Reads at most about budget bytes of compressed extents.
FolderExtents MeasureFolderExtents(int dirFd, const std::function<bool(std::string_view)>& counted,
                               const FsCompression& c, std::uint64_t seed, std::int64_t budget,
                               const std::atomic<bool>* stop,
                               const std::vector<std::uint64_t>& heldInodes = {}, bool sharing = false);

}  // namespace orbelan
