#include "survey/scan_thread.h"

namespace orbelan {

ScanThread::~ScanThread() { Abandon(); }

void ScanThread::Start(Scanner& scanner, std::function<bool()> run) {
  Abandon();
  scanner_ = &scanner;
  found_.store(0);
  counted_.store(0);
  counting_.store(false);
  cancel_.store(false);
  quit_.store(false);
  ended_.store(false);
  {
    std::lock_guard lock(mutex_);
    asking_ = false;
    notices_.clear();
  }
  thread_ = std::thread([this, run = std::move(run)] {
    result_ = run();
    ended_.store(true, std::memory_order_release);
    if (wake_) wake_();
  });
}

ScanThread::Progress ScanThread::Read() const {
  Progress progress;
  progress.counting = counting_.load(std::memory_order_acquire);
  progress.found = found_.load(std::memory_order_relaxed);
  progress.counted = counted_.load(std::memory_order_relaxed);
  return progress;
}

bool ScanThread::QuestionWaiting() const {
  std::lock_guard lock(mutex_);
  return asking_;
}

void ScanThread::Answer(bool yes) {
  std::lock_guard lock(mutex_);
  if (!asking_) return;
  asking_ = false;
  answer_ = yes;
  answered_.notify_all();
}

void ScanThread::Quit() {
  quit_.store(true, std::memory_order_release);
  std::lock_guard lock(mutex_);
  answered_.notify_all();
}

bool ScanThread::Join() {
  if (thread_.joinable()) thread_.join();
  scanner_ = nullptr;
  return result_;
}

std::vector<ScanThread::Notice> ScanThread::TakeNotices() {
  std::lock_guard lock(mutex_);
  return std::move(notices_);
}

void ScanThread::Abandon() {
  if (!thread_.joinable()) return;
  Quit();
  Join();
}

void ScanThread::NoteCounted(std::int64_t counted) {
  if (counted > counted_.load(std::memory_order_relaxed)) counted_.store(counted, std::memory_order_relaxed);
}

void ScanThread::FoldersFound(std::int64_t count) { found_.store(count, std::memory_order_relaxed); }

void ScanThread::ScanFilesStarted(std::int64_t total) {
  found_.store(total, std::memory_order_relaxed);
  counting_.store(true, std::memory_order_release);
}

void ScanThread::FolderProgress(std::int64_t index, std::int64_t) {
  NoteCounted(index);
  if (onFolderProgress) onFolderProgress(index);
}

void ScanThread::PumpMessages() {
  // The workers count while phase 1 still finds folders: the owner sees that as progress.
  if (scanner_) NoteCounted(scanner_->FoldersCounted());
  if (onEntry) onEntry();
  // Set here, on the scan's thread, so the scanner's flag has one writer while it runs.
  if (cancel_.exchange(false, std::memory_order_acq_rel)) scanner_->CancelRequested = true;
}

bool ScanThread::AskCancel() {
  std::unique_lock lock(mutex_);
  asking_ = true;
  lock.unlock();
  if (wake_) wake_();
  lock.lock();
  answered_.wait(lock, [this] { return !asking_ || quit_.load(); });
  if (asking_) {  // a quit while the question was open stops the scan unasked
    asking_ = false;
    return true;
  }
  return answer_;
}

void ScanThread::ShowMsg(std::string_view text, std::string_view caption) {
  std::lock_guard lock(mutex_);
  notices_.push_back(Notice{std::string(text), std::string(caption)});
}

}  // namespace orbelan
