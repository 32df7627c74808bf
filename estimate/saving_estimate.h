#pragma once
// How many bytes zipping a folder would free: each counted file that is not an archive,
// compressed on its own with raw deflate at level 6 as a zip member is, saves
// (size - compressed size), or 0 when it would not shrink. Small folders are compressed
// whole (exact); larger ones are sampled and given a 95% confidence interval, small ones
// from the few files the scan drew in them.
// Files are opened relative to the folder, never through links, read-only, never written.
// How the sample is drawn and the interval computed is told in saving_estimate.cpp.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scan/file_draws.h"
#include "fsfacts/folder_extents.h"

namespace orbelan {

class DirReader;
struct FolderRec;
struct ScanRules;

struct SavingEstimate {
  bool Known = false;          // false: none of the folder's bytes could be read (or not run)
  std::int64_t Saving = 0;     // point estimate, bytes
  std::int64_t Low = 0;        // the true saving lies in [Low, High] with 95% confidence
  std::int64_t High = 0;
  std::int64_t Sampled = 0;    // bytes actually read and compressed
  std::int64_t Unreadable = 0; // bytes of files that could not be read (inside the interval)
  std::int64_t Bytes = 0;      // the folder's unzipped bytes as the estimate found them
  bool Exact() const { return Known && Low == High; }
  // Exact with the zipper's own deflate (zlib), to the byte. Other exact figures come from
  // libdeflate, whose streams differ a little from zlib's: their disk figures allow for it.
  bool AsZipped = false;

  // The same in disk space given back by zipping, once the originals are gone from the
  // disk (the trash emptied): what the files take now less what the archive will take.
  // Never below 0 (a zip that would cost space gives back nothing).
  std::int64_t Disk = 0, DiskLow = 0, DiskHigh = 0;
  std::int64_t Allocated = 0;     // the zipped files' allocated bytes now, each inode once
  std::int64_t Held = 0;          // of those, what other names outside the folder keep
  // Bytes of those files in extents the file system already compresses, and what they are
  // estimated to take on disk (with a 95% interval).
  std::int64_t FsCompressed = 0;
  std::int64_t FsStored = 0, FsStoredLow = 0, FsStoredHigh = 0;
  std::int64_t FsUnmeasured = 0;  // of FsCompressed, what FIEMAP or reading refused to tell
  // Allocated bytes of the zipped files in extents they share with other files or snapshots
  // (reflinked copies): still in use when they go. Of those, the extents two or more of the
  // folder's own files share, once each: given back if nothing outside shares them too.
  std::int64_t Shared = 0, SharedWithin = 0;
  std::shared_ptr<const std::vector<SharedPlace>> SharedPlaces;  // by place, for subtrees
  // Bytes kept inline in the metadata whose sharing cannot be told; of them, taken as shared.
  std::int64_t InlineUnsure = 0, InlineShared = 0;
};

struct EstimateOptions {
  std::int64_t WholeLimit = 16 << 10;   // folders with at most this many bytes: compressed whole
  // Larger folders up to this many bytes are read whole: small files deflated exactly, the
  // rest sized by a fast codec that a few deflated slices calibrate (estimate/saving_small.h).
  std::int64_t SmallLimit = 1 << 20;
  // Larger folders up to this many bytes are estimated from the few files the scan drew in
  // them (FolderRec::Draws), when it drew some; larger ones are listed again and sampled.
  std::int64_t DrawnLimit = 1 << 20;
  std::uint64_t Seed = 1;             // sampling is deterministic for a given seed and folder
  // The folder the scan started from, as the user named it ("" when unknown). A record
  // below it is reopened from it without following any link on the way, so a folder
  // swapped for a link since the scan is not entered; links in Root itself are the user's.
  std::string Root;
  // The sampling unit in files larger than 16 KiB (and than this), and the history the
  // zipper's deflate is given before a deflated block. Deflating a block costs about its
  // own bytes plus a quarter of its history's, so small blocks after a long history are the
  // cheapest draws that still see what the member's stream would: 8 KiB after 24 KiB take
  // 0.6 of the time of 16 KiB after 16 KiB, and fall less short on text that repeats from
  // far back (generated code, licences).
  std::int64_t BlockBytes = 8 * 1024;
  std::int64_t PrimeBytes = 24 * 1024;
  double TargetMargin = 0.03;            // stop once the 95% margin is within this share
  // Every draw of a sampled folder is measured with a fast codec, every CalibrateEvery-th
  // also with deflate; the deflated draws calibrate the fast ones (regression estimator of
  // two-phase sampling). A byte deflated cold costs 1, a byte of history given to deflate a
  // quarter, a fast one a quarter: a sampled folder of U bytes spends at most
  // max(BudgetShare * U, MinBudget * (min(1, U / RampBytes) + clamp(U / LargeFrom - 1, 0, 1))),
  // at least enough for its fewest draws, so that a folder of a few MiB still gets some
  // hundred draws and a huge one a share that keeps its margin narrow. Folders past
  // LargeFrom stop on the budget, not on the margin (binaries and libraries, whose blocks
  // differ far more than text's), so their floor grows to twice MinBudget at twice
  // LargeFrom: that brings /usr/lib's folders over 8 MiB within 3 points from 92% to 97%.
  int CalibrateEvery = 4;
  // The fast codec measures the aligned piece of at most this many bytes (and at most a
  // block) of the unit that holds a draw, not a whole file of up to 16 KiB: the deflated
  // draws calibrate it all the same.
  std::int64_t FastBytes = 8 * 1024;
  std::int64_t MinBudget = 384 << 10;
  double BudgetShare = 0.0032;
  std::int64_t RampBytes = 2 << 20;
  std::int64_t LargeFrom = 8 << 20;
  // The block measured (cold) in a drawn file larger than it, for folders estimated from
  // the scan's draws; smaller drawn files are compressed whole.
  std::int64_t DrawnBlockBytes = 2 * 1024;
};

// What a scan is to draw for an estimate with these options (Scanner::SetFileDraws).
FileDrawLimits ScanDrawLimits(const EstimateOptions& options);

// Opens the folders of one run's records for one thread, keeping descriptors of a few
// folders it passed on the way so that the next record is reached from a near ancestor
// rather than from the top: a tree thousands of levels deep costs time by its folders, not
// by the square of its depth. The records must outlive it (their addresses key what it
// keeps). Not for sharing between threads: the folders it opened are closed along the
// thread's later batches of reads (BatchReader::CloseLater), and what still waits is closed
// when it goes.
// It does not keep every record's parent: folders come largest first, so the next one's
// parent is seldom kept, and an open by one name (about 4.5 us with its close on a
// hypervisor) costs most of an open by ten (about 6.3 us): keeping parents would spend more
// calls than the shorter walks save.
class FolderOpener {
 public:
  explicit FolderOpener(const EstimateOptions& options);
  ~FolderOpener();
  FolderOpener(const FolderOpener&) = delete;
  FolderOpener& operator=(const FolderOpener&) = delete;
  // Opens rec's folder as EstimateFolderSaving does without an opener; false when it
  // cannot be had (gone, swapped for a link, not readable).
  bool Open(DirReader& reader, const FolderRec& rec);
  // Folder names opened below a kept descriptor so far: grows with the folders opened and
  // the stride, never with the square of the depth.
  std::uint64_t NamesWalked() const { return walked_; }

