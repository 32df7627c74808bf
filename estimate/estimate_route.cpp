// The route of one folder's estimate, read top to bottom: which way its bytes are read
// (whole up to WholeLimit, small up to SmallLimit, from the scan's draws, else listed and
// sampled), then the archive's blocks settled, the extents, and the disk figures. Each way
// lives in a file of its own (saving_small_read.cpp, saving_sampler.cpp, saving_settle.cpp,
// fsfacts/folder_extents.cpp, disk_saving.cpp); what the scan is to draw for them is here
// too. Why the interval is what it is: docs/saving-estimate.md.

#include "estimate/saving_estimate.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <vector>

#include "estimate/batch_reader.h"
#include "estimate/disk_saving.h"
#include "estimate/folder_opener.h"
#include "estimate/saving_io.h"
#include "estimate/saving_sampler.h"
#include "estimate/saving_settle.h"
#include "estimate/saving_small.h"
#include "estimate/saving_small_larger.h"
#include "estimate/saving_small_read.h"
#include "fsfacts/folder_extents.h"
#include "fsfacts/mount_facts.h"
#include "platform/dir_reader.h"
#include "scan/file_draws.h"
#include "scan/folder_figures.h"
#include "scan/folder_list.h"
#include "scan/scan_rules.h"

namespace orbelan {

using namespace saving;

namespace {

// Compressed extents a folder on a compressing mount has read whole to tell what they take;
// beyond it, a sample of them.
constexpr std::int64_t kFsBudget = 1 << 20;

// Sampled folders whose listing the scan keeps: of any bytes, up to this many entries (some
// 40 bytes of memory an entry while the records live: what it costs is by the entry, so the
// folders over 8 MiB, few and of few entries for their bytes, keep theirs too).
constexpr std::int64_t kListedUpTo = std::numeric_limits<std::int64_t>::max();
constexpr std::size_t kListedMostFiles = 16384;

}  // namespace

FileDrawLimits ScanDrawLimits(const EstimateOptions& options) {
  FileDrawLimits limits;
  // Folders read whole, or whole with the fast codec, need no draws; the small ones keep
  // which short files need not be read (estimate/saving_small.h).
  limits.Above = std::max(options.WholeLimit, options.SmallLimit);
  if (options.SmallLimit > options.WholeLimit) {
    limits.ShortAbove = options.WholeLimit;
    limits.ShortUpTo = options.SmallLimit;
    limits.ShortFile = kShortFile;
    limits.ShortSample = kShortSample;
    limits.LargerFrom = kLargerSampleFrom;
  }
  limits.UpTo = options.DrawnLimit > limits.Above ? options.DrawnLimit : 0;
  // The sampled folders keep their listing: listing and stating their files again cost
  // more than the rest of their estimate on a tree of many small files.
  limits.ListAbove = std::max(limits.Above, limits.UpTo);
  limits.ListUpTo = std::max(kListedUpTo, limits.ListAbove);
  limits.ListMostFiles = kListedMostFiles;
  // The tiny and small folders keep their files' names: listing each again cost the
  // estimate two getdents64 a folder, on a tree of thousands of them.
  limits.NamesUpTo = std::max(options.WholeLimit, options.SmallLimit);
  limits.ListUpTo = std::max(limits.ListUpTo, limits.NamesUpTo);
  limits.Seed = options.Seed;
  return limits;
}

namespace {

// The way a folder's bytes are read, told by the scan's figures of it.
enum class Way {
  kWhole,   // up to WholeLimit: every file deflated whole as the folder is listed
  kSmall,   // up to SmallLimit: every file read as listed, small ones deflated, the rest modelled
  kDrawn,   // larger, with files the scan drew: those alone are read
  kListed,  // larger: listed (or the scan's listing taken) and sampled
};

Way WayOf(const FolderRec& rec, const EstimateOptions& options) {
  const std::int64_t bytes = UnzippedBytes(rec);
  if (bytes > options.WholeLimit && bytes <= options.SmallLimit) return Way::kSmall;
  if (rec.Draws != nullptr && rec.Draws->RegularBytes > 0 && bytes > options.WholeLimit) return Way::kDrawn;
  if (bytes <= options.WholeLimit) return Way::kWhole;
  return Way::kListed;
}

// In a run (an opener), the folder's descriptor is closed along with the next folder's
// batch of reads, not by a call of its own (thousands of folders: a close each is dear
// under a hypervisor); the opener closes what still waits when it goes, so that no
// folder is held open past the run (a mount the user wants to unmount).
struct ClosedAlong : DirReader {
  bool later = false;
  ~ClosedAlong() {
    if (later) ThreadBatchReader().CloseLater(Release());
  }
};

// Reads the folder open in reader the way its figures point to, as it is listed. False
// when the folder has grown or changed since the scan: it is then listed afresh.
bool ReadAsListed(Way way, DirReader& reader, const FolderRec& rec, const ScanRules& rules,
                  const EstimateOptions& options, const std::atomic<bool>* stop, Workspace& ws,
                  SavingEstimate& est) {
  switch (way) {
    case Way::kSmall:
      return EstimateSmallDirect(reader, rules, 2 * options.SmallLimit, options.Seed, rec.Draws.get(),
                                 rec.Disk.Allocated, stop, ws, est);
    case Way::kDrawn:
      return EstimateFromDraws(reader.Fd(), *rec.Draws, options, stop, ws, est);
    case Way::kWhole:
      return EstimateWholeDirect(reader, rules, options.WholeLimit, rec.Draws.get(), stop, ws, est);
    case Way::kListed:
      break;
  }
  return false;
}

// A folder listed first: from the scan's listing when it kept one (scanDraws, the folder
// not opened afresh), else from the folder itself; then deflated whole when its files come
// to at most WholeLimit, else sampled.
SavingEstimate EstimateListed(DirReader& reader, const FileDraws* scanDraws, const ScanRules& rules,
                              const EstimateOptions& options, const std::atomic<bool>* stop, Workspace& ws) {
  Listing listing;
  if (scanDraws != nullptr && scanDraws->HasListing)
    ListingOfScan(*scanDraws, listing);
  else if (!ListFolder(reader, rules, stop, listing))
    return {};
  if (listing.regularBytes <= options.WholeLimit) return EstimateWhole(reader.Fd(), listing, stop, ws);
  return SampleListedFolder(reader.Fd(), listing, options, stop, ws);
}

// The byte saving of the folder, by its way.
SavingEstimate EstimateFolderBytes(const FolderRec& rec, const ScanRules& rules,
                                   const EstimateOptions& options, const std::atomic<bool>* stop,
                                   FolderOpener* opener) {
  ClosedAlong reader, again;
  reader.later = again.later = opener != nullptr;
  if (!OpenRecordFolder(reader, rec, options, opener)) return {};
  Workspace& ws = ThreadWorkspace();
  const Way way = WayOf(rec, options);
  DirReader* listed = &reader;
  if (way != Way::kListed) {
    SavingEstimate est;
    if (ReadAsListed(way, reader, rec, rules, options, stop, ws, est)) return Stopped(stop) ? SavingEstimate{} : est;
    if (!OpenRecordFolder(again, rec, options, opener)) return {};  // changed since the scan: listed afresh
    listed = &again;
  }
  const SavingEstimate est =
      EstimateListed(*listed, listed == &reader ? rec.Draws.get() : nullptr, rules, options, stop, ws);
  if (Stopped(stop)) return {};
  // Buffers grown for one big file are not kept for the rest of the run.
  constexpr std::size_t kKeep = 2 << 20;
  if (ws.in.size() > kKeep) ByteBuffer().swap(ws.in);
  if (ws.out.size() > kKeep) ByteBuffer().swap(ws.out);
  return est;
}

// A folder of few blocks whose estimate leaves open how many blocks its archive takes is
// deflated whole the zipper's way, exactly. False when stopped.
bool SettleArchiveBlocks(const FolderRec& rec, const ScanRules& rules, const EstimateOptions& options,
                         const std::atomic<bool>* stop, FolderOpener* opener, SavingEstimate& est) {
  DirReader reader;
  Listing listing;
  if (OpenRecordFolder(reader, rec, options, opener) && ListFolder(reader, rules, stop, listing)) {
    SavingEstimate settled = SettleFewBlocks(reader.Fd(), listing, stop, ThreadWorkspace());
    if (settled.Known) {
      settled.AsZipped = true;
      settled.Sampled = AddSat(settled.Sampled, est.Sampled);
      est = settled;
    }
  }
  return !Stopped(stop);
}

// Only folders on a mount that compresses or shares extents have their files' extents
// asked for: what the file system stores of them, and what they share. False when stopped.
bool AddExtentFigures(const FolderRec& rec, const ScanRules& rules, const EstimateOptions& options,
                      const std::atomic<bool>* stop, FolderOpener* opener, SavingEstimate& est) {
  const MountFacts mount = MountFactsOfFolder(rec.Disk.Device, rec.Path());
  if (!mount.AskExtents()) return true;
  DirReader reader;
  if (!OpenRecordFolder(reader, rec, options, opener)) {
    // Gone or swapped since the scan: what its blocks hold cannot be told.
    est.FsCompressed = est.FsUnmeasured = est.FsStored = est.FsStoredHigh = rec.Disk.Allocated;
    return true;
  }
  std::vector<std::uint64_t> held;
  if (rec.Disk.HeldFiles)
    for (const HeldFile& file : *rec.Disk.HeldFiles) held.push_back(file.Inode);
  const FolderExtents fs = MeasureFolderExtents(
      reader.Fd(), [&](std::string_view name) { return IsUnzippedFile(name, rules); },
      mount.Compression, options.Seed, kFsBudget, stop, held, mount.SharesExtents);
  if (Stopped(stop)) return false;
  est.FsCompressed = fs.Compressed;
  est.FsStored = fs.Stored;
  est.FsStoredLow = fs.StoredLow;
  est.FsStoredHigh = fs.StoredHigh;
  est.FsUnmeasured = fs.Unmeasured;
  est.Shared = fs.Shared;
  est.SharedWithin = fs.SharedWithin;
  est.SharedPlaces = fs.Places;
  est.InlineUnsure = fs.InlineUnsure;
  est.InlineShared = fs.InlineShared;
  est.Sampled += fs.Read;
  return true;
}

}  // namespace

// The route of one folder: its bytes read by its way (whole, small, drawn, or listed and
// sampled), the archive's blocks settled where they are in doubt, then what the file
// system does with its blocks, and last the disk figures from all of it.
SavingEstimate EstimateFolderSaving(const FolderRec& rec, const ScanRules& rules,
                                    const EstimateOptions& options, const std::atomic<bool>* stop,
                                    FolderOpener* opener) {
  SavingEstimate est = EstimateFolderBytes(rec, rules, options, stop, opener);
  if (ArchiveBlocksInDoubt(rec.Disk, est) && !SettleArchiveBlocks(rec, rules, options, stop, opener, est))
    return {};
  if (est.Known && rec.Disk.Members > 0 && !AddExtentFigures(rec, rules, options, stop, opener, est))
    return {};
  AddDiskFigures(rec.Disk, est);
  return est;
}

}  // namespace orbelan
