#include "app/gui_scan_observer.h"

#include <QLabel>
#include <QProgressBar>
#include <algorithm>

namespace orbelan {

GuiScanObserver::GuiScanObserver(ScanThread& scan, QLabel* msg, QProgressBar* bar, QObject* parent)
    : QObject(parent), scan_(scan), msg_(msg), bar_(bar) {
  timer_.setInterval(kIntervalMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Show(scan_.Read()); });
}

void GuiScanObserver::Begin() {
  anyShown_ = false;
  shown_ = {};
  if (onFolderProgress) {
    // The scan waits at the folder while the window's thread runs the hook.
    scan_.onFolderProgress = [this](std::int64_t index) {
      QMetaObject::invokeMethod(
          this,
          [this, index] {
            Show(scan_.Read());  // the status as of this folder
            if (onFolderProgress) onFolderProgress(index);
          },
          Qt::BlockingQueuedConnection);
    };
  } else {
    scan_.onFolderProgress = nullptr;
  }
  timer_.start();
}

void GuiScanObserver::End() {
  timer_.stop();
  Show(scan_.Read());
  scan_.onFolderProgress = nullptr;
}

void GuiScanObserver::Show(const ScanThread::Progress& progress) {
  const bool textChanged = !anyShown_ || progress.counting != shown_.counting ||
                           (!progress.counting && progress.found != shown_.found);
  if (msg_ && textChanged) {
    msg_->setText(progress.counting ? QStringLiteral("Scanning all folders...")
                                    : QString::number(progress.found) + QStringLiteral(" folders found"));
    msg_->adjustSize();
  }
  if (bar_ && (!anyShown_ || progress.found != shown_.found || progress.counted != shown_.counted)) {
    const std::int64_t total = std::max<std::int64_t>(progress.found, 1);
    const std::int64_t counted = std::min(progress.counted, total);
    const std::int64_t steps = std::min(total, kMaxBarSteps);
    bar_->setRange(0, static_cast<int>(steps));
    bar_->setValue(static_cast<int>(total > kMaxBarSteps ? counted * kMaxBarSteps / total : counted));
  }
  shown_ = progress;
  anyShown_ = true;
}

}  // namespace orbelan
