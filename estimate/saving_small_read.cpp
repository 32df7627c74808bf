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

#include "estimate/batch_reader.h"
#include "estimate/noise_screen.h"
#include "estimate/saving_interval.h"
#include "estimate/saving_small.h"
#include "estimate/saving_small_larger.h"
#include "estimate/slice_bias.h"
#include "estimate/small_yardstick.h"
#include "numbers/random_bits.h"
#include "platform/dir_reader.h"
#include "scan/folder_entries.h"
#include "scan/scan_rules.h"

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

// Whether hash is among hashes (sorted).
bool Among(const std::vector<std::uint64_t>& hashes, std::uint64_t hash) {
  return !hashes.empty() && std::binary_search(hashes.begin(), hashes.end(), hash);
}

// One small folder read whole as it is listed (EstimateSmallDirect): what it has found so
// far, and the files it passed over that it may have to read after all.
class SmallFolderRead {
 public:
  SmallFolderRead(DirReader& reader, std::int64_t limit, std::uint64_t seed, const FileDraws* draws,
                  std::int64_t allocated, const std::atomic<bool>* stop, Workspace& ws)
      : reader_(reader), limit_(limit), seed_(seed), draws_(draws), allocated_(allocated), stop_(stop), ws_(ws),
        skipping_(draws != nullptr &&
                  (!draws->Skipped.empty() || !draws->Sample.empty() || !draws->Larger.empty())) {}

  // False when the folder has grown past its limit since the scan.
  bool Run(const ScanRules& rules, SavingEstimate& out) {
    if (skipping_) {
      PlanShortFiles();
      PlanLargerFiles();
    }
    if (!ReadListing(rules)) return false;
    if (Stopped(stop_)) {
      out = {};
      return true;
    }
    const double folder = static_cast<double>(std::max(allocated_, regularBytes_));
    if (!ReadUntrustedLarger(folder) || !ReadUncertainShort(folder)) return false;
    if (Stopped(stop_)) {
      out = {};
      return true;
    }
    DeflateModelWhole();
    MeasureBias();
    CalibrateSlices();
    out = SmallFolderInterval(sums_);
    out.Sampled = read_;
    out.Bytes = AddSat(regularBytes_, otherBytes_);
    return true;
  }

 private:
  // The short files the scan left out of its sample, and empty files, are not opened; nor
  // those of its sample that the folder does not need (ShortSampleToRead).
  void PlanShortFiles() {
    regularBytes_ = draws_->SkippedShortBytes;
    sums_.unreadShortFiles = draws_->SkippedShortFiles;
    sums_.unreadShortBytes = draws_->SkippedShortBytes;
    std::int64_t sampleBytes = 0;
    for (const auto& [hash, size] : draws_->Sample) sampleBytes += size;
    sampleRead_ = static_cast<std::size_t>(ShortSampleToRead(
        draws_->SkippedShortFiles + static_cast<std::int64_t>(draws_->Sample.size()),
        draws_->SkippedShortBytes + sampleBytes, static_cast<int>(draws_->Sample.size()),
        static_cast<double>(allocated_)));
    for (std::size_t j = sampleRead_; j < draws_->Sample.size(); ++j) {
      ++sums_.unreadShortFiles;
      sums_.unreadShortBytes += draws_->Sample[j].second;
      regularBytes_ = AddSat(regularBytes_, draws_->Sample[j].second);
    }
  }

  // The larger files: the first plan.sampled of the scan's (lowest hashes first) below the
  // census size are read as a sample when that is fewer than all of them (their hashes in
  // largerSampled_), the rest of them not opened (PlanLargerSample).
  void PlanLargerFiles() {
    const LargerPlan plan = PlanLargerSample(draws_->Larger, static_cast<double>(allocated_));
    int taken = 0;
    for (const auto& [hash, size] : draws_->Larger) {
      if (plan.sampled == plan.others || size > plan.census) continue;
      if (taken++ < plan.sampled) {
        largerSampled_.push_back(hash);
        continue;
      }
      largerLeft_.push_back(hash);
      ++sums_.unreadLargerFiles;
      sums_.unreadLargerBytes += size;
      sums_.unreadLargerSquares += static_cast<double>(size) * static_cast<double>(size);
      regularBytes_ = AddSat(regularBytes_, size);
    }
    std::sort(largerSampled_.begin(), largerSampled_.end());
    std::sort(largerLeft_.begin(), largerLeft_.end());
  }

