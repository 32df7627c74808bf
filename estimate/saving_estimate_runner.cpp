// Worker threads for the saving estimate: each takes the next folder of the order in turn,
// so folders are begun in the order given; a stop flag polled between blocks ends them.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "estimate/saving_estimate.h"
#include "scan/scan_rules.h"

namespace orbelan {

struct SavingEstimateRunner::Impl {
  std::vector<std::thread> threads;
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> finished{0};
  std::atomic<int> active{0};
  std::vector<const FolderRec*> order;
  ScanRules rules;
  EstimateOptions options;
  Done done;

  void Work() {
    // Background work: the window and whatever else the user runs come first. On Linux a
    // nice value set for one thread's id applies to that thread alone; failing is harmless.
    const auto self = static_cast<id_t>(gettid());
    [[maybe_unused]] const int niced =
        setpriority(PRIO_PROCESS, self, std::min(getpriority(PRIO_PROCESS, self) + 10, 19));
    FolderOpener opener(options);
    for (;;) {
      if (stop.load()) break;
      const std::size_t i = next.fetch_add(1);
      if (i >= order.size()) break;
      const SavingEstimate estimate = EstimateFolderSaving(*order[i], rules, options, &stop, &opener);
      if (stop.load()) break;  // cut short: not reported
      if (done) done(i, estimate);
      finished.fetch_add(1);
    }
    active.fetch_sub(1);
  }

  void Join() {
    for (std::thread& t : threads) {
      if (t.joinable()) t.join();
    }
    threads.clear();
  }
};

SavingEstimateRunner::SavingEstimateRunner() : impl_(new Impl) {}

SavingEstimateRunner::~SavingEstimateRunner() {
  Stop();
  delete impl_;
}

void SavingEstimateRunner::Start(std::vector<const FolderRec*> order, ScanRules rules,
                                 const EstimateOptions& options, Done done, int threads) {
  Stop();
  Impl& d = *impl_;
  d.order = std::move(order);
  d.rules = std::move(rules);
  d.options = options;
  d.done = std::move(done);
  d.stop = false;
  d.next = 0;
  d.finished = 0;
  int count = threads;
  if (count <= 0) count = static_cast<int>(std::thread::hardware_concurrency());
  count = std::clamp(count, 1, 16);
  count = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(count), std::max<std::size_t>(d.order.size(), 1)));
  d.active = count;
  for (int t = 0; t < count; ++t) d.threads.emplace_back([&d] { d.Work(); });
}

void SavingEstimateRunner::Stop() {
  impl_->stop = true;
  impl_->Join();
}

void SavingEstimateRunner::Wait() { impl_->Join(); }

bool SavingEstimateRunner::Running() const { return impl_->active.load() > 0; }

std::size_t SavingEstimateRunner::Finished() const { return impl_->finished.load(); }

}  // namespace orbelan
