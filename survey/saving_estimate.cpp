// The saving estimate of one folder: reading, compressing and drawing. How the sample is
// drawn and why the interval is what it is: docs/saving-estimate.md.

#include "survey/saving_estimate.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <zstd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/dir_reader.h"
#include "survey/figures.h"
#include "survey/disk_saving.h"
#include "survey/file_draws.h"
#include "survey/fs_compression.h"
#include "survey/folder_list.h"
#include "survey/random_bits.h"
#include "survey/saving_interval.h"
#include "survey/saving_small.h"

namespace orbelan {
namespace {

constexpr int kMinDraws = 16;       // draws a folder takes before its budget may stop it...
constexpr int kFewestDraws = 4;     // ...or this many, when its budget is small
constexpr double kDrawsPerBudget = 32;  // what the sampling unit is sized for
constexpr int kMaxDraws = 1 << 16;  // draws that read nothing (holes, known files) end here
constexpr double kGoldenStep = 0.61803398874989484820;
// Files up to this size are one unit, compressed whole when drawn: exact, read once, and
// cheaper than blocks that each read their history again.
constexpr std::int64_t kWholeFileUnit = 64 * 1024;
// Compressed extents a folder on a compressing mount has read whole to tell what they take;
// beyond it, a sample of them.
constexpr std::int64_t kFsBudget = 1 << 20;
// Sums of sizes stop at the largest value instead of wrapping (sparse files on tmpfs).
std::int64_t AddSat(std::int64_t a, std::int64_t b) {
  AddSize(a, b);
  return a;
}

// One deflate compressor and the buffers a worker reuses from folder to folder.
struct Workspace {
  Workspace() : compressor(libdeflate_alloc_compressor(6)), fast(ZSTD_createCCtx()) {}
  ~Workspace() {
    libdeflate_free_compressor(compressor);
    ZSTD_freeCCtx(fast);
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  // Raw deflate size of data at level 6; size + 5 per 64 KiB (stored) should it fail.
  std::int64_t Compressed(const unsigned char* data, std::size_t size) {
    if (compressor == nullptr) return static_cast<std::int64_t>(size);
    const std::size_t bound = libdeflate_deflate_compress_bound(compressor, size);
    if (out.size() < bound) out.resize(bound);
    const std::size_t n = libdeflate_deflate_compress(compressor, data, size, out.data(), out.size());
    return n == 0 ? static_cast<std::int64_t>(size) : static_cast<std::int64_t>(n);
  }

  // The fast codec's size of data (zstd at its fastest level); size should it fail.
  std::int64_t FastSize(const unsigned char* data, std::size_t size) {
    if (fast == nullptr) return static_cast<std::int64_t>(size);
    const std::size_t bound = ZSTD_compressBound(size);
    if (out.size() < bound) out.resize(bound);
    const std::size_t n = ZSTD_compressCCtx(fast, out.data(), out.size(), data, size, -1);
    return ZSTD_isError(n) ? static_cast<std::int64_t>(size) : static_cast<std::int64_t>(n);
  }

  libdeflate_compressor* compressor;
  ZSTD_CCtx* fast;
  std::vector<unsigned char> in, out;
};

Workspace& ThreadWorkspace() {
  thread_local Workspace workspace;
  return workspace;
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { if (fd_ >= 0) close(fd_); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
 private:
  int fd_;
};

// A regular file of the folder, read-only, without following a link, never blocking;
// -1 for anything else, with errno EACCES when it may not be read and EINVAL when it is
// not a regular file. stOut receives its fstat.
int OpenRegular(int dirFd, const char* name, struct stat& stOut) {
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  int fd = openat(dirFd, name, kFlags | O_NOATIME);
  if (fd < 0 && errno == EPERM) fd = openat(dirFd, name, kFlags);  // not the owner
  if (fd < 0) return -1;
  if (fstat(fd, &stOut) != 0 || !S_ISREG(stOut.st_mode)) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

// Reads up to size bytes at offset; what a short file gives. -1 on a read error.
std::int64_t ReadAt(int fd, unsigned char* buffer, std::int64_t size, std::int64_t offset) {
  std::int64_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd, buffer + done, static_cast<std::size_t>(size - done), offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

// The saving rate of the length bytes at start of an open file, measured after up to prime
// bytes of the history before them; a block wholly inside a hole saves all but what deflate
// leaves of zeros and reads nothing. -1 when the file has shrunk below the block. read grows by the bytes read.
double BlockRate(int fd, const struct stat& st, std::int64_t start, std::int64_t length,
                 std::int64_t prime, Workspace& ws, std::int64_t& read) {
  if (st.st_blocks * 512 < st.st_size) {
    const off_t data = lseek(fd, start, SEEK_DATA);
    if ((data < 0 && errno == ENXIO) || (data >= 0 && data >= start + length)) return kHoleRate;
  }
  const std::int64_t prior = std::min(prime, start);
  const std::int64_t want = prior + length;
  if (ws.in.size() < static_cast<std::size_t>(want)) ws.in.resize(static_cast<std::size_t>(want));
  const std::int64_t n = ReadAt(fd, ws.in.data(), want, start - prior);
  if (n > 0) read += n;
  if (n <= prior) return -1;
  const std::int64_t got = n - prior;
  const std::int64_t withPrior = ws.Compressed(ws.in.data(), static_cast<std::size_t>(n));
  const std::int64_t priorOnly = prior > 0 ? ws.Compressed(ws.in.data(), static_cast<std::size_t>(prior)) : 0;
  return std::clamp(1.0 - static_cast<double>(withPrior - priorOnly) / static_cast<double>(got), 0.0, 1.0);
}

struct FileEntry {
  std::size_t nameOffset;  // into the folder's name arena, NUL-terminated
  std::int64_t size;
};

struct Listing {
  std::string names;
  std::vector<FileEntry> files;  // regular files
  std::int64_t regularBytes = 0;
  std::int64_t otherBytes = 0;   // links and other entries: never opened, save nothing
};

// The folder's descriptor: below Root without following any link when the record lies
// there, else the record's path with its last component not followed.
bool OpenFolder(DirReader& reader, const FolderRec& rec, const EstimateOptions& options) {
  const std::string whole = rec.Path();
  std::string_view path = whole;
  std::string_view root = options.Root;
  if (!root.empty() && root.back() != '/') {
    if (path.size() > root.size() && path.substr(0, root.size()) == root && path[root.size()] == '/')
      root = path.substr(0, root.size() + 1);
    else
      root = {};
  }
  if (!root.empty() && path.substr(0, root.size()) == root) {
    DirReader base(4096);
    if (!base.OpenPath(root)) return false;
    std::string_view relative = path.substr(root.size());
    while (!relative.empty() && relative.back() == '/') relative.remove_suffix(1);
    return reader.OpenBelow(base.Fd(), relative);
  }
  std::string plain(path);
  while (plain.size() > 1 && plain.back() == '/') plain.pop_back();
  return reader.OpenChild(AT_FDCWD, plain.c_str());
}

// Folders a record may lie below its nearest kept ancestor before one more is kept, and
// how many descriptors one opener keeps at most.
constexpr int kKeepStride = 64;
constexpr std::size_t kKeepAtMost = 48;

bool Stopped(const std::atomic<bool>* stop) {
  return stop != nullptr && stop->load(std::memory_order_relaxed);
}

// The entries the scan would count into Unzipped, as they stand now.
bool ListFolder(DirReader& reader, const ScanRules& rules, const std::atomic<bool>* stop,
                Listing& out) {
  DirEntry entry;
  EntryStat stat;
  std::size_t seen = 0;
  while (reader.Next(entry)) {
    if ((++seen & 1023) == 0 && Stopped(stop)) return false;
    if (entry.Hidden() || entry.TypeIsDirectory()) continue;
    if (!IsUnzippedFile(entry.NameView(), rules)) continue;  // by name: no stat needed
    if (!reader.Stat(entry.Name, stat) || stat.Kind == EntryKind::Directory) continue;
    const std::int64_t size = std::max<std::int64_t>(stat.Size, 0);
    if (stat.Kind != EntryKind::File) {
      out.otherBytes = AddSat(out.otherBytes, size);
      continue;
    }
    out.files.push_back({out.names.size(), size});
    out.names.append(entry.Name, entry.NameLength);
    out.names.push_back('\0');
    out.regularBytes = AddSat(out.regularBytes, size);
  }
  return true;
}

struct WholeFile {
  bool readable = false;
  std::int64_t saving = 0;
  std::int64_t read = 0;     // bytes read (== compressed)
  std::int64_t missing = 0;  // listed bytes that could not be read
};

// Compresses an open file whole, at most size bytes of it.
WholeFile CompressOpenFile(int fd, std::int64_t size, Workspace& ws) {
  WholeFile result;
  result.missing = size;
  if (size == 0) {
    result.readable = true;
    return result;
  }
  if (ws.in.size() < static_cast<std::size_t>(size)) ws.in.resize(static_cast<std::size_t>(size));
  const std::int64_t n = ReadAt(fd, ws.in.data(), size, 0);
  if (n <= 0) return result;
  result.readable = true;
  result.read = n;
  result.missing = size - n;
  result.saving = std::max<std::int64_t>(0, n - ws.Compressed(ws.in.data(), static_cast<std::size_t>(n)));
  return result;
}

// Compresses one file whole, at most its listed size.
WholeFile CompressWhole(int dirFd, const char* name, std::int64_t size, Workspace& ws) {
  struct stat st;
  Fd fd(OpenRegular(dirFd, name, st));
  if (fd.get() < 0) {
    WholeFile none;
    none.missing = size;
    return none;
  }
  return CompressOpenFile(fd.get(), size, ws);
}

SavingEstimate FinishOthers(SavingEstimate est, const Listing& listing) {
  est.Bytes = AddSat(listing.regularBytes, listing.otherBytes);
  return est;
}

// The sums of a folder whose every file is compressed whole.
struct WholeSums {
  std::int64_t saving = 0, readBytes = 0, missing = 0;
  bool anyFile = false, anyReadable = false;
  void Add(const WholeFile& whole, std::int64_t size) {
    anyFile = true;
    anyReadable = anyReadable || (whole.readable && (whole.read > 0 || size == 0));
    saving += whole.saving;
    readBytes += whole.read;
    missing += whole.missing;
  }
};

SavingEstimate WholeResult(const WholeSums& sums, const Listing& listing) {
  SavingEstimate est;
  const std::int64_t saving = sums.saving, readBytes = sums.readBytes, missing = sums.missing;
  if (sums.anyFile && !sums.anyReadable) return FinishOthers(est, listing);
  est.Known = true;
  est.Sampled = readBytes;
  est.Unreadable = missing;
  // What could not be read saves between nothing and all of it; the point estimate gives
  // it the rate of what was read.
  const double rate = readBytes > 0 ? static_cast<double>(saving) / static_cast<double>(readBytes) : 0.0;
  est.Low = saving;
  est.High = AddSat(saving, missing);
  est.Saving = AddSat(saving, ToBytes(rate * static_cast<double>(missing)));
  return FinishOthers(est, listing);
}

SavingEstimate EstimateWhole(int dirFd, const Listing& listing, const std::atomic<bool>* stop,
                             Workspace& ws) {
  WholeSums sums;
  for (const FileEntry& file : listing.files) {
    if (Stopped(stop)) return {};
    sums.Add(CompressWhole(dirFd, listing.names.c_str() + file.nameOffset, file.size, ws), file.size);
  }
  return WholeResult(sums, listing);
}

// A folder the scan found small is compressed whole as it is listed, each regular file
// opened once and sized by its own descriptor (no separate stat). Returns false, having
// stopped reading, when its files now come to more than limit bytes: it has grown since
// the scan and is sampled instead.
bool EstimateWholeDirect(DirReader& reader, const ScanRules& rules, std::int64_t limit,
                         const std::atomic<bool>* stop, Workspace& ws, SavingEstimate& out) {
  WholeSums sums;
  Listing listing;  // only its byte counts are kept
  DirEntry entry;
  EntryStat stat;
  while (reader.Next(entry)) {
    if (Stopped(stop)) {
      out = {};
      return true;
    }
    if (entry.Hidden() || entry.TypeIsDirectory()) continue;
    if (!IsUnzippedFile(entry.NameView(), rules)) continue;
    if (entry.Type == DT_REG || entry.Type == DT_UNKNOWN) {
      struct stat st;
      Fd fd(OpenRegular(reader.Fd(), entry.Name, st));
      if (fd.get() >= 0) {
        const std::int64_t size = std::max<std::int64_t>(st.st_size, 0);
        listing.regularBytes = AddSat(listing.regularBytes, size);
        if (listing.regularBytes > limit) return false;
        sums.Add(CompressOpenFile(fd.get(), size, ws), size);
        continue;
      }
    }
    // Not openable as a regular file: a link, a pipe or device, a folder after all, gone,
    // or a file we may not read (its bytes are what could not be read).
    if (!reader.Stat(entry.Name, stat) || stat.Kind == EntryKind::Directory) continue;
    const std::int64_t size = std::max<std::int64_t>(stat.Size, 0);
    if (stat.Kind != EntryKind::File) {
      listing.otherBytes = AddSat(listing.otherBytes, size);
      continue;
    }
    listing.regularBytes = AddSat(listing.regularBytes, size);
    if (listing.regularBytes > limit) return false;
    WholeFile unreadable;
    unreadable.missing = size;
    sums.Add(unreadable, size);
  }
  out = WholeResult(sums, listing);
  return true;
}

// Whether data starts as a compressed format does: gzip, PNG, JPEG,
// xz, zstd, bzip2, 7z, WebP/RIFF, MP4/QuickTime, Ogg, FLAC, zip-like containers.
bool IsCompressedFormat(const unsigned char* d, std::size_t n) {
  auto starts = [&](std::initializer_list<unsigned char> magic, std::size_t at = 0) {
    if (n < at + magic.size()) return false;
    return std::equal(magic.begin(), magic.end(), d + at);
  };
  return starts({0x1f, 0x8b}) || starts({0x89, 'P', 'N', 'G'}) || starts({0xff, 0xd8, 0xff}) ||
         starts({0xfd, '7', 'z', 'X', 'Z'}) || starts({0x28, 0xb5, 0x2f, 0xfd}) || starts({'B', 'Z', 'h'}) ||
         starts({'7', 'z', 0xbc, 0xaf}) || starts({'R', 'I', 'F', 'F'}) || starts({'f', 't', 'y', 'p'}, 4) ||
         starts({'O', 'g', 'g', 'S'}) || starts({'f', 'L', 'a', 'C'}) || starts({'P', 'K', 3, 4});
}

// A folder the scan found small (up to SmallLimit) is read whole as it is listed, each
// regular file opened once and sized by its own descriptor: small files deflated exactly,
// larger ones sized by the fast codec, then a few slices of those compressed both ways to
// calibrate it (survey/saving_small.h). Returns false, having stopped reading, when its
// files now come to more than limit bytes: it has grown since the scan and is sampled.
bool EstimateSmallDirect(DirReader& reader, const ScanRules& rules, std::int64_t limit,
                         std::uint64_t seed, const std::atomic<bool>* stop, Workspace& ws,
                         SavingEstimate& out) {
  struct Measured {
    std::size_t nameOffset;
    std::int64_t size, fast;
  };
  SmallSums sums;
  std::vector<Measured> measured;  // the compressible larger files, which the slices calibrate
  std::string names;
  std::int64_t regularBytes = 0, otherBytes = 0, read = 0;
  DirEntry entry;
  EntryStat stat;
  while (reader.Next(entry)) {
    if (Stopped(stop)) {
      out = {};
      return true;
    }
    if (entry.Hidden() || entry.TypeIsDirectory()) continue;
    if (!IsUnzippedFile(entry.NameView(), rules)) continue;
    if (entry.Type == DT_REG || entry.Type == DT_UNKNOWN) {
      struct stat st;
      Fd fd(OpenRegular(reader.Fd(), entry.Name, st));
      if (fd.get() >= 0) {
        const std::int64_t size = std::max<std::int64_t>(st.st_size, 0);
        regularBytes = AddSat(regularBytes, size);
        if (regularBytes > limit) return false;
        if (size == 0) continue;
        if (ws.in.size() < static_cast<std::size_t>(size)) ws.in.resize(static_cast<std::size_t>(size));
        // A compressed format's stream (gzip, PNG, JPEG, xz, zstd, bzip2...) whose first
        // block zstd cannot shrink is taken as such throughout: the rest is not read.
        std::int64_t n = 0;
        if (size > kSmallExactFile) {
          n = std::max<std::int64_t>(ReadAt(fd.get(), ws.in.data(), kSmallSlice, 0), 0);
          if (n == kSmallSlice && IsCompressedFormat(ws.in.data(), static_cast<std::size_t>(n)) &&
              static_cast<double>(ws.FastSize(ws.in.data(), static_cast<std::size_t>(n))) >= kIncompressibleShare * static_cast<double>(n)) {
            read += n;
            sums.storedBytes += size;
            sums.storedFast += size;
            continue;
          }
          if (n == kSmallSlice) n += std::max<std::int64_t>(ReadAt(fd.get(), ws.in.data() + n, size - n, n), 0);
        } else {
          n = std::max<std::int64_t>(ReadAt(fd.get(), ws.in.data(), size, 0), 0);
        }
        read += n;
        sums.missing += size - n;
        if (n == 0) continue;
        if (n <= kSmallExactFile) {
          sums.exactBytes += n;
          sums.exactSaving += std::max<std::int64_t>(0, n - ws.Compressed(ws.in.data(), static_cast<std::size_t>(n)));
          continue;
        }
        const std::int64_t fast = ws.FastSize(ws.in.data(), static_cast<std::size_t>(n));
        if (static_cast<double>(fast) >= kIncompressibleShare * static_cast<double>(n)) {
          sums.storedBytes += n;
          sums.storedFast += fast;
          continue;
        }
        sums.modelBytes += n;
        sums.modelFast += fast;
        measured.push_back({names.size(), n, fast});
        names.append(entry.Name, entry.NameLength);
        names.push_back('\0');
        continue;
      }
    }
    // Not openable as a regular file: a link, a pipe or device, a folder after all, gone,
    // or a file we may not read (its bytes are what could not be read).
    if (!reader.Stat(entry.Name, stat) || stat.Kind == EntryKind::Directory) continue;
    const std::int64_t size = std::max<std::int64_t>(stat.Size, 0);
    if (stat.Kind != EntryKind::File) {
      otherBytes = AddSat(otherBytes, size);
      continue;
    }
    regularBytes = AddSat(regularBytes, size);
    if (regularBytes > limit) return false;
    sums.missing += size;
  }
  // The calibration slices: files drawn with probability proportional to their fast size, a
  // slice at a uniform place in each; the seed comes from the folder's files, as the
  // sampler's does, so the same folder gives the same estimate anywhere.
  if (!measured.empty()) {
    std::uint64_t state = FnvStart(seed);
    for (char c : names) state = FnvAdd(state, static_cast<unsigned char>(c));
    for (const Measured& m : measured) state = FnvAdd(state, static_cast<std::uint64_t>(m.fast));
    std::vector<std::int64_t> ends;
    std::int64_t end = 0;
    for (const Measured& m : measured) ends.push_back(end += m.fast);
    if (ws.in.size() < static_cast<std::size_t>(kSmallSlice)) ws.in.resize(static_cast<std::size_t>(kSmallSlice));
    for (int j = 0; j < kSmallCalibrationDraws; ++j) {
      if (Stopped(stop)) {
        out = {};
        return true;
      }
      const auto at = static_cast<std::int64_t>(UnitInterval(SplitMix64(state)) * static_cast<double>(end));
      const std::size_t i = std::min<std::size_t>(
          static_cast<std::size_t>(std::upper_bound(ends.begin(), ends.end(), at) - ends.begin()), measured.size() - 1);
      const Measured& m = measured[i];
      const std::int64_t start = std::min(
          static_cast<std::int64_t>(UnitInterval(SplitMix64(state)) * static_cast<double>(m.size)), m.size - kSmallSlice);
      struct stat st;
      Fd fd(OpenRegular(reader.Fd(), names.c_str() + m.nameOffset, st));
      const std::int64_t n = fd.get() >= 0 && st.st_size == m.size ? ReadAt(fd.get(), ws.in.data(), kSmallSlice, start) : -1;
      if (n != kSmallSlice) {  // gone or changed since it was read: this slice tells nothing
        ++sums.unreadableDraws;
        continue;
      }
      read += n;
      const double deflated = static_cast<double>(ws.Compressed(ws.in.data(), static_cast<std::size_t>(n)));
      const double fast = static_cast<double>(ws.FastSize(ws.in.data(), static_cast<std::size_t>(n)));
      sums.ratios.push_back(deflated / std::max(fast, 1.0));
    }
  }
  out = SmallFolderInterval(sums);
  out.Sampled = read;
  out.Bytes = AddSat(regularBytes, otherBytes);
  return true;
}

// The random shift's seed: the caller's seed and the folder's files (names and sizes), so
// that the same folder gives the same estimate wherever it lies and whichever thread runs it.
std::uint64_t FolderSeed(std::uint64_t seed, const Listing& listing) {
  std::uint64_t h = FnvStart(seed);
  auto mix = [&h](std::uint64_t v) { h = FnvAdd(h, v); };
  for (char c : listing.names) mix(static_cast<unsigned char>(c));
  for (const FileEntry& f : listing.files) mix(static_cast<std::uint64_t>(f.size));
  return h;
}

class Sampler {
 public:
  Sampler(int dirFd, Listing& listing, const EstimateOptions& options, Workspace& ws)
      : dirFd_(dirFd), listing_(listing), options_(options), ws_(ws) {
    const double allBytes = static_cast<double>(AddSat(listing_.regularBytes, listing_.otherBytes));
    const double ramp = std::min(1.0, allBytes / static_cast<double>(std::max<std::int64_t>(options.RampBytes, 1)));
    budget_ = std::max(options.BudgetShare * allBytes, static_cast<double>(options.MinBudget) * ramp * ramp * ramp);
    // The units shrink with the budget so that it buys about kDrawsPerBudget draws; files
    // up to four blocks are still drawn whole, priming keeps its share of each block.
    const std::int64_t fullBlock = std::max<std::int64_t>(options.BlockBytes, 512);
    const std::int64_t prime = std::max<std::int64_t>(options.PrimeBytes, 0);
    const auto fitting = static_cast<std::int64_t>(
        budget_ / kDrawsPerBudget * static_cast<double>(fullBlock) / static_cast<double>(fullBlock + prime));
    block_ = std::clamp(fitting / 512 * 512, std::min(options.MinBlockBytes, fullBlock), fullBlock);
    block_ = std::max<std::int64_t>(block_, 512);
    // The smallest blocks go cold: history would triple what each draw compresses, and the
    // few draws such a budget buys leave margins far wider than the bias it would remove.
    prime_ = block_ > options.MinBlockBytes ? prime * block_ / fullBlock : 0;
    wholeUnit_ = std::max(block_, std::min(kWholeFileUnit, 4 * block_));
    const double perDraw = static_cast<double>(std::max(wholeUnit_ / 2, block_ + prime_));
    minDraws_ = static_cast<int>(std::clamp(budget_ / perDraw, double{kFewestDraws}, double{kMinDraws}));
    auto& files = listing_.files;
    std::sort(files.begin(), files.end(), [&](const FileEntry& a, const FileEntry& b) {
      if (a.size != b.size) return a.size > b.size;
      return std::strcmp(listing_.names.c_str() + a.nameOffset, listing_.names.c_str() + b.nameOffset) < 0;
    });
    std::uint64_t state = FolderSeed(options.Seed, listing_);
    shift_ = UnitInterval(SplitMix64(state));
    ends_.reserve(files.size());
    std::int64_t end = 0;
    for (const FileEntry& f : files) ends_.push_back(end = AddSat(end, f.size));
    total_ = end;
    state_.assign(files.size(), kUntouched);
    rate_.assign(files.size(), 0.0f);
    unseen_ = total_;
    // Empty files are never drawn; they are known to save nothing.
    for (std::size_t i = files.size(); i-- > 0 && files[i].size == 0;) {
      state_[i] = kKnown;
      ++touched_;
      ++settled_;
    }
  }

  SavingEstimate Run(const std::atomic<bool>* stop) {
    const std::int64_t allBytes = AddSat(listing_.regularBytes, listing_.otherBytes);
    const double budget = budget_;
    SavingEstimate est;
    const double perDraw = static_cast<double>(std::max(wholeUnit_, block_ + prime_));
    for (int k = 0; k < kMaxDraws; ++k) {
      if (Stopped(stop)) return {};
      if (draws_ >= minDraws_ && static_cast<double>(read_) + perDraw > budget) break;
      double x = shift_ + static_cast<double>(k) * kGoldenStep;
      x -= std::floor(x);
      Draw(x);
      if (draws_ < minDraws_) continue;  // the fewest draws an interval may rest on
      // The interval costs a sort of the draws: checked at every draw at first, then at
      // every sixteenth.
      if (draws_ > 256 && draws_ % 16 != 0 && read_ < budget) continue;
      est = Interval();
      if (AllKnownExactly()) return Exact();
      // Every file read whole or found unreadable: further draws would learn nothing, and
      // the unreadable bytes save between nothing and all of them.
      if (settled_ == listing_.files.size()) return Settled();
      const double halfWidth = 0.5 * static_cast<double>(est.High - est.Low);
      if (halfWidth <= options_.TargetMargin * static_cast<double>(allBytes)) break;
      if (draws_ >= minDraws_ && static_cast<double>(read_) >= budget) break;
    }
    if (readable_ == 0) {
      SavingEstimate none;
      none.Sampled = read_;
      none.Unreadable = unreadableBytes_;
      return FinishOthers(none, listing_);
    }
    return FinishOthers(Interval(), listing_);
  }

 private:
  enum : std::uint8_t { kUntouched, kTouched, kKnown, kUnreadable };

  void Draw(double x) {
    ++draws_;
    x_ = x;
    const auto pos = static_cast<std::int64_t>(
        static_cast<unsigned __int128>(static_cast<std::uint64_t>(x * 0x1.0p53)) *
            static_cast<unsigned __int128>(total_) >> 53);
    const std::size_t i = static_cast<std::size_t>(
        std::upper_bound(ends_.begin(), ends_.end(), pos) - ends_.begin());
    if (i >= ends_.size()) {  // only when total_ is 0, which never samples
      Unreadable(0);
      return;
    }
    const FileEntry& file = listing_.files[i];
    const std::int64_t offset = pos - (ends_[i] - file.size);
    Touch(i);
    if (state_[i] == kUnreadable) return Unreadable(i);
    if (state_[i] == kKnown) return Readable(rate_[i]);
    const char* name = listing_.names.c_str() + file.nameOffset;
    if (file.size <= wholeUnit_) {
      const WholeFile whole = CompressWhole(dirFd_, name, file.size, ws_);
      read_ += whole.read;
      if (!whole.readable || whole.read <= 0) return MarkUnreadable(i);
      const double rate = static_cast<double>(whole.saving) / static_cast<double>(file.size);
      state_[i] = kKnown;
      ++settled_;
      rate_[i] = static_cast<float>(rate);
      exactSaving_ += whole.saving;
      if (whole.missing > 0) unreadableBytes_ = AddSat(unreadableBytes_, whole.missing);
      return Readable(rate);
    }
    Block(i, name, offset);
  }

  void Block(std::size_t i, const char* name, std::int64_t offset) {
    blocksDrawn_ = true;
    const FileEntry& file = listing_.files[i];
    const std::int64_t start = offset / block_ * block_;
    const std::int64_t length = std::min(block_, file.size - start);
    if (seenBlocks_.insert({i, start}).second) unseen_ -= length;
    struct stat st;
    Fd fd(OpenRegular(dirFd_, name, st));
    if (fd.get() < 0) return MarkUnreadable(i);
    const double rate = BlockRate(fd.get(), st, start, length, prime_, ws_, read_);
    if (rate < 0) return UnreadableDraw();  // the file shrank below this block
    Readable(rate);
  }

  void Touch(std::size_t i) {
    if (state_[i] != kUntouched) return;
    state_[i] = kTouched;
    if (listing_.files[i].size <= wholeUnit_) unseen_ -= listing_.files[i].size;  // seen whole
    ++touched_;
  }
  void Readable(double y) {
    ++readable_;
    sum_ += y;
    drawn_.push_back({x_, static_cast<float>(y)});
  }
  void UnreadableDraw() { ++unreadableDraws_; }
  void Unreadable(std::size_t) { UnreadableDraw(); }
  void MarkUnreadable(std::size_t i) {
    if (state_[i] != kUnreadable) {
      unreadableBytes_ = AddSat(unreadableBytes_, listing_.files[i].size);
      ++settled_;
    }
    state_[i] = kUnreadable;
    UnreadableDraw();
  }

  // Every file drawn, every one small and read whole: the exact sum.
  bool AllKnownExactly() const {
    if (touched_ != listing_.files.size() || unreadableBytes_ > 0) return false;
    for (std::uint8_t s : state_) {
      if (s != kKnown) return false;
    }
    return true;
  }
  SavingEstimate Settled() const {
    SavingEstimate est;
    est.Sampled = read_;
    est.Unreadable = unreadableBytes_;
    const std::int64_t readable = total_ - unreadableBytes_;
    if (readable <= 0) return FinishOthers(est, listing_);
    est.Known = true;
    est.Low = exactSaving_;
    est.High = AddSat(exactSaving_, unreadableBytes_);
    const double rate = static_cast<double>(exactSaving_) / static_cast<double>(readable);
    est.Saving = AddSat(exactSaving_, ToBytes(rate * static_cast<double>(unreadableBytes_)));
    return FinishOthers(est, listing_);
  }

  SavingEstimate Exact() const {
    SavingEstimate est;
    est.Known = true;
    est.Saving = est.Low = est.High = exactSaving_;
    est.Sampled = read_;
    return FinishOthers(est, listing_);
  }

  // The draws taken in the order of their positions form a systematic sample of the files
  // laid end to end; half the mean squared difference of neighbours estimates the variance
  // that sample has (neighbours lie in the same file or in files of similar size), where
  // the plain sample variance would also count the differences between files that the
  // even spread of the sequence already balances.
  double SuccessiveDifferenceVariance() const {
    sorted_ = drawn_;
    std::sort(sorted_.begin(), sorted_.end());
    double sum = 0;
    for (std::size_t j = 1; j < sorted_.size(); ++j) {
      const double d = static_cast<double>(sorted_[j].second) - sorted_[j - 1].second;
      sum += d * d;
    }
    return sum / (2.0 * static_cast<double>(sorted_.size() - 1));
  }

  SavingEstimate Interval() const {
    DrawSums d;
    d.draws = draws_;
    d.readable = readable_;
    d.unreadableDraws = unreadableDraws_;
    d.sum = sum_;
    d.variance = readable_ > 1 ? SuccessiveDifferenceVariance() : 0.25;
    d.total = total_;
    d.unseen = unseen_;
    d.read = read_;
    d.unreadableBytes = unreadableBytes_;
    d.biasUp = blocksDrawn_ ? PrimingBias(prime_, block_) : kBlockError;
    return SampledInterval(d);
  }

  int dirFd_;
  Listing& listing_;
  const EstimateOptions& options_;
  Workspace& ws_;
  double shift_ = 0;
  double budget_ = 0;
  bool blocksDrawn_ = false;  // whole files alone carry no priming bias
  int minDraws_ = kMinDraws;
  std::int64_t block_ = 0, prime_ = 0, wholeUnit_ = 0, total_ = 0, unseen_ = 0;
  std::vector<std::int64_t> ends_;
  std::set<std::pair<std::size_t, std::int64_t>> seenBlocks_;  // blocks of large files drawn
  std::vector<std::uint8_t> state_;
  std::vector<float> rate_;
  std::size_t touched_ = 0;
  std::size_t settled_ = 0;  // files known exactly or unreadable
  int draws_ = 0, readable_ = 0, unreadableDraws_ = 0;
  double sum_ = 0;
  double x_ = 0;  // the position of the draw under way
  std::vector<std::pair<double, float>> drawn_;  // position and rate of each readable draw
  mutable std::vector<std::pair<double, float>> sorted_;
  std::int64_t read_ = 0, unreadableBytes_ = 0, exactSaving_ = 0;
};

// A folder whose files the scan drew (FileDraws): those files alone are read. A drawn file
// of at most one block (DrawnBlockBytes) is compressed whole (exact for that file); a larger
// one gives one block at a uniform offset, measured cold: the few draws of a small folder
// leave a margin far wider than history would remove, and the allowance for cold blocks
// (PrimingBias) covers it. The draws are
// independent, so the variance is the plain one of their rates; the interval is then the
// sampled folders' one. False, having read what it read, when the folder has changed since
// the scan (a drawn file gone, resized or no longer a regular file): it is then listed and
// sampled afresh.
bool EstimateFromDraws(int dirFd, const FileDraws& draws, const EstimateOptions& options,
                       const std::atomic<bool>* stop, Workspace& ws, SavingEstimate& out) {
  const std::int64_t block = std::max<std::int64_t>(options.DrawnBlockBytes, 512);
  struct Measured {
    std::string_view name;
    std::int64_t start;  // -1: the whole file
    double rate;         // < 0: unreadable
  };
  std::vector<Measured> measured;
  std::vector<double> rates;
  DrawSums d;
  d.total = draws.RegularBytes;
  d.unseen = draws.RegularBytes;
  d.biasUp = kBlockError;
  std::int64_t wholeBytes = 0, wholeSaving = 0;
  std::uint64_t state = options.Seed;
  for (std::size_t j = 0; j < draws.Sizes.size(); ++j) {
    if (Stopped(stop)) {
      out = {};
      return true;
    }
    const std::string_view name = draws.Name(j);
    const std::int64_t size = draws.Sizes[j];
    const double at = UnitInterval(SplitMix64(state));
    const std::int64_t start = size <= block ? -1 : static_cast<std::int64_t>(at * static_cast<double>(size)) / block * block;
    ++d.draws;
    // A unit measured before gives the same again; a file found unreadable is so at any offset.
    auto same = std::find_if(measured.begin(), measured.end(), [&](const Measured& m) {
      return m.name == name && (m.start == start || m.rate < 0);
    });
    double rate = 0;
    if (same != measured.end()) {
      rate = same->rate;
    } else {
      struct stat st;
      Fd fd(OpenRegular(dirFd, std::string(name).c_str(), st));
      if (fd.get() < 0 && errno != EACCES) return false;
      if (fd.get() >= 0 && st.st_size != size) return false;
      if (fd.get() < 0) {
        rate = -1;
        d.unreadableBytes = AddSat(d.unreadableBytes, size);
      } else if (start < 0) {
        const WholeFile whole = CompressOpenFile(fd.get(), size, ws);
        d.read += whole.read;
        if (!whole.readable || whole.read != size) return false;  // shrank while read
        rate = static_cast<double>(whole.saving) / static_cast<double>(size);
        wholeBytes += size;
        wholeSaving += whole.saving;
        d.unseen -= size;
      } else {
        const std::int64_t length = std::min(block, size - start);
        rate = BlockRate(fd.get(), st, start, length, 0, ws, d.read);
        if (rate < 0) return false;
        d.unseen -= length;
        d.biasUp = PrimingBias(0, block);
      }
      measured.push_back({name, start, rate});
    }
    if (rate < 0) {
      ++d.unreadableDraws;
      continue;
    }
    d.Readable(rate);
    rates.push_back(rate);
  }
  if (wholeBytes == draws.RegularBytes) {  // every file was drawn whole: exact
    out = SavingEstimate{};
    out.Known = true;
    out.Saving = out.Low = out.High = wholeSaving;
    out.Sampled = d.read;
  } else {
    if (d.readable > 1) {
      const double mean = d.sum / d.readable;
      for (double y : rates) d.variance += (y - mean) * (y - mean);
      d.variance /= d.readable - 1;
    } else {
      d.variance = 0.25;  // one draw tells nothing of the spread: the largest a rate can have
    }
    out = SampledInterval(d);
  }
  out.Bytes = AddSat(draws.RegularBytes, draws.OtherBytes);
  return true;
}

}  // namespace

FileDrawLimits ScanDrawLimits(const EstimateOptions& options) {
  FileDrawLimits limits;
  // Folders read whole, or whole with the fast codec, need no draws.
  limits.Above = std::max(options.WholeLimit, options.SmallLimit);
  limits.UpTo = options.DrawnLimit > limits.Above ? options.DrawnLimit : 0;
  limits.Seed = options.Seed;
  return limits;
}

FolderOpener::FolderOpener(const EstimateOptions& options) : options_(options) {}

FolderOpener::~FolderOpener() { Forget(); }

void FolderOpener::Forget() {
  for (const Kept& k : kept_) close(k.fd);
  kept_.clear();
}

int FolderOpener::Keep(const FolderRec& rec, int fd) {
  const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return -1;  // out of descriptors: this one is opened from the top
  if (kept_.size() >= kKeepAtMost) {
    auto oldest = std::min_element(kept_.begin(), kept_.end(),
                                   [](const Kept& a, const Kept& b) { return a.used < b.used; });
    close(oldest->fd);
    *oldest = kept_.back();
    kept_.pop_back();
  }
  kept_.push_back({&rec, copy, ++clock_});
  return copy;
}

const FolderOpener::Kept* FolderOpener::Find(const FolderRec* rec) {
  for (Kept& k : kept_) {
    if (k.rec == rec) {
      k.used = ++clock_;
      return &k;
    }
  }
  return nullptr;
}

// A kept descriptor for rec, opened (and kept) when there is none yet.
int FolderOpener::Descriptor(const FolderRec& rec) {
  if (const Kept* kept = Find(&rec)) return kept->fd;
  DirReader reader;
  if (!Open(reader, rec)) return -1;
  return Keep(rec, reader.Fd());
}

// From the nearest kept folder above rec: the start of the scan is opened from the top and
// kept; a record more than kKeepStride levels below any kept folder has the folder that far
// up opened (the same way, recursively) and kept.
bool FolderOpener::Open(DirReader& reader, const FolderRec& rec) {
  std::vector<const FolderRec*> below;  // rec and the folders up to the base, deepest first
  const FolderRec* r = &rec;
  int base = -1;
  for (;;) {
    if (const Kept* kept = Find(r)) {
      base = kept->fd;
      break;
    }
    if (r->Parent() == nullptr) {  // the start: from the top, as without an opener
      DirReader top;
      if (!OpenFolder(top, *r, options_)) return false;
      base = Keep(*r, top.Fd());
      if (base < 0) return below.empty() ? reader.OpenBelow(top.Fd(), "") : OpenFolder(reader, rec, options_);
      break;
    }
    if (below.size() == kKeepStride) {
      base = Descriptor(*r);
      if (base < 0) return OpenFolder(reader, rec, options_);
      break;
    }
    below.push_back(r);
    r = r->Parent();
  }
  std::string relative;
  for (auto it = below.rbegin(); it != below.rend(); ++it) {
    if (!relative.empty()) relative.push_back('/');
    relative.append((*it)->Name());
  }
  walked_ += below.size();
  if (reader.OpenBelow(base, relative)) return true;
  if (errno != EMFILE && errno != ENFILE) return false;
  Forget();  // the descriptors kept are wanted elsewhere: from the top, as without an opener
  return OpenFolder(reader, rec, options_);
}

namespace {

SavingEstimate EstimateFolderBytes(const FolderRec& rec, const ScanRules& rules,
                                   const EstimateOptions& options, const std::atomic<bool>* stop,
                                   FolderOpener* opener) {
  auto open = [&](DirReader& reader) {
    return opener != nullptr ? opener->Open(reader, rec) : OpenFolder(reader, rec, options);
  };
  DirReader reader;
  if (!open(reader)) return {};
  Workspace& ws = ThreadWorkspace();
  DirReader again;
  DirReader* listed = &reader;
  if (UnzippedBytes(rec) > options.WholeLimit && UnzippedBytes(rec) <= options.SmallLimit) {
    SavingEstimate est;
    if (EstimateSmallDirect(reader, rules, 2 * options.SmallLimit, options.Seed, stop, ws, est))
      return Stopped(stop) ? SavingEstimate{} : est;
    if (!open(again)) return {};  // grown since the scan: listed afresh
    listed = &again;
  } else if (rec.Draws != nullptr && UnzippedBytes(rec) > options.WholeLimit) {
    SavingEstimate est;
    if (EstimateFromDraws(reader.Fd(), *rec.Draws, options, stop, ws, est))
      return Stopped(stop) ? SavingEstimate{} : est;
    if (!open(again)) return {};  // changed since the scan: listed afresh
    listed = &again;
  } else if (UnzippedBytes(rec) <= options.WholeLimit) {
    SavingEstimate est;
    if (EstimateWholeDirect(reader, rules, options.WholeLimit, stop, ws, est))
      return Stopped(stop) ? SavingEstimate{} : est;
    if (!open(again)) return {};  // grown since the scan: listed afresh
    listed = &again;
  }
  Listing listing;
  if (!ListFolder(*listed, rules, stop, listing)) return {};
  SavingEstimate est;
  if (listing.regularBytes <= options.WholeLimit) {
    est = EstimateWhole(listed->Fd(), listing, stop, ws);
  } else {
    Sampler sampler(listed->Fd(), listing, options, ws);
    est = sampler.Run(stop);
  }
  if (Stopped(stop)) return {};
  // Buffers grown for one big file are not kept for the rest of the run.
  constexpr std::size_t kKeep = 2 << 20;
  if (ws.in.size() > kKeep) std::vector<unsigned char>().swap(ws.in);
  if (ws.out.size() > kKeep) std::vector<unsigned char>().swap(ws.out);
  return est;
}

}  // namespace

SavingEstimate EstimateFolderSaving(const FolderRec& rec, const ScanRules& rules,
                                    const EstimateOptions& options, const std::atomic<bool>* stop,
                                    FolderOpener* opener) {
  SavingEstimate est = EstimateFolderBytes(rec, rules, options, stop, opener);
  // Only folders on a mount that compresses have their files' extents asked for.
  if (est.Known && rec.Disk.Members > 0) {
    const FsCompression compression = CompressionOfFolder(rec.Disk.Device, rec.Path());
    if (compression.Compresses()) {
      DirReader reader;
      if (opener != nullptr ? opener->Open(reader, rec) : OpenFolder(reader, rec, options)) {
        const FsMeasure fs = MeasureFsCompression(
            reader.Fd(), [&](std::string_view name) { return IsUnzippedFile(name, rules); },
            compression, options.Seed, kFsBudget, stop);
        if (Stopped(stop)) return {};
        est.FsCompressed = fs.Compressed;
        est.FsStored = fs.Stored;
        est.FsStoredLow = fs.StoredLow;
        est.FsStoredHigh = fs.StoredHigh;
        est.FsUnmeasured = fs.Unmeasured;
        est.Sampled += fs.Read;
      } else {
        // Gone or swapped since the scan: what its blocks hold cannot be told.
        est.FsCompressed = est.FsUnmeasured = est.FsStored = est.FsStoredHigh = rec.Disk.Allocated;
      }
    }
  }
  AddDiskFigures(rec.Disk, est);
  return est;
}

}  // namespace orbelan