  // Whether an entry is one of the short files not to be opened: their sizes are counted.
  bool LeftOut(std::uint64_t hash) const {
    if (Among(draws_->Skipped, hash)) return true;
    for (std::size_t j = sampleRead_; j < draws_->Sample.size(); ++j)
      if (draws_->Sample[j].first == hash) return true;
    return false;
  }

  // Reads and measures the listed entries in the order of the directory, a batch at a time
  // where the kernel lets us (BatchReader); the files passed over are kept by name.
  bool ReadListing(const ScanRules& rules) {
    auto readAndMeasure = [this](const DirEntry& entry, std::uint64_t hash, BatchReader::File* batched) {
      const ListedFile f = ReadListed(reader_, entry, limit_ - regularBytes_, kSmallHead, ws_, noAtimeRefused_, batched);
      return Among(largerSampled_, hash) ? MeasureSampled(f, entry.NameView()) : Measure(f, entry.NameView());
    };
    PendingEntries pending(reader_, noAtimeRefused_);
    CountedEntries entries(reader_, rules, draws_);
    otherBytes_ = entries.KeptOtherBytes();
    DirEntry entry;
    while (entries.Next(stop_, entry)) {
      const std::uint64_t hash = skipping_ ? NameHash(seed_, entry.NameView()) : 0;
      if (skipping_ && LeftOut(hash)) {
        skippedNames_.Add(entry);
        continue;
      }
      if (Among(largerLeft_, hash)) {
        skippedLarger_.Add(entry);
        continue;
      }
      if (!pending.Take(entry, hash, limit_ - regularBytes_, kSmallHead, readAndMeasure)) return false;
    }
    return Stopped(stop_) || pending.Flush(limit_ - regularBytes_, kSmallHead, readAndMeasure);
  }

  // Reads the entries passed over after all, as the listing would have (in its order and a
  // batch at a time, the directory's word on each one's type); false when the folder has
  // grown past its limit.
  bool ReadAfterAll(const FolderEntries& passed, std::int64_t head) {
    auto readOne = [this, head](const DirEntry& again, std::uint64_t, BatchReader::File* batched) {
      ListedFile f = ReadListed(reader_, again, limit_ - regularBytes_, head, ws_, noAtimeRefused_, batched);
      if (head == kShortFile + 1 && f.kind == ListedFile::kLonger) {
        close(f.fd);  // grown well past a short file since the scan: sampled afresh
        return false;
      }
      return Measure(f, again.NameView());
    };
    PendingEntries again(reader_, noAtimeRefused_);
    FolderEntries::Cursor cursor = passed.Walk();
    for (DirEntry entry; cursor.Next(entry);) {
      if (Stopped(stop_)) return true;
      if (!again.Take(entry, 0, limit_ - regularBytes_, head, readOne)) return false;
    }
    return Stopped(stop_) || again.Flush(limit_ - regularBytes_, head, readOne);
  }

  // A sample of larger files that shows them unlike each other, or any of them shrinking:
  // the rest is read after all.
  bool ReadUntrustedLarger(double folder) {
    if (sums_.unreadLargerBytes <= 0 || LargerSampleTrusted(sums_, folder)) return true;
    regularBytes_ -= sums_.unreadLargerBytes;
    sums_.unreadLargerBytes = sums_.unreadLargerFiles = 0;
    sums_.unreadLargerSquares = 0;
    sums_.largerSample.clear();
    std::fill(modelRecords_.begin(), modelRecords_.end(), -1);
    biasRecord_ = -1;
    return ReadAfterAll(skippedLarger_, kSmallHead);
  }

  // A sample that leaves the short files too uncertain, or that is unlike them in size:
  // they are read after all, exactly.
  bool ReadUncertainShort(double folder) {
    if (!skipping_ || sums_.unreadShortBytes <= 0) return true;
    const UnreadShortPart part = UnreadShortSaving(sums_, 0.5);
    if (!(part.high - part.low > kShortWidthShare * folder) && ShortSampleStandsForUnread(sums_)) return true;
    regularBytes_ -= sums_.unreadShortBytes;
    sums_.unreadShortBytes = sums_.unreadShortFiles = 0;
    sums_.shortSample.clear();
    return ReadAfterAll(skippedNames_, kShortFile + 1);
  }

