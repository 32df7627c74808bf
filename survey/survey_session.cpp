#include "survey/survey_session.h"

#include <algorithm>

#include "scan/folder_figures.h"
#include "scan/folder_recount.h"
#include "scan/scanner.h"

namespace orbelan {

SurveySession::SurveySession(ScanObserver& observer, int threads) : observer_(observer) {
  threads_ = threads > 0 ? threads : Scanner::DefaultThreads();
}

SurveySession::~SurveySession() {
  background_.Abandon();  // the scan writes the records
  runner_.Stop();
}

// ---- The scan ----

void SurveySession::BeginScan(const ScanRules& rules, bool drawForEstimate, ScanObserver& observer) {
  // The estimate's workers read the records this scan is about to free.
  StopEstimate();
  savings_.Clear();
  EstimatesChanged();
  totals_.Clear();
  totalsStale_ = true;
  rules_ = rules;
  scanner_ = std::make_unique<Scanner>(folders_, rules_, observer);
  scanner_->SetThreads(threads_);
  draws_ = drawForEstimate ? ScanDrawLimits(estimateOptions) : FileDrawLimits{};
  scanner_->SetFileDraws(draws_);
}

bool SurveySession::EndScan(bool completed) {
  cancelRequested_ = scanner_->CancelRequested;
  unscanned_ = scanner_->Unscanned();
  scanner_.reset();
  return completed;
}

bool SurveySession::Scan(const std::string& path, const ScanRules& rules, bool drawForEstimate) {
  estimateOptions.Root = path;
  BeginScan(rules, drawForEstimate, observer_);
  // Run resets the folder list and both cancel flags, then runs the phases.
  return EndScan(scanner_->Run(path));
}

void SurveySession::StartScan(const std::string& path, const ScanRules& rules, bool drawForEstimate) {
  estimateOptions.Root = path;
  BeginScan(rules, drawForEstimate, background_);
  cancelRequested_ = false;
  background_.Start(*scanner_, [this, path] { return scanner_->Run(path); });
}

bool SurveySession::FinishScan() { return EndScan(background_.Join()); }

void SurveySession::RequestCancel() {
  cancelRequested_ = true;
  if (background_.Running()) {
    background_.RequestCancel();
    return;
  }
  if (scanner_) scanner_->CancelRequested = true;
  if (rescanner_) rescanner_->CancelRequested = true;
}

bool SurveySession::CancelRequested() const {
  return scanner_ && !background_.Running() ? scanner_->CancelRequested : cancelRequested_;
}

void SurveySession::AnswerCancel(bool yes) {
  if (!yes) cancelRequested_ = false;
  background_.Answer(yes);
}

const std::vector<std::string>& SurveySession::Unscanned() const { return unscanned_; }

// ---- Changing part of the records ----

FolderRec* SurveySession::Find(const std::string& folderPath) {
  FolderRec* found = nullptr;
  for (FolderRec& rec : folders_)  // paths are put together only where the length fits
    if (rec.PathLength() == folderPath.size() && rec.Path() == folderPath) found = &rec;
  return found;
}

void SurveySession::RecountFolder(FolderRec& rec, const ScanRules& rules) {
  // Its estimate was of the files before, and may be on its way: start afresh.
  StopEstimate();
  savings_.Erase(rec);
  EstimatesChanged();
  orbelan::RecountFolder(rec, rules, draws_);
  totals_.Clear();
  totalsStale_ = true;
}

bool SurveySession::PlanRescan(const FolderRec& rec, RescanStart start) {
  const SubtreeTotals& totals = Totals();
  const std::int64_t first = totals.IndexOf(rec);
  if (first == SubtreeTotals::kNone) return false;
  rescan_.first = first;
  rescan_.count = totals.Figures(first).NFolders;
  rescan_.parent = totals.Parent(first);
  rescan_.start = start;
  rescan_.fresh.ResetFolderList();
  // The estimate's workers read the records that are about to move.
  StopEstimate();
  return true;
}

SurveySession::Rescan SurveySession::RescanSubtree(const FolderRec& rec, RescanStart start,
                                                   const std::function<void()>& beforeMove) {
  if (!PlanRescan(rec, start)) return Rescan::NotInTree;
  if (start == RescanStart::Folder) {
    Scanner scanner(rescan_.fresh, rules_, observer_);
    scanner.SetThreads(threads_);
    scanner.SetFileDraws(draws_);
    rescanner_ = &scanner;
    const bool completed = scanner.Run(rec.Path());
    rescanner_ = nullptr;
    if (!completed) return Rescan::Cancelled;
  }
  return PlaceRescan(beforeMove);
}

bool SurveySession::StartRescan(const FolderRec& rec, RescanStart start) {
  if (!PlanRescan(rec, start)) return false;
  if (start != RescanStart::Folder) return true;
  rescan_.scanner = std::make_unique<Scanner>(rescan_.fresh, rules_, background_);
  rescan_.scanner->SetThreads(threads_);
  rescan_.scanner->SetFileDraws(draws_);
  cancelRequested_ = false;
  background_.Start(*rescan_.scanner, [this, path = rec.Path()] { return rescan_.scanner->Run(path); });
  return true;
}

SurveySession::Rescan SurveySession::FinishRescan(const std::function<void()>& beforeMove) {
  if (rescan_.scanner) {
    const bool completed = background_.Join();
    cancelRequested_ = rescan_.scanner->CancelRequested;
    rescan_.scanner.reset();
    if (!completed) {
      rescan_.fresh.ResetFolderList();
      return Rescan::Cancelled;
    }
  }
  return PlaceRescan(beforeMove);
}

SurveySession::Rescan SurveySession::PlaceRescan(const std::function<void()>& beforeMove) {
  const std::int64_t first = rescan_.first, count = rescan_.count, parent = rescan_.parent;
  // Estimates of the folders outside the subtree still hold; the subtree's are new.
  std::vector<std::pair<std::size_t, SavingEstimate>> held;
  for (std::int64_t i = 0; i < folders_.Count(); ++i) {
    if (i >= first && i < first + count) continue;
    if (const SavingEstimate* estimate = savings_.Find(folders_[i]))
      held.emplace_back(static_cast<std::size_t>(i), *estimate);
  }
  if (beforeMove) beforeMove();
  // Nothing may point at the old records once they move.
  totals_.Clear();
  totalsStale_ = true;
  savings_.Clear();
  const std::vector<FolderRec*> moved = ReplaceSubtree(folders_, first, count, rescan_.fresh);
  for (const auto& [i, estimate] : held) savings_.Set(*moved[i], estimate);
  EstimatesChanged();
  // A folder that became a link or a file is now one of its parent's files.
  if (rescan_.start == RescanStart::NotAFolder && parent != SubtreeTotals::kNone &&
      moved[static_cast<std::size_t>(parent)])
    orbelan::RecountFolder(*moved[static_cast<std::size_t>(parent)], rules_, draws_);
  rescan_.fresh.ResetFolderList();
  return Rescan::Replaced;
}

// ---- The rows and the subtree totals ----

ResultRows SurveySession::Rows(std::uint16_t minSize, int sortColumn, double today, bool withSavings,
                               bool subtree) {
  return FillRows(folders_, minSize, sortColumn, today, withSavings ? &savings_ : nullptr,
                  subtree ? &Totals() : nullptr);
}

SubtreeTotals& SurveySession::Totals() {
  if (totalsStale_) {
    totals_.Build(folders_);
    totalsStale_ = false;
    savingsSummed_ = false;
  }
  return totals_;
}

void SurveySession::SumSubtreeSavings(bool withSavings) {
  SubtreeTotals& totals = Totals();
  if (totals.Empty()) return;
  // Nothing came in or went since the last sum: every subtree holds it already, and summing
  // a hundred thousand folders again would hold the window up for nothing.
  if (savingsSummed_ && summedWithSavings_ == withSavings) return;
  if (withSavings)
    totals.SumSavings([this](const FolderRec& rec) { return savings_.Find(rec); });
  else
    totals.SumSavings([](const FolderRec&) -> const SavingEstimate* { return nullptr; });
  savingsSummed_ = true;
  summedWithSavings_ = withSavings;
}

// ---- The saving estimate ----

void SurveySession::EstimatesChanged() {
  ++estimatesChanges_;
  savingsSummed_ = false;
  prepared_ = {};
}

SurveySession::EstimateOrder SurveySession::OrderFor(const std::vector<const FolderRec*>& listed) const {
  EstimateOrder order;
  for (const FolderRec* rec : listed) {
    if (savings_.Find(*rec))
      ++order.had;
    else
      order.wanted.push_back(rec);
  }
  // Largest Unzipped first, equal sizes in the order given.
  std::stable_sort(order.wanted.begin(), order.wanted.end(), [](const FolderRec* a, const FolderRec* b) {
    return UnzippedBytes(*a) > UnzippedBytes(*b);
  });
  order.inRun = std::unordered_set<const FolderRec*>(order.wanted.begin(), order.wanted.end());
  return order;
}

void SurveySession::PrepareEstimate(std::vector<const FolderRec*> listed) {
  prepared_ = OrderFor(listed);
  prepared_.listed = std::move(listed);
  prepared_.ready = true;
}

bool SurveySession::Estimate(const std::vector<const FolderRec*>& listed) {
  if (!running_ && prepared_.ready && prepared_.listed == listed) {
    EstimateOrder prepared = std::move(prepared_);
    prepared_ = {};
    return StartEstimate(listed.size(), std::move(prepared));
  }
  std::vector<const FolderRec*> wanted;
  std::int64_t had = 0;
  auto split = [&] {
    wanted.clear();
    had = 0;
    for (const FolderRec* rec : listed) {
      if (savings_.Find(*rec))
        ++had;
      else
        wanted.push_back(rec);
    }
  };
  split();
  // A header click lists the same folders again: the run that holds them goes on.
  const bool sameRun =
      running_ && static_cast<std::int64_t>(listed.size()) == listed_ &&
      std::all_of(wanted.begin(), wanted.end(), [this](const FolderRec* rec) { return inRun_.count(rec) != 0; });
  if (sameRun) return false;
  StopEstimate();
  return StartEstimate(listed.size(), OrderFor(listed));  // the stop took in what had arrived
}

bool SurveySession::StartEstimate(std::size_t listed, EstimateOrder order) {
  listed_ = static_cast<std::int64_t>(listed);
  had_ = order.had;
  delivered_ = 0;
  if (order.wanted.empty()) return false;
  std::vector<const FolderRec*> wanted = std::move(order.wanted);
  order_ = wanted;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    arrivedAll_ = 0;
  }
  inRun_ = std::move(order.inRun);
  running_ = true;
  ++starts_;
  runner_.Start(std::move(wanted), rules_, estimateOptions,
                [this](std::size_t index, const SavingEstimate& estimate) { Arrived(index, estimate); },
                estimateThreads);
  return true;
}

