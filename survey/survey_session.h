#pragma once
// One survey of one folder, as the program's faces drive it: the folder records a scan makes,
// the rows listed from them, the background estimate of their savings and the subtree totals
// over them. The window and orbelan-report each own one and differ only in how they show it
// (progress, messages, which thread they wait on).
//
// Calls come from one thread, the owner's, or from one the owner waits for meanwhile (the
// window makes the rows of a finished scan on a thread of its own). The estimate's workers
// hand their results over under a lock and wake the owner (SetResultsWaiting, or
// WaitForResults); the results enter the table only when the owner takes them (TakeResults),
// so whatever reads the table on the owner's thread never races the workers.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "scan/folder_list.h"
#include "survey/results.h"
#include "estimate/saving_estimate.h"
#include "survey/saving_table.h"
#include "scan/scan_rules.h"
#include "survey/scan_thread.h"
#include "survey/subtree_rescan.h"
#include "survey/subtree_totals.h"

namespace orbelan {

class ScanObserver;
class Scanner;

class SurveySession {
 public:
  // observer: the face's view of the scan (progress, cancel questions); threads: how many
  // count files (0: one per core).
  explicit SurveySession(ScanObserver& observer, int threads = 0);
  ~SurveySession();  // stops the estimate's workers, which read the records
  SurveySession(const SurveySession&) = delete;
  SurveySession& operator=(const SurveySession&) = delete;

  // ---- The scan ----
  // Scans path with rules (copied: they are the session's until the next scan). Stops the
  // estimate and forgets every estimate and the totals first, since the records go.
  // drawForEstimate: the scan draws the few files the estimate of small folders reads.
  // False when the scan was cancelled.
  bool Scan(const std::string& path, const ScanRules& rules, bool drawForEstimate);
  // The running scan (or subtree rescan) stops at its next look (Esc, Ctrl+C); in the
  // background, the scan asks its question first (ScanThread).
  void RequestCancel();
  bool CancelRequested() const;

  // ---- The scan in the background (the window's way) ----
  // Scan's work on a thread of its own: returns at once. Nothing but the background (its
  // progress, its question, its end) may be touched until FinishScan.
  void StartScan(const std::string& path, const ScanRules& rules, bool drawForEstimate);
  // After the background ended: Scan's result.
  bool FinishScan();
  ScanThread& Background() { return background_; }
  // The answer to the background's question: No forgets the cancel request.
  void AnswerCancel(bool yes);
  // Folders the last scan could not read for want of descriptors.
  const std::vector<std::string>& Unscanned() const;
  // The rules the records were counted by.
  const ScanRules& Rules() const { return rules_; }
  int Threads() const { return threads_; }

  FolderList& Folders() { return folders_; }
  const FolderList& Folders() const { return folders_; }

  // ---- Changing part of the records ----
  // The record of the folder at folderPath (ending in "/"), or nullptr.
  FolderRec* Find(const std::string& folderPath);
  // Counts one of the records' folder's own files again (after a zip changed them) and
  // forgets its estimate.
  void RecountFolder(FolderRec& rec, const ScanRules& rules);

  enum class Rescan { NotInTree, Cancelled, Replaced };
  // Scans rec's subtree again, as start found it (ExamineRescanStart), and puts the fresh
  // records in place of the old ones, keeping the other folders and their estimates; a
  // folder that became a link or a file is counted again as one of its parent's files.
  // beforeMove runs once the fresh records are in hand, before the old ones go: whatever
  // points at records drops them there.
  Rescan RescanSubtree(const FolderRec& rec, RescanStart start, const std::function<void()>& beforeMove);
  // RescanSubtree in two halves: the subtree is scanned in the background (nothing to scan
  // when start is not a folder); FinishRescan, once it ended, puts the records in place.
  // False when rec is not in the tree.
  bool StartRescan(const FolderRec& rec, RescanStart start);
  Rescan FinishRescan(const std::function<void()>& beforeMove);

  // ---- The rows ----
  // The rows of the records above minSize (KB) sorted by sortColumn, with the estimates in
  // hand when withSavings, each row showing its subtree's figures when subtree.
  ResultRows Rows(std::uint16_t minSize, int sortColumn, double today, bool withSavings, bool subtree);

  // ---- The subtree totals ----
  // Each folder with everything below it, built from the records when first asked for
  // after they changed.
  SubtreeTotals& Totals();
  // Adds up the estimates in hand over every subtree (none when withSavings is false).
  void SumSubtreeSavings(bool withSavings);

  // ---- The saving estimate ----
  EstimateOptions estimateOptions;  // Root: the folder the scan started at, as named
  int estimateThreads = 0;          // 0: one per core