  // What a file longer than the head turned out to be.
  enum class Longer { kStored, kGrown, kRead };
  // A compressed format's stream (gzip, PNG, JPEG, xz, zstd, bzip2...) whose first block
  // zstd cannot shrink and whose first read looks like noise is taken as such throughout:
  // the rest is not read. Any other is read on, up to one byte past the room left, and
  // data then points at the whole of it.
  Longer ReadLonger(ListedFile& f, const unsigned char*& data) {
    Fd fd(f.fd);
    const std::int64_t room = limit_ - regularBytes_;
    struct stat st;
    if (LooksCompressed(ws_, data, f.got) && fstat(fd.get(), &st) == 0) {
      f.size = std::max<std::int64_t>(st.st_size, 0);
      if (f.size > room) return Longer::kGrown;
      read_ += f.got;
      regularBytes_ = AddSat(regularBytes_, f.size);
      sums_.storedBytes += f.size;
      sums_.storedFast += f.size;
      return Longer::kStored;
    }
    // Into ws.longFile, not ws.in: growing ws.in to the room left cleared and reallocated
    // up to a megabyte for every such file.
    // Sized once for the largest room a folder can leave, and never cleared: only the pages
    // read into are touched.
    ByteBuffer& whole = ws_.longFile;
    GrowUnkept(whole, static_cast<std::size_t>(room + 1), static_cast<std::size_t>(std::max<std::int64_t>(limit_, room) + 1));
    std::copy_n(ws_.in.data(), f.got, whole.data());
    data = whole.data();
    const std::int64_t more = ReadAt(fd.get(), whole.data() + f.got, room + 1 - f.got, f.got);
    const std::int64_t got = f.got + std::max<std::int64_t>(more, 0);
    if (got > room) return Longer::kGrown;
    f.kind = ListedFile::kRead;
    if (f.size < got) f.size = got;  // the directory's word alone: the size is what was read
    f.got = got;
    return Longer::kRead;
  }

  // Measures one entry as ReadListed found it, under its name; false when the folder has
  // grown past its limit since the scan.
  bool Measure(ListedFile f, std::string_view name) {
    const unsigned char* data = ws_.in.data();
    if (f.kind == ListedFile::kLonger) {
      const Longer longer = ReadLonger(f, data);
      if (longer != Longer::kRead) return longer == Longer::kStored;
    }
    switch (f.kind) {
      case ListedFile::kGrown:
      case ListedFile::kLonger:
        return false;
      case ListedFile::kSkip:
        return true;
      case ListedFile::kOther:
        otherBytes_ = AddSat(otherBytes_, f.size);
        return true;
      case ListedFile::kUnreadable:
        regularBytes_ = AddSat(regularBytes_, f.size);
        sums_.missing += f.size;
        return true;
      case ListedFile::kRead:
        break;
    }
    regularBytes_ = AddSat(regularBytes_, f.size);
    const std::int64_t n = f.got;
    read_ += n;
    sums_.missing += f.size - n;
    if (n == 0) return true;
    if (n <= kSmallExactFile) {
      MeasureExact(data, n, f.size);
      return true;
    }
    if (LooksCompressed(ws_, data, n)) {
      sums_.storedBytes += n;
      sums_.storedFast += n;
      return true;
    }
    const std::int64_t fast = YardstickSize(ws_, data, static_cast<std::size_t>(n));
    if (!MeasureUnshrunk(data, n, fast)) Model(data, n, fast, name);
    return true;
  }

  // A file of at most kSmallExactFile bytes: deflated exactly, unless it is noise.
  void MeasureExact(const unsigned char* data, std::int64_t n, std::int64_t size) {
    const ScreenedSaving screened = DeflateSaving(ws_, data, static_cast<std::size_t>(n));
    if (screened.noise) {
      sums_.storedBytes += n;
      sums_.storedFast += n;
    } else {
      sums_.exactBytes += n;
      sums_.exactSaving += screened.saving;
    }
    if (skipping_ && n <= kShortFile && size == n) sums_.shortSample.emplace_back(n, screened.saving);
  }

