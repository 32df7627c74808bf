// The saving estimate of one folder: which way each folder is read, the small and whole
// folders' reading, and opening the folders. The sampling of larger folders lives in
// estimate/saving_sampler.cpp; why the interval is what it is: docs/saving-estimate.md.

#include "estimate/saving_estimate.h"

#include <fcntl.h>
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
#include "scan/folder_figures.h"
#include "scan/scan_rules.h"
#include "estimate/batch_reader.h"
#include "estimate/disk_saving.h"
#include "scan/file_draws.h"
#include "fsfacts/folder_extents.h"
#include "fsfacts/mount_facts.h"
#include "scan/folder_list.h"
#include "numbers/random_bits.h"
#include "estimate/saving_interval.h"
#include "estimate/saving_io.h"
#include "estimate/saving_sampler.h"
#include "estimate/saving_settle.h"
#include "estimate/saving_small.h"
#include "estimate/saving_small_larger.h"
#include "estimate/saving_small_read.h"

namespace orbelan {

using namespace saving;

namespace {

// Compressed extents a folder on a compressing mount has read whole to tell what they take;
// beyond it, a sample of them.
constexpr std::int64_t kFsBudget = 1 << 20;

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

// Sampled folders whose listing the scan keeps: of any bytes, up to this many entries (some
// 40 bytes of memory an entry while the records live: what it costs is by the entry, so the
// folders over 8 MiB, few and of few entries for their bytes, keep theirs too).
constexpr std::int64_t kListedUpTo = std::numeric_limits<std::int64_t>::max();
constexpr std::size_t kListedMostFiles = 16384;

// Folders a record may lie below its nearest kept ancestor before one more is kept, and
// how many descriptors one opener keeps at most.
constexpr int kKeepStride = 64;
constexpr std::size_t kKeepAtMost = 48;

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

FolderOpener::FolderOpener(const EstimateOptions& options) : options_(options) {}

FolderOpener::~FolderOpener() {
  Forget();
  ThreadBatchReader().CloseWaiting();  // the folders a run's reads closed along
}

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
  ClosedAlong reader, again;
  reader.later = again.later = opener != nullptr;
  if (!open(reader)) return {};
  Workspace& ws = ThreadWorkspace();
  DirReader* listed = &reader;
  if (UnzippedBytes(rec) > options.WholeLimit && UnzippedBytes(rec) <= options.SmallLimit) {
    SavingEstimate est;
    if (EstimateSmallDirect(reader, rules, 2 * options.SmallLimit, options.Seed, rec.Draws.get(), rec.Disk.Allocated, stop, ws, est))
      return Stopped(stop) ? SavingEstimate{} : est;
    if (!open(again)) return {};  // grown since the scan: listed afresh
    listed = &again;
  } else if (rec.Draws != nullptr && rec.Draws->RegularBytes > 0 && UnzippedBytes(rec) > options.WholeLimit) {
    SavingEstimate est;
    if (EstimateFromDraws(reader.Fd(), *rec.Draws, options, stop, ws, est))
      return Stopped(stop) ? SavingEstimate{} : est;
    if (!open(again)) return {};  // changed since the scan: listed afresh
    listed = &again;
  } else if (UnzippedBytes(rec) <= options.WholeLimit) {
    SavingEstimate est;
    if (EstimateWholeDirect(reader, rules, options.WholeLimit, rec.Draws.get(), stop, ws, est))
      return Stopped(stop) ? SavingEstimate{} : est;
    if (!open(again)) return {};  // grown since the scan: listed afresh
    listed = &again;
  }
  Listing listing;
  if (listed == &reader && rec.Draws != nullptr && rec.Draws->HasListing)
    ListingOfScan(*rec.Draws, listing);
  else if (!ListFolder(*listed, rules, stop, listing))
    return {};
  SavingEstimate est;
  if (listing.regularBytes <= options.WholeLimit) {
    est = EstimateWhole(listed->Fd(), listing, stop, ws);
  } else {
    est = SampleListedFolder(listed->Fd(), listing, options, stop, ws);
  }
  if (Stopped(stop)) return {};
  // Buffers grown for one big file are not kept for the rest of the run.
  constexpr std::size_t kKeep = 2 << 20;
  if (ws.in.size() > kKeep) ByteBuffer().swap(ws.in);
  if (ws.out.size() > kKeep) ByteBuffer().swap(ws.out);
  return est;
}

}  // namespace

SavingEstimate EstimateFolderSaving(const FolderRec& rec, const ScanRules& rules,
                                    const EstimateOptions& options, const std::atomic<bool>* stop,
                                    FolderOpener* opener) {
  SavingEstimate est = EstimateFolderBytes(rec, rules, options, stop, opener);
  if (ArchiveBlocksInDoubt(rec.Disk, est)) {
    DirReader reader;
    Listing listing;
    if ((opener != nullptr ? opener->Open(reader, rec) : OpenFolder(reader, rec, options)) &&
        ListFolder(reader, rules, stop, listing)) {
      SavingEstimate settled = SettleFewBlocks(reader.Fd(), listing, stop, ThreadWorkspace());
      if (settled.Known) {
        settled.AsZipped = true;
        settled.Sampled = AddSat(settled.Sampled, est.Sampled);
        est = settled;
      }
    }
    if (Stopped(stop)) return {};
  }
  // Only folders on a mount that compresses or shares extents have their files' extents
  // asked for.
  if (est.Known && rec.Disk.Members > 0) {
    const MountFacts mount = MountFactsOfFolder(rec.Disk.Device, rec.Path());
    if (mount.AskExtents()) {
      DirReader reader;
      if (opener != nullptr ? opener->Open(reader, rec) : OpenFolder(reader, rec, options)) {
        std::vector<std::uint64_t> held;
        if (rec.Disk.HeldFiles)
          for (const HeldFile& file : *rec.Disk.HeldFiles) held.push_back(file.Inode);
        const FolderExtents fs = MeasureFolderExtents(
            reader.Fd(), [&](std::string_view name) { return IsUnzippedFile(name, rules); },
            mount.Compression, options.Seed, kFsBudget, stop, held, mount.SharesExtents);
        if (Stopped(stop)) return {};
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
