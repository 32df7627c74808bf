#pragma once
// What the saving estimate's ways of reading a folder share: the per-thread compressors and
// buffers, opening and reading a folder's regular files without following links, the
// folder's listing as the scan would count it, and a file compressed whole. Internal to
// the estimate; not for callers outside survey/.

#include <sys/stat.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "estimate/byte_buffer.h"
#include "estimate/saving_figures.h"

struct libdeflate_compressor;
struct ZSTD_CCtx_s;
struct z_stream_s;
union LZ4_stream_u;

namespace orbelan {

struct DirEntry;
struct FileDraws;

class DirReader;
struct ScanRules;

namespace saving {

// Sums of sizes stop at the largest value instead of wrapping (sparse files on tmpfs).
std::int64_t AddSat(std::int64_t a, std::int64_t b);

// The compressors and the buffers a worker reuses from folder to folder.
struct Workspace {
  Workspace();
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  // Raw deflate size of data at level (libdeflate's, 1-12; 6 as the zipper's); size should
  // it fail.
  std::int64_t Compressed(const unsigned char* data, std::size_t size, int level = 6);
  // The fast codec's size of data (zstd at its fastest level, -1: the noise screen's and the
  // small folders' test of bytes that cannot shrink); size should it fail.
  std::int64_t FastSize(const unsigned char* data, std::size_t size);
  // The bytes data takes as a zip member, to the byte: the zipper's own deflate (zlib, raw,
  // level 6, as libarchive's zip writer sets it), or size when that does not shrink it
  // (the zipper then stores it). About twice libdeflate's time; libdeflate's stream at the
  // same level is mostly within a few percent of it, but on some text a fifth smaller.
  std::int64_t ZipperSize(const unsigned char* data, std::size_t size);
  // The fast codec's size of data when the history bytes just before it in the file are
  // already behind it: lz4 (acceleration 1) with the history as its dictionary. Its saving
  // follows the zipper's after a history (ZipperSizeAfter) closer than a cold codec's
  // does, in about two thirds of a cold zstd's time at level 1; size should it fail.
  std::int64_t FastSizeAfter(const unsigned char* history, std::size_t historySize,
                             const unsigned char* data, std::size_t size);
  // The bytes the zipper's deflate writes for data when the history bytes just before it
  // in the file are already behind it (a preset dictionary, as the stream's window would
  // hold them), not capped at size: what a block costs inside its member's stream, at
  // about the time libdeflate takes for history and block together.
  std::int64_t ZipperSizeAfter(const unsigned char* history, std::size_t historySize,
                               const unsigned char* data, std::size_t size);