  // A larger file the yardstick did not shrink (fast): true when it is measured so, as
  // stored or deflated exactly. The fast codec at a negative level finds no repeats and
  // codes literals as they are: bytes of few values (base64, hex) that deflate's Huffman
  // codes shrink by a quarter to a half look stored to it. Only noise is taken as stored;
  // the rest is deflated exactly. Text of short repeats (tables of numbers) that only -1
  // finds stays with the other files: deflated exactly with the estimate's deflate it came
  // out two blocks over the zipper's on a folder of Perl-like tables.
  bool MeasureUnshrunk(const unsigned char* data, std::int64_t n, std::int64_t fast) {
    const auto unshrunk = [n](std::int64_t size) {
      return static_cast<double>(size) >= kIncompressibleShare * static_cast<double>(n);
    };
    if (!unshrunk(fast)) return false;
    if (BytesLookLikeNoise(data, static_cast<std::size_t>(n))) {
      sums_.storedBytes += n;
      sums_.storedFast += std::min(fast, n);
      return true;
    }
    if (!unshrunk(ws_.FastSize(data, static_cast<std::size_t>(n)))) return false;
    sums_.exactBytes += n;
    sums_.exactSaving += std::max<std::int64_t>(0, n - ws_.Compressed(data, static_cast<std::size_t>(n)));
    return true;
  }

