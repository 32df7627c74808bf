#include "fsfacts/folder_extents.h"

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_set>

#include "numbers/interval_math.h"
#include "numbers/random_bits.h"
#include "platform/dir_reader.h"

namespace orbelan {
namespace {

// The file system's compressed extents hold at most this many bytes of the file, each
// compressed on its own.
constexpr std::int64_t kChunkBytes = 128 * 1024;
// Draws of extents in a folder with more compressed bytes than the budget: one for every
// kBytesPerDraw of them, from kExtentDraws up to kMostExtentDraws. They are spread evenly over
// the extents in the order of the files and their offsets (a systematic sample from a random
// start): the parts of a binary (code, tables, strings) compress very unlike each other, and
// 16 independent draws left the estimate of 231 MB of libraries 10 MB off (its interval
// 44 MB wide), where even ones cover each part in proportion. One draw per 4 MiB still put
// those libraries 63-73 MB over seeds (compsize: 68.1 MB), enough with the byte figure's own
// spread to miss by 3 points of the folder; one per MiB puts them 66.5-68.8 MB for 27 MB read.
constexpr int kExtentDraws = 16;
constexpr int kMostExtentDraws = 256;
constexpr std::int64_t kBytesPerDraw = 1 << 20;
// Extents listed for even draws; a folder of more is drawn from independently.
constexpr std::size_t kMostListed = 1 << 20;
// Shared extents a folder keeps by place for the folders above it to match.
constexpr std::size_t kMostPlaces = 1 << 14;
// The kernel's codecs are not the libraries' builds (versions, zstd's window, zlib fed page by
// page): what they store may differ from what the libraries make of the same chunk. Against
// compsize, zstd matched to the sector on logs; the kernel's zlib stored 7.6% more than
// compress2 at the same level. So two points of the compressed bytes below, and above two
// points for zstd, ten for zlib and LZO (whose kernel framing is only modelled).
constexpr double kCodecErrorBelow = 0.02;
double CodecErrorAbove(FsCodec codec) { return codec == FsCodec::Zstd ? 0.02 : 0.10; }


struct Extent {
  std::uint32_t file;
  std::int64_t logical, length;  // length in whole blocks, as allocated
  std::int64_t inFile;           // of it, the bytes before the file's end
  bool inline_ = false;          // kept in the metadata: its compressed bytes, no whole sectors
};

// A weighted reservoir of one: each draw ends on an extent with probability in proportion
// to its bytes.
struct ExtentDraws {
  std::array<Extent, kExtentDraws> chosen{};
  std::int64_t offered = 0;
  std::uint64_t state;
  explicit ExtentDraws(std::uint64_t seed) : state(seed) {}
  void Offer(const Extent& e) {
    offered += e.length;
    const double share = static_cast<double>(e.length) / static_cast<double>(offered);
    for (Extent& c : chosen) {
      if (UnitInterval(SplitMix64(state)) < share) c = e;
    }
  }
};

constexpr int kFiemapBatch = 64;

int KernelFiemap(int fd, struct fiemap* map) { return ioctl(fd, FS_IOC_FIEMAP, map); }
std::atomic<FiemapRequest> fiemapRequest{&KernelFiemap};

std::int64_t SumSat(std::int64_t a, std::int64_t b) {
  return b > 0 && a > INT64_MAX - b ? INT64_MAX : a + b;
}

// Extents the file shares with others (or with itself), where they lie on the disk.
struct SharedExtent {
  std::uint64_t physical;
  std::int64_t length;
};

// Bytes of extents FIEMAP does not call shared: kept inline in the metadata (btrfs never
// says whether a snapshot shares those) and the others.
struct Unshared {
  std::int64_t inlineBytes = 0, otherBytes = 0;
};

// The extents of an open file of size bytes the file system stores compressed (when it
// compresses), cut at its end (an extent's length counts whole blocks), and those it
// shares, whatever they store; false when FIEMAP is refused. Extents not yet written
// (delayed allocation) are compressed when they are: their bytes go to unknown. A layout
// that changes between requests ends the walk where it stops moving forward.
bool WalkExtents(int fd, std::uint32_t file, std::int64_t size, bool compresses, std::vector<Extent>& out,
                 std::int64_t& unknown, std::vector<SharedExtent>& shared, Unshared& unshared) {
  alignas(struct fiemap) unsigned char buffer[sizeof(struct fiemap) + kFiemapBatch * sizeof(struct fiemap_extent)];
  auto* map = reinterpret_cast<struct fiemap*>(buffer);
  std::uint64_t start = 0;
  for (int round = 0; round < (1 << 20); ++round) {
    std::memset(buffer, 0, sizeof buffer);
    map->fm_start = start;
    map->fm_length = FIEMAP_MAX_OFFSET - start;
    map->fm_extent_count = kFiemapBatch;
    if (fiemapRequest.load(std::memory_order_relaxed)(fd, map) != 0) return false;
    if (map->fm_mapped_extents == 0) return true;
    std::uint64_t next = start;
    for (std::uint32_t i = 0; i < map->fm_mapped_extents && i < kFiemapBatch; ++i) {
      const struct fiemap_extent& e = map->fm_extents[i];
      const std::uint64_t end = e.fe_length > UINT64_MAX - e.fe_logical ? UINT64_MAX : e.fe_logical + e.fe_length;
      // Only what lies inside the file is measured: past its end there is nothing to read.
      const std::uint64_t inside = std::min<std::uint64_t>(end, static_cast<std::uint64_t>(std::max<std::int64_t>(size, 0)));
      const auto inFile = e.fe_logical < inside ? static_cast<std::int64_t>(inside - e.fe_logical) : 0;
      const auto length = static_cast<std::int64_t>(std::min<std::uint64_t>(end - e.fe_logical, INT64_MAX));
      if (inFile > 0) {
        if (e.fe_flags & (FIEMAP_EXTENT_DELALLOC | FIEMAP_EXTENT_UNKNOWN)) unknown = SumSat(unknown, length);
        else if (e.fe_flags & FIEMAP_EXTENT_SHARED) shared.push_back({e.fe_physical, length});
        else {
          if (e.fe_flags & FIEMAP_EXTENT_DATA_INLINE) unshared.inlineBytes = SumSat(unshared.inlineBytes, length);
          else unshared.otherBytes = SumSat(unshared.otherBytes, length);
          if (compresses && (e.fe_flags & FIEMAP_EXTENT_ENCODED))
            out.push_back({file, static_cast<std::int64_t>(e.fe_logical), length, inFile,
                           (e.fe_flags & FIEMAP_EXTENT_DATA_INLINE) != 0});
        }
      }
      next = std::max<std::uint64_t>(next, end);
      if (e.fe_flags & FIEMAP_EXTENT_LAST) return true;
    }
    if (next <= start) return true;  // no progress: the layout changed under us
    if (next >= static_cast<std::uint64_t>(std::max<std::int64_t>(size, 0))) return true;
    start = next;
  }
  return true;
}

// What a compressed extent of the open file fd takes on disk, at most its blocks: an extent
// longer than a chunk is measured by its first chunk, its data up to the file's end (its
// last block is only partly the file's), and what that stores set against all its blocks.
// -1 when the chunk could not be read (gone or changed since).
double StoredExtentBytes(int fd, const Extent& e, const FsCompression& c, std::vector<unsigned char>& buffer) {
  const std::int64_t length = std::min(e.inFile, kChunkBytes);
  buffer.resize(static_cast<std::size_t>(length));
  if (fd < 0 || pread(fd, buffer.data(), buffer.size(), e.logical) != static_cast<ssize_t>(length)) return -1;
  const double stored = static_cast<double>(StoredChunkBytes(c, buffer.data(), buffer.size(), e.inline_ ? 1 : 4096)) *
                        static_cast<double>(e.inFile) / static_cast<double>(length);
  return std::min(stored, static_cast<double>(e.length));
}

}  // namespace

FileSharing SharingOfFile(int fd, std::int64_t size, const FsCompression& c) {
  std::vector<Extent> compressed;
  std::vector<SharedExtent> shared;
  std::int64_t unknown = 0;
  Unshared unshared;
  FileSharing sharing;
  if (!WalkExtents(fd, 0, size, c.Compresses(), compressed, unknown, shared, unshared)) return sharing;
  for (const SharedExtent& e : shared) sharing.Shared = SumSat(sharing.Shared, e.length);
  sharing.Inline = unshared.inlineBytes;
  // Each compressed extent as the estimate measures a folder's; one changed since spares
  // nothing known.
  std::vector<unsigned char> buffer;
  for (const Extent& e : compressed) {
    const double stored = StoredExtentBytes(fd, e, c, buffer);
    if (stored >= 0) sharing.FsSaved = SumSat(sharing.FsSaved, e.length - static_cast<std::int64_t>(stored));
  }
  return sharing;
}

FiemapRequest SetFiemapRequest(FiemapRequest request) {
  return fiemapRequest.exchange(request != nullptr ? request : &KernelFiemap);
}

namespace {

// What the walk over a folder's files gathered.
struct FolderWalk {
  std::vector<std::string> names;     // the files measured, by index
  std::vector<Extent> all;            // every compressed extent, while there are not too many
  ExtentDraws draws;
  std::vector<SharedExtent> shared;   // to tell the extents met twice, while not too many
  Unshared unshared;
  std::int64_t unknown = 0;           // allocated bytes that could not be measured
  explicit FolderWalk(std::uint64_t seed) : draws(FnvStart(seed)) {}
};

// The extents of the open regular file fd (named file in the walk) into walk and m.
void AddFileExtents(int fd, const struct stat& st, const FsCompression& c, FolderWalk& walk, FolderExtents& m) {
  const auto file = static_cast<std::uint32_t>(walk.names.size());
  std::vector<Extent> extents;
  std::int64_t delayed = 0;
  const std::size_t sharedBefore = walk.shared.size();
  Unshared layout;
  if (!WalkExtents(fd, file, static_cast<std::int64_t>(st.st_size), c.Compresses(), extents, delayed, walk.shared, layout)) {
    walk.shared.resize(sharedBefore);
    walk.unknown = SumSat(walk.unknown, static_cast<std::int64_t>(st.st_blocks) * 512);  // EOPNOTSUPP, EPERM: not measured
    return;
  }
  walk.unknown = SumSat(walk.unknown, delayed);
  for (std::size_t k = sharedBefore; k < walk.shared.size(); ++k) m.Shared = SumSat(m.Shared, walk.shared[k].length);
  walk.unshared.inlineBytes = SumSat(walk.unshared.inlineBytes, layout.inlineBytes);
  walk.unshared.otherBytes = SumSat(walk.unshared.otherBytes, layout.otherBytes);
  if (walk.shared.size() > kMostListed) walk.shared.resize(sharedBefore);  // counted, no longer matched
  for (const Extent& e : extents) {
    m.Compressed = SumSat(m.Compressed, e.length);
    walk.draws.Offer(e);
    if (walk.all.size() <= kMostListed) walk.all.push_back(e);
  }
}

// Walks the counted regular files of the folder open in reader, each inode once and none
// that names outside the folder hold (held, sorted). False when stopped.
bool WalkFolder(DirReader& reader, const std::function<bool(std::string_view)>& counted, const FsCompression& c,
                const std::vector<std::uint64_t>& held, const std::atomic<bool>* stop, FolderWalk& walk,
                FolderExtents& m) {
  std::unordered_set<std::uint64_t> linked;  // inodes of several names met so far
  DirEntry entry;
  while (reader.Next(entry)) {
    if (stop != nullptr && stop->load(std::memory_order_relaxed)) return false;
    if (entry.Hidden() || entry.TypeIsDirectory() || !counted(entry.NameView())) continue;
    const int fd = openat(reader.Fd(), entry.Name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
      EntryStat st;
      if (reader.Stat(entry.Name, st) && st.Kind == EntryKind::File) walk.unknown += st.Allocated;
      continue;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      continue;
    }
    // Blocks of a file with several names count once in the folder, and not at all when
    // names outside it keep them: the folder's figures have them as held already.
    if (st.st_nlink > 1) {
      const auto inode = static_cast<std::uint64_t>(st.st_ino);
      if (std::binary_search(held.begin(), held.end(), inode) || !linked.insert(inode).second) {
        close(fd);
        continue;
      }
    }
    AddFileExtents(fd, st, c, walk, m);
    close(fd);
    walk.names.emplace_back(entry.Name, entry.NameLength);
  }
  return true;
}

// An extent met in two or more of the folder's files (a copy reflinked beside its
// original) is counted by each; once, it may go with the folder. The shared extents are
// kept by place for the folders above.
void CountSharedWithin(std::vector<SharedExtent>& shared, FolderExtents& m) {
  std::sort(shared.begin(), shared.end(),
            [](const SharedExtent& a, const SharedExtent& b) { return a.physical < b.physical; });
  std::vector<SharedPlace> places;
  for (std::size_t i = 0; i < shared.size();) {
    std::size_t j = i + 1;
    std::int64_t longest = shared[i].length;
    // Physical 0: not told (inline data); such an extent stands alone.
    while (j < shared.size() && shared[i].physical != 0 && shared[j].physical == shared[i].physical)
      longest = std::max(longest, shared[j++].length);
    if (j - i > 1) m.SharedWithin = SumSat(m.SharedWithin, longest);
    if (shared[i].physical != 0 && places.size() < kMostPlaces) places.push_back({shared[i].physical, longest, j - i > 1});
    i = j;
  }
  if (!places.empty() && places.size() < kMostPlaces)
    m.Places = std::make_shared<const std::vector<SharedPlace>>(std::move(places));
}

// The compressed extents to measure: all of them within the budget; else an even sample
// of them when they were all listed (even), else the independent draws.
std::vector<Extent> ChooseExtents(FolderWalk& walk, std::int64_t compressed, std::int64_t budget,
                                  std::uint64_t seed, bool even) {
  if (compressed <= budget) return std::move(walk.all);
  if (!even) return std::vector<Extent>(walk.draws.chosen.begin(), walk.draws.chosen.end());
  std::vector<Extent> measure;
  const std::vector<Extent>& all = walk.all;
  const int n = static_cast<int>(std::clamp<std::int64_t>(compressed / kBytesPerDraw, kExtentDraws, kMostExtentDraws));
  std::uint64_t state = FnvAdd(FnvStart(seed), static_cast<std::uint64_t>(compressed));
  const double start = UnitInterval(SplitMix64(state));
  std::size_t at = 0;
  std::int64_t before = 0;  // bytes of the extents ahead of all[at]
  for (int k = 0; k < n; ++k) {
    const auto position = static_cast<std::int64_t>((start + k) / n * static_cast<double>(compressed));
    while (at + 1 < all.size() && before + all[at].length <= position) before += all[at++].length;
    measure.push_back(all[at]);
  }
  return measure;
}

// What measuring the chosen extents found: the share of its blocks each stores, and the
// blocks of those measured and of those that could not be read.
struct ExtentRates {
  std::vector<double> ratios;
  std::int64_t exactStored = 0, exactLength = 0, missed = 0;
};

// Reads and compresses each chosen extent as the file system does. False when stopped.
bool MeasureExtents(int dirFd, const std::vector<std::string>& names, const std::vector<Extent>& measure,
                    const FsCompression& c, const std::atomic<bool>* stop, FolderExtents& m, ExtentRates& rates) {
  std::vector<unsigned char> buffer;
  for (const Extent& e : measure) {
    if (stop != nullptr && stop->load(std::memory_order_relaxed)) return false;
    const int fd = openat(dirFd, names[e.file].c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    const double stored = StoredExtentBytes(fd, e, c, buffer);
    if (fd >= 0) close(fd);
    if (stored < 0) {  // gone or changed since: not measured
      rates.missed += e.length;
      continue;
    }
    m.Read += std::min(e.inFile, kChunkBytes);
    // What it stores, as a share of the blocks it allocates.
    rates.ratios.push_back(stored / static_cast<double>(e.length));
    rates.exactStored += static_cast<std::int64_t>(rates.ratios.back() * static_cast<double>(e.length));
    rates.exactLength += e.length;
  }
  return true;
}

// m's stored bytes and their interval from the measured extents: exact but for the codec's
// error within the budget, else the sample's mean rate with its 95% interval (the variance
// of an even sample from successive differences, in the order drawn).
void SetStoredFigures(const ExtentRates& rates, std::int64_t compressed, std::int64_t budget, bool even,
                      double drawn, const FsCompression& c, FolderExtents& m) {
  const std::vector<double>& ratios = rates.ratios;
  const double all_ = static_cast<double>(compressed);
  if (compressed <= budget) {
    // Every extent measured: only the codec's error, and what could not be read.
    const double rate = rates.exactLength > 0 ? static_cast<double>(rates.exactStored) / static_cast<double>(rates.exactLength) : 1.0;
    m.Stored = rates.exactStored + ToBytes(rate * static_cast<double>(rates.missed));
    m.StoredLow = ToBytes(static_cast<double>(rates.exactStored) * (1 - kCodecErrorBelow));
    m.StoredHigh = std::min(compressed, rates.exactStored + rates.missed + ToBytes(static_cast<double>(rates.exactStored) * CodecErrorAbove(c.Codec)));
  } else if (!ratios.empty()) {
    const double r = static_cast<double>(ratios.size());
    double mean = 0, var = 0;
    for (double y : ratios) mean += y;
    mean /= r;
    if (even) {
      for (std::size_t i = 1; i < ratios.size(); ++i) var += (ratios[i] - ratios[i - 1]) * (ratios[i] - ratios[i - 1]);
      var = ratios.size() > 1 ? var / (2 * (r - 1)) : 0.25;
    } else {
      for (double y : ratios) var += (y - mean) * (y - mean);
      var = ratios.size() > 1 ? var / (r - 1) : 0.25;
    }
    const double missedShare = 1 - r / drawn;  // draws that could not be read: 0 or 1
    const double half = TwoSided95(static_cast<int>(ratios.size()) - 1) * std::sqrt(var / r);
    m.Stored = ToBytes(mean * all_);
    m.StoredLow = ToBytes(std::clamp((1 - missedShare) * (mean - half) * (1 - kCodecErrorBelow), 0.0, 1.0) * all_);
    m.StoredHigh = ToBytes(std::clamp((1 - missedShare) * (mean + half) * (1 + CodecErrorAbove(c.Codec)) + missedShare, 0.0, 1.0) * all_);
  } else {
    m.Stored = m.StoredHigh = compressed;
    m.StoredLow = 0;
  }
  m.Stored = std::clamp(m.Stored, m.StoredLow, m.StoredHigh);
}

}  // namespace

FolderExtents MeasureFolderExtents(int dirFd, const std::function<bool(std::string_view)>& counted,
                               const FsCompression& c, std::uint64_t seed, std::int64_t budget,
                               const std::atomic<bool>* stop, const std::vector<std::uint64_t>& heldInodes,
                               bool sharing) {
  FolderExtents m;
  std::vector<std::uint64_t> held = heldInodes;
  std::sort(held.begin(), held.end());
  DirReader reader;
  if (!reader.OpenBelow(dirFd, "")) return m;
  FolderWalk walk(seed);
  if (!WalkFolder(reader, counted, c, held, stop, walk, m)) return {};
  CountSharedWithin(walk.shared, m);
  // Inline data may give back nothing where some of the folder's other blocks are shared,
  // or there are none to tell by.
  if (sharing && (m.Shared > 0 || walk.unshared.otherBytes == 0)) {
    m.InlineUnsure = walk.unshared.inlineBytes;
    if (InlineTakenAsShared(m.Shared, walk.unshared.otherBytes)) m.InlineShared = walk.unshared.inlineBytes;
  }
  const std::int64_t compressed = m.Compressed;
  const bool even = compressed > budget && walk.all.size() <= kMostListed;
  const std::vector<Extent> measure = ChooseExtents(walk, compressed, budget, seed, even);
  ExtentRates rates;
  if (!MeasureExtents(reader.Fd(), walk.names, measure, c, stop, m, rates)) return {};
  SetStoredFigures(rates, compressed, budget, even, static_cast<double>(measure.size()), c, m);
  // Files that could not be measured take between nothing and all of their blocks.
  m.Unmeasured = walk.unknown;
  m.Compressed = SumSat(m.Compressed, walk.unknown);
  m.Stored = SumSat(m.Stored, walk.unknown);
  m.StoredHigh = SumSat(m.StoredHigh, walk.unknown);
  return m;
}

}  // namespace orbelan