  // Estimates those of listed that have no estimate yet, largest Unzipped first. A run that
  // already holds every one of them goes on undisturbed; otherwise it is stopped and started
  // again with them. True when a run started.
  bool Estimate(const std::vector<const FolderRec*>& listed);
  // Makes Estimate's order of listed ahead (sorting a hundred thousand folders by size takes
  // tens of milliseconds): on another thread while the owner waits for it, like the rows of
  // a finished scan. The next Estimate of the same folders, with no run on and no estimate
  // come in or gone meanwhile, starts with it.
  void PrepareEstimate(std::vector<const FolderRec*> listed);
  // Every folder with bytes to zip: subtree figures add up all of them, listed or not.
  std::vector<const FolderRec*> FoldersWithBytes() const;
  // Called on a worker thread when results wait and the owner has not been told yet (at
  // most once until TakeResults): the window posts a call to its own thread.
  void SetResultsWaiting(std::function<void()> wake) { wake_ = std::move(wake); }
  // Waits at most timeout for results to take (returns at once when some wait).
  void WaitForResults(std::chrono::milliseconds timeout);
  // Waits at most timeout for the run's last result to come in (returns at once when it
  // has, or when no run is on). The workers wake such a waiter once, not at every folder.
  void WaitForEnd(std::chrono::milliseconds timeout);
  enum class Taken { NotRunning, More, Ended };
  // Moves the results that came in into the table. Ended: the last folder's result was in
  // it, and the run is over.
  Taken TakeResults();
  // Stops the workers and waits for them (within 100 ms). Results already in are kept; the
  // folders not reached stay without an estimate.
  void StopEstimate();
  // True from a start until the last result is taken or the run is stopped.
  bool Estimating() const { return running_; }
  // The folders of the last Estimate, and how many of them have their estimate.
  std::int64_t Listed() const { return listed_; }
  std::int64_t Estimated() const { return had_ + delivered_; }
  // The folders of the current run in the order they are begun.
  const std::vector<const FolderRec*>& Order() const { return order_; }
  // How many runs were started, ever.
  int Starts() const { return starts_; }

  const SavingTable& Savings() const { return savings_; }
  // Goes up whenever an estimate comes in or goes: a view that showed the table at one
  // count need not be drawn again while it stays.
  std::uint64_t EstimatesChanges() const { return estimatesChanges_; }

 private:
  void Arrived(std::size_t index, const SavingEstimate& estimate);  // on a worker
  // The folders of listed to estimate, largest first, and how many have their estimate.
  struct EstimateOrder {
    std::vector<const FolderRec*> wanted;
    std::unordered_set<const FolderRec*> inRun;  // wanted, to look up
    std::int64_t had = 0;
    std::vector<const FolderRec*> listed;  // what a prepared order was made of
    bool ready = false;                    // prepared, and still true to the table
  };
  EstimateOrder OrderFor(const std::vector<const FolderRec*>& listed) const;
  bool StartEstimate(std::size_t listed, EstimateOrder order);
  // An estimate came in or went: the subtree sums and a prepared order are out of date.
  void EstimatesChanged();
  void BeginScan(const ScanRules& rules, bool drawForEstimate, ScanObserver& observer);
  bool EndScan(bool completed);
  // The part of the records a rescan replaces, and the fresh ones.
  struct RescanPlan {
    std::int64_t first = 0, count = 0, parent = 0;
    RescanStart start = RescanStart::Folder;
    FolderList fresh;
    std::unique_ptr<Scanner> scanner;  // in the background, while it runs
  };
  bool PlanRescan(const FolderRec& rec, RescanStart start);
  Rescan PlaceRescan(const std::function<void()>& beforeMove);

  FolderList folders_;
  ScanRules rules_;
  ScanObserver& observer_;
  // The scanner lives only while it runs: its read buffers go before the rows are made.
  std::unique_ptr<Scanner> scanner_;
  Scanner* rescanner_ = nullptr;  // the scan of one folder's subtree while it runs
  int threads_ = 1;
  bool cancelRequested_ = false;  // as the scanner left it, or set between scans
  // What the last scan drew for the estimate; a rescan or recount of part of it draws alike,
  // so that its small folders are read as sparingly as the scan's.
  FileDrawLimits draws_;
  std::vector<std::string> unscanned_;
  RescanPlan rescan_;
  ScanThread background_;

  SubtreeTotals totals_;
  bool totalsStale_ = true;
  // The totals' saving sums are those of the table as it is (SumSubtreeSavings), with or
  // without the estimates as summedWithSavings_ says.
  bool savingsSummed_ = false;
  bool summedWithSavings_ = false;
  EstimateOrder prepared_;
  std::uint64_t estimatesChanges_ = 0;

  SavingTable savings_;
  SavingEstimateRunner runner_;
  std::vector<const FolderRec*> order_;
  std::unordered_set<const FolderRec*> inRun_;
  bool running_ = false;
  std::int64_t listed_ = 0, had_ = 0, delivered_ = 0;
  int starts_ = 0;

  std::function<void()> wake_;
  std::mutex mutex_;  // guards arrived_, told_ and arrivedAll_, shared with the workers
  std::condition_variable arrival_;
  std::vector<std::pair<std::size_t, SavingEstimate>> arrived_;
  bool told_ = false;  // the owner was woken for the results waiting
  std::size_t arrivedAll_ = 0;  // results of this run come in so far, taken or not
};

}  // namespace orbelan
