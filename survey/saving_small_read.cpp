// Reading the small and tiny folders: every file opened once as the folder is listed.
// Why small folders are measured the way they are: survey/saving_small.h and
// docs/saving-estimate.md.

#include "survey/saving_small_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/dir_reader.h"
#include "survey/figures.h"
#include "survey/random_bits.h"
#include "survey/saving_interval.h"
#include "survey/saving_small.h"
#include "survey/scan_rules.h"

namespace orbelan {
namespace saving {
namespace {

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

}  // namespace

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

namespace {

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

}  // namespace

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


}  // namespace saving
}  // namespace orbelan
