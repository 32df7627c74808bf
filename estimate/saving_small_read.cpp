// Reading the small and tiny folders: every file opened once as the folder is listed.
// Why small folders are measured the way they are: estimate/saving_small.h and
// docs/saving-estimate.md.

#include "estimate/saving_small_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <cerrno>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/dir_reader.h"
#include "estimate/batch_reader.h"
#include "scan/folder_entries.h"
#include "estimate/noise_screen.h"
#include "numbers/random_bits.h"
#include "estimate/saving_interval.h"
#include "estimate/saving_small.h"
#include "estimate/saving_small_larger.h"
#include "scan/scan_rules.h"
#include "estimate/slice_bias.h"
#include "estimate/small_yardstick.h"

namespace orbelan {
namespace saving {
namespace {

// The sums of a folder whose every file is compressed whole.
struct WholeSums {
  std::int64_t saving = 0, readBytes = 0, missing = 0;
  std::int64_t noiseBytes = 0;  // of readBytes, files the noise screen took as stored
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
  if (sums.noiseBytes > 0) {
    // No longer exact, so the disk figure will not allow for zlib's stream on the deflated
    // files: allow for it here. Noise saves 0, up to kIncompressibleSlack of its bytes.
    WidenForTheZipper(est, readBytes - sums.noiseBytes - saving);
    est.High = AddSat(est.High, ToBytes(kIncompressibleSlack * static_cast<double>(sums.noiseBytes)));
  }
  return FinishOthers(est, listing);
}

}  // namespace

SavingEstimate EstimateWhole(int dirFd, const Listing& listing, const std::atomic<bool>* stop,
                             Workspace& ws) {
  WholeSums sums;
  bool noAtimeRefused = false;  // in this folder (OpenForReading)
  for (const FileEntry& file : listing.files) {
    if (Stopped(stop)) return {};
    sums.Add(CompressWhole(dirFd, listing.names.c_str() + file.nameOffset, file.size, ws, Deflater::kEstimate,
                           &noAtimeRefused),
             file.size);
  }
  return WholeResult(sums, listing);
}

namespace {

// What one listed entry turned out to be once opened and read.
struct ListedFile {
  enum Kind {
    kRead,        // a regular file: got bytes of its size in ws.in (fewer: it shrank)
    kLonger,      // a regular file longer than the head: got bytes in ws.in, fd still open
    kGrown,       // a regular file that would take the folder past its limit
    kUnreadable,  // a regular file that cannot be read: size bytes
    kOther,       // a link, pipe or device: size bytes, never read
    kSkip,        // gone, or a folder after all
  } kind = kSkip;
  std::int64_t size = 0;
  std::int64_t got = 0;
  int fd = -1;  // kLonger: the caller closes it
};

// How much of a file ReadListed reads at first: at most head bytes and never more than
// room + 1.
std::int64_t FirstRead(std::int64_t room, std::int64_t head) {
  return std::min(std::max<std::int64_t>(room, 0) + 1, std::max<std::int64_t>(head, 1));
}

// A batch's buffers that grew for a large file are not kept in every slot.
constexpr std::size_t kBatchBufferKept = 256 << 10;

// Opens and reads a listed entry the scan counts into Unzipped, reading at most head bytes
// and never more than room + 1, so that a file that would take the folder past its limit
// is told without reading it all. The directory's own word that an entry is a regular file
// spares the stat of its descriptor: opened without following links and without blocking,
// it is read once into a buffer one byte larger than it may be, and a short read gives its
// size. Whatever fails to open or read is stat'ed by name to tell what it is. A regular
// file may have been read already in a batch (BatchReader, read as far as FirstRead of a
// room at least this one): its bytes move into ws.in, and a file longer than the head is
// opened once more for the rest.
ListedFile ReadListed(DirReader& reader, const DirEntry& entry, std::int64_t room, std::int64_t head,
                      Workspace& ws, bool& noAtimeRefused, BatchReader::File* batched = nullptr) {
  ListedFile f;
  room = std::max<std::int64_t>(room, 0);
  const std::int64_t want = FirstRead(room, head);
  if (ws.in.size() < static_cast<std::size_t>(want)) ws.in.resize(static_cast<std::size_t>(want));
  if (entry.Type == DT_REG) {
    int fd = -1;
    std::int64_t n = -1;
    if (batched != nullptr) {
      n = batched->got < 0 ? -1 : std::min(batched->got, want);  // what one read of want gives
      ws.in.swap(batched->bytes);
      if (batched->bytes.size() > kBatchBufferKept) ByteBuffer().swap(batched->bytes);
      if (n == want && want <= room) {
        fd = OpenForReading(reader.Fd(), entry.Name, &noAtimeRefused);
        if (fd < 0) n = -1;
      }
    } else {
      fd = OpenForReading(reader.Fd(), entry.Name, &noAtimeRefused);
      n = fd >= 0 ? ReadOnce(fd, ws.in.data(), want, 0) : -1;
    }
    if (n == want && want <= room) {
      f.kind = ListedFile::kLonger;
      f.got = n;
      f.fd = fd;
      return f;
    }
    if (fd >= 0) close(fd);
    if (n >= 0 && n < want) {
      f.kind = ListedFile::kRead;
      f.size = f.got = n;
      return f;
    }
    if (n == want) {
      f.kind = ListedFile::kGrown;
      return f;
    }
    // Not readable as a file after all (a folder or pipe swapped in, an error): told below.
  } else if (entry.Type == DT_UNKNOWN) {  // the file system does not say: its descriptor does
    struct stat st;
    const int fd = OpenRegular(reader.Fd(), entry.Name, st, &noAtimeRefused);
    if (fd >= 0) {
      f.size = std::max<std::int64_t>(st.st_size, 0);
      if (f.size > room) {
        close(fd);
        f.kind = ListedFile::kGrown;
        return f;
      }
      const std::int64_t n = ReadAt(fd, ws.in.data(), std::min(f.size, want), 0);
      f.got = std::max<std::int64_t>(n, 0);
      if (f.size > want && n == want) {
        f.kind = ListedFile::kLonger;
        f.fd = fd;
        return f;
      }
      close(fd);
      f.kind = ListedFile::kRead;
      return f;
    }
  }
  // A link, a pipe or device, a folder after all, gone, or a file we may not read (its
  // bytes are what could not be read).
  EntryStat stat;
  f = ListedFile{};
  if (!reader.Stat(entry.Name, stat) || stat.Kind == EntryKind::Directory) return f;
  f.size = std::max<std::int64_t>(stat.Size, 0);
  if (stat.Kind != EntryKind::File) f.kind = ListedFile::kOther;
  else f.kind = f.size > room ? ListedFile::kGrown : ListedFile::kUnreadable;
  return f;
}

// Listed entries waiting to be read together (BatchReader), in the order of the directory:
// their names are kept, as the directory reader's buffer moves on. Where the thread's reader
// does not batch, each entry is measured at once, as it comes.
class PendingEntries {
 public:
  PendingEntries(DirReader& reader, bool& noAtimeRefused)
      : reader_(reader), noAtimeRefused_(noAtimeRefused), batch_(ThreadBatchReader()),
        batching_(batch_.Batching()) {}
  // Hands the entry to measure(entry, hash, its batched read or nullptr): at once where
  // files are not batched, else when a batch is gathered (read as far as FirstRead(room,
  // head)); false as soon as measure is.
  template <typename Measure>
  bool Take(const DirEntry& entry, std::uint64_t hash, std::int64_t room, std::int64_t head, Measure&& measure) {
    if (!batching_) return measure(entry, hash, nullptr);
    Add(entry, hash);
    return count_ < std::min(batch_.Limit(), BatchReader::kMaxFiles) || Flush(room, head, measure);
  }
  // Reads the regular files among the entries gathered in one batch, as far as
  // FirstRead(room, head), then hands each entry to measure in order; false as soon as
  // measure is.
  template <typename Measure>
  bool Flush(std::int64_t room, std::int64_t head, Measure&& measure) {
    BatchReader::File* files = batch_.Files();
    std::size_t regular = 0;
    for (std::size_t i = 0; i < count_; ++i) {
      if (types_[i] != DT_REG) continue;
      files[regular].name = names_.c_str() + at_[i];
      files[regular++].want = FirstRead(room, head);
    }
    if (regular > 0) batch_.Read(reader_.Fd(), files, regular, &noAtimeRefused_);
    const std::size_t count = count_;
    count_ = 0;
    for (std::size_t i = 0, next = 0; i < count; ++i) {
      DirEntry entry;
      entry.Name = names_.c_str() + at_[i];
      entry.NameLength = (i + 1 < count ? at_[i + 1] : names_.size()) - at_[i] - 1;
      entry.Type = types_[i];
      if (!measure(entry, hashes_[i], types_[i] == DT_REG ? &files[next++] : nullptr)) return false;
    }
    names_.clear();
    return true;
  }

