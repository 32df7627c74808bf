#pragma once
// The main window's face of a scan that runs in the background: on a timer it reads the
// scan's progress into labMsg (the folders found, then "Scanning all folders...") and
// ProgressBar1 (the folders counted of those found so far, so the bar moves while phase 1
// still finds folders and its end moves out as they come). It never runs the event loop.

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <functional>

#include "scan/scanner.h"
#include "survey/scan_thread.h"

class QLabel;
class QProgressBar;

namespace orbelan {

class GuiScanObserver : public QObject {
  Q_OBJECT
 public:
  GuiScanObserver(ScanThread& scan, QLabel* msg, QProgressBar* bar, QObject* parent = nullptr);

  // Before the scan starts: an empty status, and the timer running.
  void Begin();
  // After the scan ended: its last figures shown, the timer stopped.
  void End();
  // Writes progress into the status controls (what each tick does).
  void Show(const ScanThread::Progress& progress);

  ScanThread& Scan() { return scan_; }
  // Tests: called on the window's thread at each folder counted in phase 2 (its index from
  // 1) while the scan waits at that folder. Set before the scan starts.
  std::function<void(std::int64_t index)> onFolderProgress;

  static constexpr int kIntervalMs = 40;
  // The bar's scale: one step per folder up to this many folders, coarser beyond.
  static constexpr std::int64_t kMaxBarSteps = 1'000'000;

 private:
  ScanThread& scan_;
  QPointer<QLabel> msg_;
  QPointer<QProgressBar> bar_;
  QTimer timer_;
  ScanThread::Progress shown_;
  bool anyShown_ = false;
};

}  // namespace orbelan