 private:
  struct Kept {
    const FolderRec* rec;
    int fd;
    std::uint64_t used;
  };
  int Descriptor(const FolderRec& rec);
  const Kept* Find(const FolderRec* rec);  // marks it used
  int Keep(const FolderRec& rec, int fd);
  void Forget();

  const EstimateOptions& options_;
  std::vector<Kept> kept_;
  std::uint64_t clock_ = 0;
  std::uint64_t walked_ = 0;
};

// Estimates one folder's saving from its own files (the ones behind its Unzipped figure,
// classified as the scan classifies them); a record over the whole limit that carries the
// scan's draws (FolderRec::Draws) is estimated from the drawn files unless they changed. stop, when set, is polled between blocks;
// a stopped estimate returns Known == false. Safe to call on several threads at once, each
// with its own opener (or none: each folder is then opened from the top).
SavingEstimate EstimateFolderSaving(const FolderRec& rec, const ScanRules& rules,
                                    const EstimateOptions& options,
                                    const std::atomic<bool>* stop = nullptr,
                                    FolderOpener* opener = nullptr);

// Estimates many folders on worker threads. The records must outlive the run and keep their
// paths while it runs (their counts may change); the rules are copied at Start.
class SavingEstimateRunner {
 public:
  // Called on a worker thread as each folder finishes: index into the order given to Start.
  // Several workers may call it at the same time. A folder cut short by Stop is not reported.
  using Done = std::function<void(std::size_t index, const SavingEstimate& estimate)>;

  SavingEstimateRunner();
  ~SavingEstimateRunner();  // stops and joins
  SavingEstimateRunner(const SavingEstimateRunner&) = delete;
  SavingEstimateRunner& operator=(const SavingEstimateRunner&) = delete;

  // Starts estimating order's folders, in that order, on threads workers (0: one per core,
  // at most 16). Any run in progress is stopped first.
  void Start(std::vector<const FolderRec*> order, ScanRules rules,
             const EstimateOptions& options, Done done, int threads = 0);
  // Asks every worker to stop and waits for them; returns within 100 ms.
  void Stop();
  // Waits until every folder is done (or the run was stopped).
  void Wait();
  // True while a worker of the last Start is still busy.
  bool Running() const;
  // Folders reported through Done since the last Start.
  std::size_t Finished() const;

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace orbelan
