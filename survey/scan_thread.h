#pragma once
// A scan run on a thread of its own, for a face whose thread must stay free (the window).
// The owner starts it, reads its progress when it likes, and is woken when the scan has a
// question for the user or has ended; it answers the question from its own thread and
// finally joins. Toward the scanner this is its observer, on the scan's thread: the cancel
// the owner asked for becomes the scanner's at its next entry, as the prompt protocol wants,
// and the scan waits there (its counting workers paused by the scanner) until the owner
// answers.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "scan/scanner.h"

namespace orbelan {

class ScanThread : public ScanObserver {
 public:
  struct Progress {
    std::int64_t found = 0;    // folders recorded so far (the total once counting began)
    std::int64_t counted = 0;  // folders whose files are counted, in either phase
    bool counting = false;     // phase 1 is over and phase 2 runs
  };
  struct Notice {
    std::string text, caption;
  };

  ScanThread() = default;
  ~ScanThread() override;  // Abandon
  ScanThread(const ScanThread&) = delete;
  ScanThread& operator=(const ScanThread&) = delete;

  // Called on the scan's thread when a question waits and when the run has ended.
  void SetWake(std::function<void()> wake) { wake_ = std::move(wake); }
  // Runs run() for scanner (whose observer this is) on a new thread; a cancel asked before
  // is forgotten.
  void Start(Scanner& scanner, std::function<bool()> run);
  // Started and not joined yet.
  bool Running() const { return thread_.joinable(); }
  Progress Read() const;

  // The owner's side of the cancel protocol.
  void RequestCancel() { cancel_.store(true, std::memory_order_release); }
  bool QuestionWaiting() const;
  void Answer(bool yes);
  // The application is quitting: a cancel without a question (an open one counts as Yes).
  void Quit();
  bool Ended() const { return ended_.load(std::memory_order_acquire); }
  // Waits for the thread (at once after Ended); run()'s result. Notices shown meanwhile are
  // kept for the owner to show.
  bool Join();
  std::vector<Notice> TakeNotices();
  // Quits and joins: for an owner that goes while the scan runs.
  void Abandon();

  // Tests: on the scan's thread, after each directory entry and at each folder counted
  // (phase 2's index), so that a test can pace a scan or act at a known point.
  std::function<void()> onEntry;
  std::function<void(std::int64_t index)> onFolderProgress;

  // ScanObserver, on the scan's thread.
  void FoldersFound(std::int64_t count) override;
  void ScanFilesStarted(std::int64_t total) override;
  void FolderProgress(std::int64_t index, std::int64_t total) override;
  void PumpMessages() override;
  bool QuitRequested() override { return quit_.load(std::memory_order_acquire); }
  bool AskCancel() override;
  void ShowMsg(std::string_view text, std::string_view caption) override;

 private:
  void NoteCounted(std::int64_t counted);

  Scanner* scanner_ = nullptr;
  std::thread thread_;
  std::function<void()> wake_;
  bool result_ = false;

  std::atomic<std::int64_t> found_{0}, counted_{0};
  std::atomic<bool> counting_{false}, cancel_{false}, quit_{false}, ended_{false};

  mutable std::mutex mutex_;  // guards the question and the notices
  std::condition_variable answered_;
  bool asking_ = false;
  bool answer_ = false;
  std::vector<Notice> notices_;
};

}  // namespace orbelan
