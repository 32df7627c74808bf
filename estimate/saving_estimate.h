#pragma once
// How many bytes zipping a folder would free: each counted file that is not an archive,
// compressed on its own with raw deflate at level 6 as a zip member is, saves
// (size - compressed size), or 0 when it would not shrink. Small folders are compressed
// whole (exact); larger ones are sampled and given a 95% confidence interval, small ones
// from the few files the scan drew in them.
// Files are opened relative to the folder, never through links, read-only, never written.
// Which way each folder takes: estimate/estimate_route.cpp; how the sample is drawn and the
// interval computed: docs/saving-estimate.md.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "estimate/estimate_options.h"
#include "estimate/saving_figures.h"
#include "scan/file_draws.h"

namespace orbelan {

class DirReader;
struct FolderRec;
struct ScanRules;

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