 private:
  void Add(const DirEntry& entry, std::uint64_t hash) {
    at_[count_] = names_.size();
    types_[count_] = entry.Type;
    hashes_[count_++] = hash;
    names_.append(entry.Name, entry.NameLength);
    names_.push_back('\0');
  }

  DirReader& reader_;
  bool& noAtimeRefused_;
  BatchReader& batch_;
  const bool batching_;
  std::string names_;
  std::array<std::size_t, BatchReader::kMaxFiles> at_{};
  std::array<unsigned char, BatchReader::kMaxFiles> types_{};
  std::array<std::uint64_t, BatchReader::kMaxFiles> hashes_{};
  std::size_t count_ = 0;
};

}  // namespace

// A folder the scan found small is compressed whole as it is listed, each regular file
// opened and read once (ReadListed). Returns false, having stopped reading, when its files
// now come to more than limit bytes: it has grown since the scan and is sampled instead.
bool EstimateWholeDirect(DirReader& reader, const ScanRules& rules, std::int64_t limit, const FileDraws* draws,
                         const std::atomic<bool>* stop, Workspace& ws, SavingEstimate& out) {
  WholeSums sums;
  bool noAtimeRefused = false;  // in this folder (OpenForReading)
  Listing listing;  // only its byte counts are kept
  // Measures one entry; false when the folder has grown past its limit.
  auto measure = [&](const DirEntry& entry, std::uint64_t, BatchReader::File* batched) {
    const std::int64_t room = limit - listing.regularBytes;
    const ListedFile f = ReadListed(reader, entry, room, room + 1, ws, noAtimeRefused, batched);
    switch (f.kind) {
      case ListedFile::kGrown:
      case ListedFile::kLonger:  // cannot be: the head is the whole room
        if (f.fd >= 0) close(f.fd);
        return false;
      case ListedFile::kSkip:
        return true;
      case ListedFile::kOther:
        listing.otherBytes = AddSat(listing.otherBytes, f.size);
        return true;
      case ListedFile::kUnreadable: {
        listing.regularBytes = AddSat(listing.regularBytes, f.size);
        WholeFile unreadable;
        unreadable.missing = f.size;
        sums.Add(unreadable, f.size);
        return true;
      }
      case ListedFile::kRead: {
        listing.regularBytes = AddSat(listing.regularBytes, f.size);
        WholeFile whole;
        whole.readable = true;
        whole.read = f.got;
        whole.missing = f.size - f.got;
        // Deflating noise costs more than screening it and saves nothing; the rest exactly.
        const ScreenedSaving screened = DeflateSaving(ws, ws.in.data(), static_cast<std::size_t>(f.got));
        whole.saving = screened.saving;
        if (screened.noise) sums.noiseBytes += f.got;
        sums.Add(whole, f.size);
        return true;
      }
    }
    return true;
  };
  PendingEntries pending(reader, noAtimeRefused);
  const auto room = [&] { return limit - listing.regularBytes; };
  CountedEntries entries(reader, rules, draws);
  listing.otherBytes = entries.KeptOtherBytes();
  DirEntry entry;
  while (entries.Next(stop, entry))
    if (!pending.Take(entry, 0, room(), room() + 1, measure)) return false;
  if (!Stopped(stop) && !pending.Flush(room(), room() + 1, measure)) return false;
  if (Stopped(stop)) {
    out = {};
    return true;
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

// Whether a file's bytes, more than an exactly deflated file holds, start as a compressed
// format whose first slice zstd cannot shrink, and take as many values as random bytes do
// as far as they were read (size of them, the first read's at most). zstd at -1 codes
// literals as they are, so a PNG stored with little compression passes its test while
// deflate's Huffman codes take 3-22% off it: 19 of the 63 such files over 4 KiB in /usr,
// Adwaita's large icons among them, against the 3% a stored stream is allowed (PCM audio in
// a RIFF file, 3-27%, too). Their skew shows in every one; such a file is measured as any
// other.
bool LooksCompressed(Workspace& ws, const unsigned char* data, std::int64_t size) {
  return IsCompressedFormat(data, static_cast<std::size_t>(kSmallSlice)) &&
         static_cast<double>(ws.FastSize(data, static_cast<std::size_t>(kSmallSlice))) >=
             kIncompressibleShare * static_cast<double>(kSmallSlice) &&
         BytesLookLikeNoise(data, static_cast<std::size_t>(size));
}

// One calibration draw's race: the best key so far, and its winner's slice.
constexpr double kNoKey = -std::numeric_limits<double>::infinity();
struct CalibrationDraw {
  double key = kNoKey;
  std::array<unsigned char, kSmallSlice> slice;
};

}  // namespace

// A folder the scan found small (up to SmallLimit) is read whole as it is listed, each
// regular file opened once and sized by its own descriptor: small files deflated exactly,
// larger ones sized by the fast codec, then a few slices of those compressed both ways to
// calibrate it (estimate/saving_small.h). With the scan's draws, only a sample of its short
// files, and of its larger ones when it holds many, is read. Returns false, having stopped
// reading, when its files now come to more than limit bytes: it has grown since the scan
// and is sampled.
bool EstimateSmallDirect(DirReader& reader, const ScanRules& rules, std::int64_t limit,
                         std::uint64_t seed, const FileDraws* draws, std::int64_t allocated,
                         const std::atomic<bool>* stop, Workspace& ws, SavingEstimate& out) {
  // The short files the scan left out of its sample, and empty files, are not opened; nor
  // those of its sample that the folder does not need (ShortSampleToRead), nor the larger
  // files beyond the sample of them it reads (PlanLargerSample).
  const bool skipping = draws != nullptr && (!draws->Skipped.empty() || !draws->Sample.empty() || !draws->Larger.empty());
  std::int64_t regularBytes = skipping ? draws->SkippedShortBytes : 0;
  std::size_t sampleRead = skipping ? draws->Sample.size() : 0;
  SmallSums sums;
  bool noAtimeRefused = false;  // in this folder (OpenForReading)
  // The calibration slices: each of the draws ends on a compressible larger file with
  // probability proportional to its fast size, at a uniform place in it. Every such file
  // takes part in each draw's race as it is read (the exponential race: the file with the
  // highest log(u) / fast wins, u uniform from the seed and the file's name and size), and a
  // winner's slice is copied while its bytes are at hand: no file is opened twice, and the
  // order of the directory does not change which files win.
  std::array<CalibrationDraw, kSmallCalibrationDraws> slices;
  // The file that measures the slices' bias (estimate/slice_bias.h), drawn by a race of its
  // own: its bytes (kBiasSpan of them at most) kept while it leads, and its record in the
  // larger sample (or -1).
  double biasKey = kNoKey;
  std::vector<unsigned char> biasBytes;
  std::int64_t biasSize = 0, biasFast = 0;
  std::ptrdiff_t biasRecord = -1;
  // The larger sample's record the file being measured will have, or -1.
  std::ptrdiff_t current = -1;
  // The compressible larger files' bytes while they come to at most wholeModel: then they
  // are deflated whole at the end instead of the slices (ends of each in modelEnds, and the
  // larger sample's record of each, or -1, in modelRecords).
  const std::int64_t wholeModel = kSmallWholeModel;
  std::vector<unsigned char> modelCopy;
  std::vector<std::size_t> modelEnds;
  std::vector<std::ptrdiff_t> modelRecords;
  std::int64_t otherBytes = 0, read = 0;
  FolderEntries skippedNames, skippedLarger;  // passed over, with the type the directory gave
  if (skipping) {
    sums.unreadShortFiles = draws->SkippedShortFiles;
    sums.unreadShortBytes = draws->SkippedShortBytes;
    std::int64_t sampleBytes = 0;
    for (const auto& [hash, size] : draws->Sample) sampleBytes += size;
    sampleRead = static_cast<std::size_t>(ShortSampleToRead(
        draws->SkippedShortFiles + static_cast<std::int64_t>(draws->Sample.size()), draws->SkippedShortBytes + sampleBytes,
        static_cast<int>(draws->Sample.size()), static_cast<double>(allocated)));
    for (std::size_t j = sampleRead; j < draws->Sample.size(); ++j) {
      ++sums.unreadShortFiles;
      sums.unreadShortBytes += draws->Sample[j].second;
      regularBytes = AddSat(regularBytes, draws->Sample[j].second);
    }
  }
  // The larger files: the first plan.sampled of the scan's (lowest hashes first) below the
  // census size are read as a sample when that is fewer than all of them (their hashes in
  // largerSampled), the rest of them not opened.
  std::vector<std::uint64_t> largerSampled, largerLeft;
  if (skipping) {
    const LargerPlan plan = PlanLargerSample(draws->Larger, static_cast<double>(allocated));
    int taken = 0;
    for (const auto& [hash, size] : draws->Larger) {
      if (plan.sampled == plan.others || size > plan.census) continue;
      if (taken++ < plan.sampled) {
        largerSampled.push_back(hash);
        continue;
      }
      largerLeft.push_back(hash);
      ++sums.unreadLargerFiles;
      sums.unreadLargerBytes += size;
      sums.unreadLargerSquares += static_cast<double>(size) * static_cast<double>(size);
      regularBytes = AddSat(regularBytes, size);
    }
    std::sort(largerSampled.begin(), largerSampled.end());
    std::sort(largerLeft.begin(), largerLeft.end());
  }
  auto among = [](const std::vector<std::uint64_t>& hashes, std::uint64_t hash) {
    return !hashes.empty() && std::binary_search(hashes.begin(), hashes.end(), hash);
  };
  // Whether an entry is one of the short files not to be opened: their sizes are counted above.
  auto leftOut = [&](std::uint64_t hash) {
    if (among(draws->Skipped, hash)) return true;
    for (std::size_t j = sampleRead; j < draws->Sample.size(); ++j)
      if (draws->Sample[j].first == hash) return true;
    return false;
  };

  // Measures one entry as ReadListed found it, under its name; false when the folder has
  // grown past its limit since the scan.
  auto measure = [&](ListedFile f, std::string_view name) {
    const unsigned char* data = ws.in.data();
    if (f.kind == ListedFile::kLonger) {
      Fd fd(f.fd);
      const std::int64_t room = limit - regularBytes;
      // A compressed format's stream (gzip, PNG, JPEG, xz, zstd, bzip2...) whose first
      // block zstd cannot shrink and whose first read looks like noise is taken as such
      // throughout: the rest is not read.
      struct stat st;
      if (LooksCompressed(ws, data, f.got) && fstat(fd.get(), &st) == 0) {
        f.size = std::max<std::int64_t>(st.st_size, 0);
        if (f.size > room) return false;
        read += f.got;
        regularBytes = AddSat(regularBytes, f.size);
        sums.storedBytes += f.size;
        sums.storedFast += f.size;
        return true;
      }
      // The rest, up to one byte past the room left.
      // Into ws.longFile, not ws.in: growing ws.in to the room left cleared and reallocated
      // up to a megabyte for every such file.
      // Sized once for the largest room a folder can leave, and never cleared: only the pages
      // read into are touched.
      ByteBuffer& whole = ws.longFile;
      GrowUnkept(whole, static_cast<std::size_t>(room + 1), static_cast<std::size_t>(std::max<std::int64_t>(limit, room) + 1));
      std::copy_n(ws.in.data(), f.got, whole.data());
      data = whole.data();
      const std::int64_t more = ReadAt(fd.get(), whole.data() + f.got, room + 1 - f.got, f.got);
      const std::int64_t got = f.got + std::max<std::int64_t>(more, 0);
      if (got > room) return false;
      f.kind = ListedFile::kRead;
      if (f.size < got) f.size = got;  // the directory's word alone: the size is what was read
      f.got = got;
    }
    switch (f.kind) {
      case ListedFile::kGrown:
      case ListedFile::kLonger:
        return false;
      case ListedFile::kSkip:
        return true;
      case ListedFile::kOther:
        otherBytes = AddSat(otherBytes, f.size);
        return true;
      case ListedFile::kUnreadable:
        regularBytes = AddSat(regularBytes, f.size);
        sums.missing += f.size;
        return true;
      case ListedFile::kRead:
        break;
    }
    regularBytes = AddSat(regularBytes, f.size);
    const std::int64_t n = f.got;
    read += n;
    sums.missing += f.size - n;
    if (n == 0) return true;
    if (n <= kSmallExactFile) {
      const ScreenedSaving screened = DeflateSaving(ws, data, static_cast<std::size_t>(n));
      if (screened.noise) {
        sums.storedBytes += n;
        sums.storedFast += n;
      } else {
        sums.exactBytes += n;
        sums.exactSaving += screened.saving;
      }
      if (skipping && n <= kShortFile && f.size == n) sums.shortSample.emplace_back(n, screened.saving);
      return true;
    }
    if (LooksCompressed(ws, data, n)) {
      sums.storedBytes += n;
      sums.storedFast += n;
      return true;
    }
    const std::int64_t fast = YardstickSize(ws, data, static_cast<std::size_t>(n));
    const auto unshrunk = [n](std::int64_t size) {
      return static_cast<double>(size) >= kIncompressibleShare * static_cast<double>(n);
    };
    if (unshrunk(fast)) {
      // The fast codec at a negative level finds no repeats and codes literals as they
      // are: bytes of few values (base64, hex) that deflate's Huffman codes shrink by a
      // quarter to a half look stored to it. Only noise is taken as stored; the rest is
      // deflated exactly. Text of short repeats (tables of numbers) that only -1 finds
      // stays with the other files: deflated exactly with the estimate's deflate it came
      // out two blocks over the zipper's on a folder of Perl-like tables.
      if (BytesLookLikeNoise(data, static_cast<std::size_t>(n))) {
        sums.storedBytes += n;
        sums.storedFast += std::min(fast, n);
        return true;
      }
      if (unshrunk(ws.FastSize(data, static_cast<std::size_t>(n)))) {
        sums.exactBytes += n;
        sums.exactSaving += std::max<std::int64_t>(0, n - ws.Compressed(data, static_cast<std::size_t>(n)));
        return true;
      }
    }
    sums.modelBytes += n;
    sums.modelFast += fast;
    if (sums.modelBytes <= wholeModel) {
      modelCopy.insert(modelCopy.end(), data, data + n);
      modelEnds.push_back(modelCopy.size());
      modelRecords.push_back(current);
    }
    std::uint64_t state = FnvStart(seed);
    for (const char c : name) state = FnvAdd(state, static_cast<unsigned char>(c));
    state = FnvAdd(state, static_cast<std::uint64_t>(fast));
    for (CalibrationDraw& d : slices) {
      const double u = UnitInterval(SplitMix64(state));
      const double at = UnitInterval(SplitMix64(state));
      const double key = std::log(std::max(u, 0x1.0p-60)) / static_cast<double>(fast);
      if (key <= d.key) continue;
      d.key = key;
      const std::int64_t start = std::min(static_cast<std::int64_t>(at * static_cast<double>(n)), n - kSmallSlice);
      std::copy_n(data + start, kSmallSlice, d.slice.data());
    }
    const double u = UnitInterval(SplitMix64(state));
    const double at = UnitInterval(SplitMix64(state));
    const double key = std::log(std::max(u, 0x1.0p-60)) / static_cast<double>(fast);
    if (key > biasKey) {
      biasKey = key;
      biasSize = n;
      biasFast = fast;
      biasRecord = current;
      const std::int64_t span = std::min(n, kBiasSpan);
      const std::int64_t start = std::min(static_cast<std::int64_t>(at * static_cast<double>(n)), n - span);
      biasBytes.assign(data + start, data + start + span);
    }
    return true;
  };
  // measure for a larger file of the sample, keeping what it added to each part.
  auto measureSampled = [&](ListedFile f, std::string_view name) {
    auto parts = [&] {
      return LargerRead{regularBytes, sums.exactSaving, sums.modelBytes, sums.modelFast,
                        sums.storedBytes, sums.storedFast, sums.missing};
    };
    const LargerRead before = parts();
    current = static_cast<std::ptrdiff_t>(sums.largerSample.size());
    const bool grown = !measure(f, name);
    current = -1;
    if (grown) return false;
    LargerRead r = parts();
    r.size -= before.size;
    r.exactSaving -= before.exactSaving;
    r.modelBytes -= before.modelBytes;
    r.modelFast -= before.modelFast;
    r.storedBytes -= before.storedBytes;
    r.storedFast -= before.storedFast;
    r.missing -= before.missing;
    if (r.size > 0) sums.largerSample.push_back(r);  // else gone, or not a regular file after all
    return true;
  };

  // Reads and measures one entry (batched: its read in a batch, or nullptr).
  auto readAndMeasure = [&](const DirEntry& entry, std::uint64_t hash, BatchReader::File* batched) {
    const ListedFile f = ReadListed(reader, entry, limit - regularBytes, kSmallHead, ws, noAtimeRefused, batched);
    return among(largerSampled, hash) ? measureSampled(f, entry.NameView()) : measure(f, entry.NameView());
  };
  // The files to read are read a batch at a time where the kernel lets us (BatchReader),
  // each measured in the order of the directory as before.
  PendingEntries pending(reader, noAtimeRefused);
  CountedEntries entries(reader, rules, draws);
  otherBytes = entries.KeptOtherBytes();
  DirEntry entry;
  while (entries.Next(stop, entry)) {
    const std::string_view name = entry.NameView();
    const std::uint64_t hash = skipping ? NameHash(seed, name) : 0;
    if (skipping && leftOut(hash)) {
      skippedNames.Add(entry);
      continue;
    }
    if (among(largerLeft, hash)) {
      skippedLarger.Add(entry);
      continue;
    }
    if (!pending.Take(entry, hash, limit - regularBytes, kSmallHead, readAndMeasure)) return false;
  }
  if (!Stopped(stop) && !pending.Flush(limit - regularBytes, kSmallHead, readAndMeasure)) return false;
  if (Stopped(stop)) {
    out = {};
    return true;
  }
  // Reads the entries passed over after all, as the listing would have (in its order and a
  // batch at a time, the directory's word on each one's type); false when the folder has
  // grown past its limit.
  auto readAfterAll = [&](const FolderEntries& passed, std::int64_t head) {
    auto readOne = [&](const DirEntry& again, std::uint64_t, BatchReader::File* batched) {
      ListedFile f = ReadListed(reader, again, limit - regularBytes, head, ws, noAtimeRefused, batched);
      if (head == kShortFile + 1 && f.kind == ListedFile::kLonger) {
        close(f.fd);  // grown well past a short file since the scan: sampled afresh
        return false;
      }
      return measure(f, again.NameView());
    };
    PendingEntries again(reader, noAtimeRefused);
    FolderEntries::Cursor cursor = passed.Walk();
    for (DirEntry entry; cursor.Next(entry);) {
      if (Stopped(stop)) return true;
      if (!again.Take(entry, 0, limit - regularBytes, head, readOne)) return false;
    }
    return Stopped(stop) || again.Flush(limit - regularBytes, head, readOne);
  };
  const double folder = static_cast<double>(std::max(allocated, regularBytes));
  // A sample of larger files that shows them unlike each other, or any of them shrinking:
  // the rest is read after all.
  if (sums.unreadLargerBytes > 0 && !LargerSampleTrusted(sums, folder)) {
    regularBytes -= sums.unreadLargerBytes;
    sums.unreadLargerBytes = sums.unreadLargerFiles = 0;
    sums.unreadLargerSquares = 0;
    sums.largerSample.clear();
    std::fill(modelRecords.begin(), modelRecords.end(), -1);
    biasRecord = -1;
    if (!readAfterAll(skippedLarger, kSmallHead)) return false;
  }
  // A sample that leaves the short files too uncertain, or that is unlike them in size:
  // they are read after all, exactly.
  if (skipping && sums.unreadShortBytes > 0) {
    const UnreadShortPart part = UnreadShortSaving(sums, 0.5);
    if (part.high - part.low > kShortWidthShare * folder || !ShortSampleStandsForUnread(sums)) {
      regularBytes -= sums.unreadShortBytes;
      sums.unreadShortBytes = sums.unreadShortFiles = 0;
      sums.shortSample.clear();
      if (!readAfterAll(skippedNames, kShortFile + 1)) return false;
    }
  }
  if (Stopped(stop)) {
    out = {};
    return true;
  }
  if (sums.modelBytes > 0 && sums.modelBytes <= wholeModel) {
    for (std::size_t j = 0, start = 0; j < modelEnds.size(); start = modelEnds[j++]) {
      const auto n = static_cast<std::int64_t>(modelEnds[j] - start);
      const std::int64_t saving = std::max<std::int64_t>(0, n - ws.Compressed(modelCopy.data() + start, modelEnds[j] - start));
      sums.exactBytes += n;
      sums.exactSaving += saving;
      if (modelRecords[j] >= 0) {
        LargerRead& r = sums.largerSample[static_cast<std::size_t>(modelRecords[j])];
        r.modelBytes = r.modelFast = 0;
        r.exactSaving += saving;
      }
    }
    sums.modelBytes = sums.modelFast = 0;
  }
  if (biasKey != kNoKey && sums.modelBytes > 0 && WantsSliceBias(allocated)) {
    const bool wholeFile = static_cast<std::int64_t>(biasBytes.size()) == biasSize;
    const SliceBias bias = MeasureSliceBias(ws, biasBytes.data(), biasBytes.size(), wholeFile ? biasFast : -1);
    sums.biasMeasured = bias.measured;
    sums.biasWhole = bias.whole;
    sums.biasCold = bias.cold;
    sums.biasColdSpread = bias.coldSpread;
    sums.biasTiles = bias.tiles;
    sums.biasCover = static_cast<double>(biasBytes.size()) / static_cast<double>(biasSize);
    if (bias.measured && wholeFile) {
      // The whole file: deflated, it is exact.
      const std::int64_t saving = std::max<std::int64_t>(0, biasSize - bias.deflated);
      sums.modelBytes -= biasSize;
      sums.modelFast -= biasFast;
      sums.exactBytes += biasSize;
      sums.exactSaving += saving;
      if (biasRecord >= 0) {
        LargerRead& r = sums.largerSample[static_cast<std::size_t>(biasRecord)];
        r.modelBytes -= biasSize;
        r.modelFast -= biasFast;
        r.exactSaving += saving;
      }
    }
  }
  for (const CalibrationDraw& d : slices) {
    if (d.key == kNoKey || sums.modelBytes == 0) continue;
    const int level = sums.biasMeasured ? kMeasuredSliceLevel : 6;  // else the zipper's
    const double deflated = static_cast<double>(ws.Compressed(d.slice.data(), d.slice.size(), level));
    const double fast = static_cast<double>(YardstickSize(ws, d.slice.data(), d.slice.size()));
    sums.ratios.push_back(deflated / std::max(fast, 1.0));
  }
  out = SmallFolderInterval(sums);
  out.Sampled = read;
  out.Bytes = AddSat(regularBytes, otherBytes);
  return true;
}

}  // namespace saving
}  // namespace orbelan
