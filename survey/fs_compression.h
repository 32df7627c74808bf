#pragma once
// File systems that compress what they store (btrfs mounted with compress= or
// compress-force=): their allocated blocks (st_blocks) count file bytes before compression,
// so the space a file really takes must be estimated. Which mounts compress comes from
// /proc/self/mountinfo; which of a file's extents are stored compressed from FIEMAP (no root
// needed); what they take from compressing samples of them as the file system does: each
// extent of at most 128 KiB on its own, with the mount's codec and level, rounded up to the
// sector. On file systems whose st_blocks already tell compressed space (ZFS and others),
// nothing of this is needed.
// The same walk of the extents tells which of them the file shares with other files or
// snapshots (btrfs and XFS reflinks, btrfs snapshots): those blocks stay in use when the
// file goes, so they give nothing back.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct fiemap;

namespace orbelan {

enum class FsCodec : std::uint8_t { None, Zstd, Zlib, Lzo };

struct FsCompression {
  FsCodec Codec = FsCodec::None;
  int Level = 0;  // as the mount names it (zstd and zlib; 0: the file system's default of 3)
  bool Compresses() const { return Codec != FsCodec::None; }
};

// The compression one mount's options ask for ("compress=zstd:3", "compress-force=lzo", ...).
FsCompression CompressionFromOptions(std::string_view fsType, std::string_view superOptions);

// Whether a file system of this type lets files share extents (reflinked copies, snapshots).
bool SharesExtents(std::string_view fsType);

// What a mount does with its files' blocks.
struct MountFacts {
  FsCompression Compression;
  bool SharesExtents = false;
  // Whether its files' extents must be asked for to tell what they take and give back.
  bool AskExtents() const { return Compression.Compresses() || SharesExtents; }
};

struct MountCompression {
  std::uint64_t Device = 0;  // as mountinfo tells it (btrfs gives its files other st_dev)
  std::string Point;         // unescaped
  MountFacts Facts;
};
// Every mount of a /proc/self/mountinfo text, with what it compresses and shares.
std::vector<MountCompression> ParseMountCompression(std::string_view mountinfo);

// The facts of the mount a folder lies on, from /proc/self/mountinfo: the mount of its
// files' st_dev, else (btrfs gives each subvolume a device of its own, which mountinfo does
// not show) the mount whose point is the longest prefix of its path. Remembered by device;
// the table is read again for a device not seen before (a mount that appeared since).
// Thread-safe.
MountFacts MountFactsOfFolder(std::uint64_t device, std::string_view path);

// The bytes a chunk of data takes on disk once the file system has compressed it: the
// codec's output rounded up to sector bytes, or the chunk itself when that is no smaller.
std::int64_t StoredChunkBytes(const FsCompression& compression, const unsigned char* data,
                              std::size_t size, std::int64_t sector = 4096);

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
struct FsMeasure {
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

// Measures the regular files of the folder open at dirFd that counted(name) accepts, on a
// mount with compression c (none: only what they share is told), which shares extents when
// sharing says so. Each inode once; the inodes held (other names outside the folder keep all
// their blocks) are skipped. Reads at most about budget bytes of compressed extents.
FsMeasure MeasureFsCompression(int dirFd, const std::function<bool(std::string_view)>& counted,
                               const FsCompression& c, std::uint64_t seed, std::int64_t budget,
                               const std::atomic<bool>* stop,
                               const std::vector<std::uint64_t>& heldInodes = {}, bool sharing = false);

}  // namespace orbelan
