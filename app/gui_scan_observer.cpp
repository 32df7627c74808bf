#include "app/gui_scan_observer.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QWidget>

#include "ui/interaction.h"

namespace orbelan {

GuiScanObserver::GuiScanObserver(QWidget* window, QLabel* msg, QProgressBar* bar,
                                 std::function<bool()> quitRequested)
    : window_(window), msg_(msg), bar_(bar), quitRequested_(std::move(quitRequested)) {}

void GuiScanObserver::Begin() {
  clock_.start();
  lastPumpMs_ = 0;
  longestGapMs_ = 0;
  found_ = 0;
  foundShown_ = -1;
  progress_ = 0;
  progressShown_ = -1;
  total_ = 0;
  phase2_ = false;
}

void GuiScanObserver::SetFoundText(std::int64_t count) {
  if (!msg_ || count == foundShown_) return;
  foundShown_ = count;
  msg_->setText(QString::number(count) + QStringLiteral(" folders found"));
  msg_->adjustSize();
}

void GuiScanObserver::Flush() {
  if (!phase2_) {
    SetFoundText(found_);
    return;
  }
  if (!bar_ || progress_ == progressShown_) return;
  progressShown_ = progress_;
  const std::int64_t step = total_ > kMaxBarSteps ? progress_ * kMaxBarSteps / total_ : progress_;
  bar_->setValue(static_cast<int>(step));
}

void GuiScanObserver::FoldersFound(std::int64_t count) {
  found_ = count;
  // The first folder shows at once, so even a scan too short to pump says what it found.
  if (count == 1) SetFoundText(count);
}

void GuiScanObserver::ScanFilesStarted(std::int64_t total) {
  SetFoundText(found_);
  phase2_ = true;
  total_ = total;
  if (msg_) {
    msg_->setText(QStringLiteral("Scanning all folders..."));
    msg_->adjustSize();
  }
  if (bar_) {
    bar_->setRange(0, static_cast<int>(std::min(total, kMaxBarSteps)));
    bar_->setValue(0);
  }
  LetEventsThrough();
}

void GuiScanObserver::FolderProgress(std::int64_t index, std::int64_t total) {
  progress_ = index;
  total_ = total;
  if (onFolderProgress) onFolderProgress(index);
}

void GuiScanObserver::PumpMessages() {
  if (clock_.elapsed() - lastPumpMs_ < pumpIntervalMs_) return;
  Flush();
  LetEventsThrough();
}

void GuiScanObserver::LetEventsThrough() {
  const std::int64_t now = clock_.elapsed();
  longestGapMs_ = std::max(longestGapMs_, now - lastPumpMs_);
  QCoreApplication::processEvents();
  lastPumpMs_ = clock_.elapsed();
}

bool GuiScanObserver::QuitRequested() { return quitRequested_ && quitRequested_(); }

bool GuiScanObserver::AskCancel() {
  const bool yes = interaction().AskYesNo(
      window_, QStringLiteral("Do you wish to cancel the current scan?"), QStringLiteral("Cancel scan"));
  // The time spent answering is the user's, not a stall of the scan.
  lastPumpMs_ = clock_.elapsed();
  return yes;
}

void GuiScanObserver::ShowMsg(std::string_view text, std::string_view caption) {
  interaction().ShowMessage(window_, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                            QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
  lastPumpMs_ = clock_.elapsed();
}

}  // namespace orbelan
