#include "app/gui_saving_estimator.h"

#include <QMetaObject>
#include <algorithm>

#include "survey/figures.h"
#include "survey/folder_list.h"
#include "survey/saving_table.h"

namespace orbelan {

GuiSavingEstimator::GuiSavingEstimator(SavingTable& table, QObject* parent)
    : QObject(parent), table_(table) {
  batch_.setSingleShot(true);
  batch_.setInterval(100);
  connect(&batch_, &QTimer::timeout, this, &GuiSavingEstimator::Progress);
}

GuiSavingEstimator::~GuiSavingEstimator() { runner_.Stop(); }

void GuiSavingEstimator::Estimate(const std::vector<const FolderRec*>& listed,
                                  const ScanRules& rules) {
  std::vector<const FolderRec*> wanted;
  std::int64_t had = 0;
  auto split = [&] {
    wanted.clear();
    had = 0;
    for (const FolderRec* rec : listed) {
      if (table_.Find(*rec))
        ++had;
      else
        wanted.push_back(rec);
    }
  };
  split();
  // A header click lists the same folders again: the run that holds them goes on.
  const bool sameRun =
      running_ && static_cast<std::int64_t>(listed.size()) == listed_ &&
      std::all_of(wanted.begin(), wanted.end(),
                  [this](const FolderRec* rec) { return inRun_.count(rec) != 0; });
  if (sameRun) return;
  Stop();
  split();  // the stop took in what had arrived
  listed_ = static_cast<std::int64_t>(listed.size());
  had_ = had;
  delivered_ = 0;
  if (wanted.empty()) return;

  // Largest Unzipped first, equal sizes in the order given.
  std::stable_sort(wanted.begin(), wanted.end(), [](const FolderRec* a, const FolderRec* b) {
    return UnzippedBytes(*a) > UnzippedBytes(*b);
  });
  order_ = wanted;
  inRun_ = std::unordered_set<const FolderRec*>(wanted.begin(), wanted.end());
  running_ = true;
  ++starts_;
  runner_.Start(std::move(wanted), rules, options,
                [this](std::size_t index, const SavingEstimate& estimate) { Arrived(index, estimate); },
                threads);
  emit Progress();
}

void GuiSavingEstimator::Arrived(std::size_t index, const SavingEstimate& estimate) {
  bool post = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    arrived_.emplace_back(index, estimate);
    post = !posted_;
    posted_ = true;
  }
  // One queued call carries every result that arrives before the window's thread takes them.
  if (post) QMetaObject::invokeMethod(this, [this] { TakeArrived(false); }, Qt::QueuedConnection);
}

void GuiSavingEstimator::TakeArrived(bool stopping) {
  std::vector<std::pair<std::size_t, SavingEstimate>> taken;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    taken.swap(arrived_);
    posted_ = false;
  }
  if (!running_) return;  // a call posted before a stop
  // The engine reports no folder a stop cut short: every result is a finding, kept.
  for (const auto& [index, estimate] : taken) {
    if (index >= order_.size()) continue;
    table_.Set(*order_[index], estimate);
    ++delivered_;
  }
  if (stopping) return;
  if (delivered_ >= static_cast<std::int64_t>(order_.size())) {
    runner_.Wait();  // every folder is done: the workers are on their way out
    running_ = false;
    batch_.stop();
    emit Progress();
    emit Finished();
    return;
  }
  if (!batch_.isActive()) batch_.start();
}

void GuiSavingEstimator::Stop() {
  if (!running_) return;
  runner_.Stop();
  TakeArrived(true);
  running_ = false;
  batch_.stop();
  order_.clear();
  inRun_.clear();
}

}  // namespace orbelan
