#pragma once
// The main window's face of a scan: the folder count in labMsg, the bar in ProgressBar1,
// the cancel prompt and notices, and the window's events let through while the scan runs.

#include <QElapsedTimer>
#include <QPointer>
#include <cstdint>
#include <functional>

#include "scan/scanner.h"

class QLabel;
class QProgressBar;
class QWidget;

namespace orbelan {

class GuiScanObserver : public ScanObserver {
 public:
  // window: parent of the boxes; msg and bar: the status controls the scan writes to;
  // quitRequested: whether the window was closed while the scan runs.
  GuiScanObserver(QWidget* window, QLabel* msg, QProgressBar* bar,
                  std::function<bool()> quitRequested);

  // Events are let through at most once per interval; between those, a pump costs one clock
  // read. Zero lets them through after every directory entry.
  void SetPumpInterval(int milliseconds) { pumpIntervalMs_ = milliseconds; }
  // Longest time between two passes of the event loop during the last scan, in milliseconds.
  std::int64_t LongestGapMs() const { return longestGapMs_; }
  // Called once per folder of phase 2 with its index; lets tests act at a known point.
  std::function<void(std::int64_t index)> onFolderProgress;

  // Before every scan: restarts the clock and the gap statistic.
  void Begin();
  // Writes what is pending in the status controls (count, bar) at once.
  void Flush();

  void FoldersFound(std::int64_t count) override;
  void ScanFilesStarted(std::int64_t total) override;
  void FolderProgress(std::int64_t index, std::int64_t total) override;
  void PumpMessages() override;
  bool QuitRequested() override;
  bool AskCancel() override;
  void ShowMsg(std::string_view text, std::string_view caption) override;

  // The bar's scale: one step per folder up to this many folders, coarser beyond.
  static constexpr std::int64_t kMaxBarSteps = 1'000'000;

 private:
  void SetFoundText(std::int64_t count);
  void LetEventsThrough();

  QPointer<QWidget> window_;
  QPointer<QLabel> msg_;
  QPointer<QProgressBar> bar_;
  std::function<bool()> quitRequested_;

  int pumpIntervalMs_ = 15;
  QElapsedTimer clock_;
  std::int64_t lastPumpMs_ = 0;
  std::int64_t longestGapMs_ = 0;

  std::int64_t found_ = 0, foundShown_ = -1;
  std::int64_t progress_ = 0, progressShown_ = -1, total_ = 0;
  bool phase2_ = false;
};

}  // namespace orbelan