  // A compressible larger file: sized by the yardstick, copied while the folder's such
  // files are few enough to deflate whole, and entered in the slices' and the bias file's
  // races.
  void Model(const unsigned char* data, std::int64_t n, std::int64_t fast, std::string_view name) {
    sums_.modelBytes += n;
    sums_.modelFast += fast;
    if (sums_.modelBytes <= kSmallWholeModel) {
      modelCopy_.insert(modelCopy_.end(), data, data + n);
      modelEnds_.push_back(modelCopy_.size());
      modelRecords_.push_back(current_);
    }
    std::uint64_t state = FnvStart(seed_);
    for (const char c : name) state = FnvAdd(state, static_cast<unsigned char>(c));
    state = FnvAdd(state, static_cast<std::uint64_t>(fast));
    for (CalibrationDraw& d : slices_) {
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
    if (key > biasKey_) {
      biasKey_ = key;
      biasSize_ = n;
      biasFast_ = fast;
      biasRecord_ = current_;
      const std::int64_t span = std::min(n, kBiasSpan);
      const std::int64_t start = std::min(static_cast<std::int64_t>(at * static_cast<double>(n)), n - span);
      biasBytes_.assign(data + start, data + start + span);
    }
  }

  // Measure for a larger file of the sample, keeping what it added to each part.
  bool MeasureSampled(ListedFile f, std::string_view name) {
    auto parts = [&] {
      return LargerRead{regularBytes_, sums_.exactSaving, sums_.modelBytes, sums_.modelFast,
                        sums_.storedBytes, sums_.storedFast, sums_.missing};
    };
    const LargerRead before = parts();
    current_ = static_cast<std::ptrdiff_t>(sums_.largerSample.size());
    const bool grown = !Measure(f, name);
    current_ = -1;
    if (grown) return false;
    LargerRead r = parts();
    r.size -= before.size;
    r.exactSaving -= before.exactSaving;
    r.modelBytes -= before.modelBytes;
    r.modelFast -= before.modelFast;
    r.storedBytes -= before.storedBytes;
    r.storedFast -= before.storedFast;
    r.missing -= before.missing;
    if (r.size > 0) sums_.largerSample.push_back(r);  // else gone, or not a regular file after all
    return true;
  }

  // The compressible larger files, when they come to at most kSmallWholeModel: deflated
  // whole, exactly, instead of calibrated by slices.
  void DeflateModelWhole() {
    if (sums_.modelBytes <= 0 || sums_.modelBytes > kSmallWholeModel) return;
    for (std::size_t j = 0, start = 0; j < modelEnds_.size(); start = modelEnds_[j++]) {
      const auto n = static_cast<std::int64_t>(modelEnds_[j] - start);
      const std::int64_t saving = std::max<std::int64_t>(0, n - ws_.Compressed(modelCopy_.data() + start, modelEnds_[j] - start));
      sums_.exactBytes += n;
      sums_.exactSaving += saving;
      if (modelRecords_[j] >= 0) {
        LargerRead& r = sums_.largerSample[static_cast<std::size_t>(modelRecords_[j])];
        r.modelBytes = r.modelFast = 0;
        r.exactSaving += saving;
      }
    }
    sums_.modelBytes = sums_.modelFast = 0;
  }

  // The slices' bias, measured on the file its race drew (estimate/slice_bias.h); when its
  // bytes were the whole file, that file is deflated and so exact.
  void MeasureBias() {
    if (biasKey_ == kNoKey || sums_.modelBytes <= 0 || !WantsSliceBias(allocated_)) return;
    const bool wholeFile = static_cast<std::int64_t>(biasBytes_.size()) == biasSize_;
    const SliceBias bias = MeasureSliceBias(ws_, biasBytes_.data(), biasBytes_.size(), wholeFile ? biasFast_ : -1);
    sums_.biasMeasured = bias.measured;
    sums_.biasWhole = bias.whole;
    sums_.biasCold = bias.cold;
    sums_.biasColdSpread = bias.coldSpread;
    sums_.biasTiles = bias.tiles;
    sums_.biasCover = static_cast<double>(biasBytes_.size()) / static_cast<double>(biasSize_);
    if (!bias.measured || !wholeFile) return;
    const std::int64_t saving = std::max<std::int64_t>(0, biasSize_ - bias.deflated);
    sums_.modelBytes -= biasSize_;
    sums_.modelFast -= biasFast_;
    sums_.exactBytes += biasSize_;
    sums_.exactSaving += saving;
    if (biasRecord_ >= 0) {
      LargerRead& r = sums_.largerSample[static_cast<std::size_t>(biasRecord_)];
      r.modelBytes -= biasSize_;
      r.modelFast -= biasFast_;
      r.exactSaving += saving;
    }
  }

  // Each calibration slice compressed both ways: their ratios turn fast sizes into deflate's.
  void CalibrateSlices() {
    for (const CalibrationDraw& d : slices_) {
      if (d.key == kNoKey || sums_.modelBytes == 0) continue;
      const int level = sums_.biasMeasured ? kMeasuredSliceLevel : 6;  // else the zipper's
      const double deflated = static_cast<double>(ws_.Compressed(d.slice.data(), d.slice.size(), level));
      const double fast = static_cast<double>(YardstickSize(ws_, d.slice.data(), d.slice.size()));
      sums_.ratios.push_back(deflated / std::max(fast, 1.0));
    }
  }

  DirReader& reader_;
  const std::int64_t limit_;
  const std::uint64_t seed_;
  const FileDraws* const draws_;
  const std::int64_t allocated_;
  const std::atomic<bool>* const stop_;
  Workspace& ws_;
  const bool skipping_;  // the scan kept which files need not be read

  SmallSums sums_;
  std::int64_t regularBytes_ = 0, otherBytes_ = 0, read_ = 0;
  std::size_t sampleRead_ = 0;  // of the scan's sample of short files, the first ones read
  bool noAtimeRefused_ = false;  // in this folder (OpenForReading)
  std::vector<std::uint64_t> largerSampled_, largerLeft_;  // larger files read as a sample, left
  FolderEntries skippedNames_, skippedLarger_;  // passed over, with the type the directory gave
  // The calibration slices: each of the draws ends on a compressible larger file with
  // probability proportional to its fast size, at a uniform place in it. Every such file
  // takes part in each draw's race as it is read (the exponential race: the file with the
  // highest log(u) / fast wins, u uniform from the seed and the file's name and size), and a
  // winner's slice is copied while its bytes are at hand: no file is opened twice, and the
  // order of the directory does not change which files win.
  std::array<CalibrationDraw, kSmallCalibrationDraws> slices_;
  // The file that measures the slices' bias (estimate/slice_bias.h), drawn by a race of its
  // own: its bytes (kBiasSpan of them at most) kept while it leads, and its record in the
  // larger sample (or -1).
  double biasKey_ = kNoKey;
  std::vector<unsigned char> biasBytes_;
  std::int64_t biasSize_ = 0, biasFast_ = 0;
  std::ptrdiff_t biasRecord_ = -1;
  // The larger sample's record the file being measured will have, or -1.
  std::ptrdiff_t current_ = -1;
  // The compressible larger files' bytes while they come to at most kSmallWholeModel: then
  // they are deflated whole at the end instead of the slices (ends of each in modelEnds_,
  // and the larger sample's record of each, or -1, in modelRecords_).
  std::vector<unsigned char> modelCopy_;
  std::vector<std::size_t> modelEnds_;
  std::vector<std::ptrdiff_t> modelRecords_;
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
  SmallFolderRead folder(reader, limit, seed, draws, allocated, stop, ws);
  return folder.Run(rules, out);
}

}  // namespace saving
}  // namespace orbelan