  std::array<libdeflate_compressor*, 13> compressors{};  // by level, made when first asked
  ZSTD_CCtx_s* fast;
  z_stream_s* zipper;
  // lz4's state: FastSizeAfter's, and the small folders' yardstick's (YardstickSize).
  LZ4_stream_u* lz4;
  ByteBuffer in, out;  // never cleared: always written before they are read
  // A small folder's file longer than its head, read whole: kept from file to file, as in
  // changes hands with a batch's buffers, which are not kept that large.
  ByteBuffer longFile;
};

Workspace& ThreadWorkspace();

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd();
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
 private:
  int fd_;
};

// A file of the folder opened read-only, without following a link, never blocking, and
// without touching its access time where the user may ask that; -1 when it cannot be
// opened. O_NOATIME is refused on files the user does not own; a caller opening several
// files of one folder passes noAtimeRefused (false at first), so that once refused it is
// not asked for again there: a folder's files mostly share their owner, and asking would
// cost every such file a second open.
int OpenForReading(int dirFd, const char* name, bool* noAtimeRefused = nullptr);

// A regular file of the folder, opened as OpenForReading opens it; -1 for anything else,
// with errno EACCES when it may not be read and EINVAL when it is not a regular file.
// stOut receives its fstat.
int OpenRegular(int dirFd, const char* name, struct stat& stOut, bool* noAtimeRefused = nullptr);

// Reads up to size bytes at offset; what a short file gives. -1 on a read error.
std::int64_t ReadAt(int fd, unsigned char* buffer, std::int64_t size, std::int64_t offset);
// One read of up to size bytes at offset (a read interrupted by a signal is made again);
// -1 on an error.
std::int64_t ReadOnce(int fd, unsigned char* buffer, std::int64_t size, std::int64_t offset);

struct FileEntry {
  std::size_t nameOffset;  // into the folder's name arena, NUL-terminated
  std::int64_t size;
  std::int64_t allocated = -1;  // st_blocks * 512 as listed (-1: not known)
};

struct Listing {
  std::string names;
  std::vector<FileEntry> files;  // regular files
  std::int64_t regularBytes = 0;
  std::int64_t otherBytes = 0;   // links and other entries: never opened, save nothing
};

inline bool Stopped(const std::atomic<bool>* stop) {
  return stop != nullptr && stop->load(std::memory_order_relaxed);
}

// The next entry the scan would count into Unzipped, judged by its name and the directory's
// word on its type alone (no stat): not hidden, not a folder, not an archive or ignored.
// False at the folder's end, or once stop is set (polled at every entry, counted or not,
// so that a folder of many passed-over names still stops at once).
bool NextCountedEntry(DirReader& reader, const ScanRules& rules, const std::atomic<bool>* stop,
                      DirEntry& entry);

// The entries the scan would count into Unzipped, one by one in the order of the directory:
// listed from the folder (NextCountedEntry), or, where the scan kept the folder's names
// (FileDraws::HasNames), taken from those, each a regular file (DT_REG) as the scan found
// it. The other entries (links, pipes) then come as their bytes alone (KeptOtherBytes),
// not one by one.
class CountedEntries {
 public:
  CountedEntries(DirReader& reader, const ScanRules& rules, const FileDraws* draws);
  // False at the folder's end, or once stop is set (polled at every entry).
  bool Next(const std::atomic<bool>* stop, DirEntry& entry);
  // The other entries' bytes as the scan found them when its names are used, else 0.
  std::int64_t KeptOtherBytes() const { return keptOther_; }

 private:
  DirReader& reader_;
  const ScanRules& rules_;
  const std::string* names_ = nullptr;  // the scan's, when kept
  std::size_t at_ = 0;
  std::int64_t keptOther_ = 0;
};

// The entries the scan would count into Unzipped, as they stand now.
bool ListFolder(DirReader& reader, const ScanRules& rules, const std::atomic<bool>* stop,
                Listing& out);

// The listing the scan kept of the folder (FileDraws::HasListing), as ListFolder would give
// it were the folder unchanged: the same names in the same order, with the sizes the scan
// found. Spares the estimate a stat of every file.
void ListingOfScan(const FileDraws& draws, Listing& out);

struct WholeFile {
  bool readable = false;
  std::int64_t saving = 0;
  std::int64_t read = 0;     // bytes read (== compressed)
  std::int64_t missing = 0;  // listed bytes that could not be read
};

// Which deflate measures a whole file: libdeflate (the estimate's), or the zipper's own zlib
// (Workspace::ZipperSize), which gives the member's bytes exactly at about twice the time.
enum class Deflater { kEstimate, kZipper };

// Compresses an open file whole, at most size bytes of it.
WholeFile CompressOpenFile(int fd, std::int64_t size, Workspace& ws, Deflater deflater = Deflater::kEstimate);

// Compresses one file whole, at most its listed size. A caller reading several files of one
// folder passes noAtimeRefused, as to OpenRegular.
WholeFile CompressWhole(int dirFd, const char* name, std::int64_t size, Workspace& ws,
                        Deflater deflater = Deflater::kEstimate, bool* noAtimeRefused = nullptr);

// est with its Bytes set to the listing's (regular and other) bytes.
SavingEstimate FinishOthers(SavingEstimate est, const Listing& listing);

// The random shift's seed: the caller's seed and the folder's files (names and sizes), so
// that the same folder gives the same estimate wherever it lies and whichever thread runs it.
std::uint64_t FolderSeed(std::uint64_t seed, const Listing& listing);

}  // namespace saving
}  // namespace orbelan
