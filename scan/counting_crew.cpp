#include "scan/counting_crew.h"

#include <algorithm>

#include "scan/descriptor_chain.h"
#include "scan/record_links.h"

namespace orbelan {
namespace {

// A run is at most this many records: long enough that a worker's chain moves a short way
// from one record to the next, short enough that the workers share the tail of the list.
constexpr std::int64_t kLongestRun = 64;

}  // namespace

CountingCrew::CountingCrew(const RecordLinks& links, const ScanRules& rules, int startFd,
                           DescriptorPressure& pressure, int threads, const FileDrawLimits& draws,
                           ListingHandoff* handoff)
    : links_(links), rules_(rules), startFd_(startFd), pressure_(pressure),
      threadCount_(std::max(1, threads)), draws_(draws), handoff_(handoff) {
  threads_.reserve(static_cast<std::size_t>(threadCount_));
  busy_.store(threadCount_);
  // The clocks read the time zone when made: here, not on several threads at once.
  clocks_.resize(static_cast<std::size_t>(threadCount_));
  for (int i = 0; i < threadCount_; ++i)
    threads_.emplace_back([this, i] { Work(clocks_[static_cast<std::size_t>(i)]); });
}

CountingCrew::~CountingCrew() {
  Stop();
  Join();
}

void CountingCrew::Publish(std::int64_t count) {
  published_.store(count, std::memory_order_release);
  // Wake idle workers once enough has gathered to be worth it; they also look every few
  // milliseconds on their own.
  if (waiting_.load(std::memory_order_relaxed) > 0 && count - notified_ >= 16) {
    notified_ = count;
    std::lock_guard lock(mutex_);
    wake_.notify_all();
  }
}

void CountingCrew::Close(std::int64_t count) {
  published_.store(count, std::memory_order_release);
  std::lock_guard lock(mutex_);
  total_ = count;
  wake_.notify_all();
  progress_.notify_all();
}

void CountingCrew::Pause() {
  std::lock_guard lock(mutex_);
  if (state_.load() == kRun) state_.store(kPause);
}

void CountingCrew::Resume() {
  std::lock_guard lock(mutex_);
  if (state_.load() == kPause) state_.store(kRun);
  wake_.notify_all();
}

void CountingCrew::Stop() {
  std::lock_guard lock(mutex_);
  state_.store(kStop);
  wake_.notify_all();
  progress_.notify_all();
}

void CountingCrew::Join() {
  for (std::thread& thread : threads_)
    if (thread.joinable()) thread.join();
}

bool CountingCrew::AllDone() const {
  return total_ >= 0 && finished_.load(std::memory_order_acquire) >= total_;
}

void CountingCrew::WaitForProgress(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  progress_.wait_for(lock, timeout, [&] { return AllDone() || state_.load() == kStop; });
}

std::vector<std::string> CountingCrew::TakeUnscanned() {
  std::lock_guard lock(mutex_);
  return std::move(unscanned_);
}

bool CountingCrew::Interrupted() {
  if (state_.load(std::memory_order_relaxed) == kRun) return false;
  std::unique_lock lock(mutex_);
  busy_.fetch_sub(1);
  wake_.wait(lock, [&] { return state_.load() != kPause; });
  busy_.fetch_add(1);
  return state_.load() == kStop;
}

bool CountingCrew::TakeRun(std::int64_t& from, std::int64_t& to, DescriptorChain& chain) {
  std::unique_lock lock(mutex_);
  for (;;) {
    const int state = state_.load();
    if (state == kStop) return false;
    const std::int64_t published = published_.load(std::memory_order_acquire);
    if (state == kRun && next_ < published) {
      const std::int64_t share = (published - next_) / (2 * threadCount_);
      from = next_;
      to = next_ + std::clamp<std::int64_t>(share, 1, kLongestRun);
      next_ = to;
      return true;
    }
    if (state == kRun && total_ >= 0 && next_ >= total_) return false;
    waiting_.fetch_add(1, std::memory_order_relaxed);
    busy_.fetch_sub(1);
    wake_.wait_for(lock, std::chrono::milliseconds(5));
    lock.unlock();
    chain.GiveBackIfAsked();
    lock.lock();
    busy_.fetch_add(1);
    waiting_.fetch_sub(1, std::memory_order_relaxed);
  }
}

void CountingCrew::Work(LocalDayClock& clock) {
  struct Leaving {
    std::atomic<int>& busy;
    ~Leaving() { busy.fetch_sub(1); }
  } leaving{busy_};
  DescriptorChain chain(links_, startFd_, pressure_);
  DirReader reader;
  FileDrawer drawer(draws_);
  std::int64_t from = 0, to = 0;
  while (TakeRun(from, to, chain)) {
    for (std::int64_t i = from; i < to; ++i) {
      if (Interrupted()) return;
      FolderRec& rec = *links_[i].Rec;
      const int fd = chain.Reach(i);
      const std::unique_ptr<std::string> listed = handoff_ != nullptr ? handoff_->Take(i) : nullptr;
      if (fd >= 0) {
        if (!CountFolderFiles(reader, fd, rec, rules_, clock, [&] { return Interrupted(); }, &drawer,
                              listed.get()))
          return;  // stopped part way: the record keeps its partial counts
      } else if (OutOfDescriptors(errno)) {
        std::lock_guard lock(mutex_);
        unscanned_.push_back(rec.Path());
      }  // a folder gone or unreadable since phase 1 keeps zero counts
      const std::int64_t finished = finished_.fetch_add(1, std::memory_order_acq_rel) + 1;
      if (finished % 1024 == 0 || finished == published_.load(std::memory_order_acquire)) {
        std::lock_guard lock(mutex_);
        if (AllDone()) progress_.notify_all();
      }
    }
  }
}

}  // namespace orbelan