std::vector<const FolderRec*> SurveySession::FoldersWithBytes() const {
  std::vector<const FolderRec*> wanted;
  for (const FolderRec& rec : folders_)
    if (UnzippedBytes(rec) > 0) wanted.push_back(&rec);
  return wanted;
}

void SurveySession::Arrived(std::size_t index, const SavingEstimate& estimate) {
  bool tell = false, last = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    arrived_.emplace_back(index, estimate);
    tell = !told_;
    told_ = true;
    last = ++arrivedAll_ >= order_.size();
  }
  // Only the first result since the owner last took them, and the last one, can end a
  // wait: a wake-up at every folder would cost a system call and a thread switch each.
  if (tell || last) arrival_.notify_all();
  // One wake-up carries every result that comes in before the owner takes them.
  if (tell && wake_) wake_();
}

void SurveySession::WaitForResults(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  arrival_.wait_for(lock, timeout, [this] { return !arrived_.empty(); });
}

void SurveySession::WaitForEnd(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  arrival_.wait_for(lock, timeout, [this] { return !running_ || arrivedAll_ >= order_.size(); });
}

SurveySession::Taken SurveySession::TakeResults() {
  std::vector<std::pair<std::size_t, SavingEstimate>> taken;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    taken.swap(arrived_);
    told_ = false;
  }
  if (!running_) return Taken::NotRunning;  // a wake-up sent before a stop
  // The engine reports no folder a stop cut short: every result is a finding, kept.
  for (const auto& [index, estimate] : taken) {
    if (index >= order_.size()) continue;
    savings_.Set(*order_[index], estimate);
    EstimatesChanged();
    ++delivered_;
  }
  if (delivered_ < static_cast<std::int64_t>(order_.size())) return Taken::More;
  runner_.Wait();  // every folder is done: the workers are on their way out
  running_ = false;
  return Taken::Ended;
}

void SurveySession::StopEstimate() {
  if (!running_) return;
  runner_.Stop();
  TakeResults();
  running_ = false;
  order_.clear();
  inRun_.clear();
}

}  // namespace orbelan
