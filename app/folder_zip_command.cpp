#include "app/folder_zip_command.h"

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QWidget>

#include "archive/zip_messages.h"
#include "platform/quoted_name.h"
#include "ui/interaction.h"

namespace orbelan {
namespace {

constexpr int kBarSteps = 1000;
constexpr int kPollMs = 50;
// Names and paths are bytes; they are shown decoded as the rest of the window shows them.
QString Shown(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

}  // namespace

FolderZipCommand::FolderZipCommand(QWidget* window, QProgressBar* bar, QLabel* label)
    : QObject(window), window_(window), bar_(bar), label_(label), poll_(new QTimer(this)) {
  poll_->setInterval(kPollMs);
  connect(poll_, &QTimer::timeout, this, &FolderZipCommand::ShowProgress);
}

FolderZipCommand::~FolderZipCommand() {
  if (zipper_) zipper_->CancelRequested = true;
  Join();
}

void FolderZipCommand::Join() {
  if (worker_.joinable()) worker_.join();
}

void FolderZipCommand::Start(const std::string& folderPath, const Settings& settings,
                             std::optional<std::int64_t> estimate) {
  if (running_ || folderPath.empty()) return;
  subtree_ = false;
  subfolders_.clear();
  Begin(folderPath, settings, estimate);
}

void FolderZipCommand::StartSubtree(const std::string& folderPath, std::vector<std::string> subfolders,
                                    const Settings& settings, std::optional<std::int64_t> estimate) {
  if (running_ || folderPath.empty()) return;
  subtree_ = true;
  subfolders_ = std::move(subfolders);
  Begin(folderPath, settings, estimate);
}

QString FolderZipCommand::Caption() const { return QLatin1String(subtree_ ? kSubtreeCaption : kCaption); }

void FolderZipCommand::Begin(const std::string& folderPath, const Settings& settings,
                             std::optional<std::int64_t> estimate) {
  running_ = true;
  quiet_ = false;
  estimate_ = estimate;
  settings_ = settings;
  // The zipper's own trash: it tells where each file went, for the summary and for undo.
  zipper_ = std::make_unique<FolderZipper>(options_);
  shownStage_ = -1;
  emit started();
  if (label_) {
    label_->setText(QStringLiteral("Listing the files to zip..."));
    label_->adjustSize();
    label_->show();
  }
  worker_ = std::thread([this, folderPath] {
    result_ = subtree_ ? zipper_->PlanSubtree(folderPath, subfolders_, settings_.Rules(), plan_)
                       : zipper_->Plan(folderPath, settings_.Rules(), plan_);
    QMetaObject::invokeMethod(this, &FolderZipCommand::Planned, Qt::QueuedConnection);
  });
}

void FolderZipCommand::StartUndo(const std::string& folderPath) {
  if (running_ || folderPath.empty()) return;
  running_ = true;
  quiet_ = false;
  subtree_ = false;  // until the archive found says otherwise
  zipper_.reset();
  plan_ = ZipPlan{};
  plan_.Folder = folderPath.ends_with('/') ? folderPath : folderPath + '/';
  emit started();
  if (label_) {
    label_->setText(QStringLiteral("Looking for the archive to undo..."));
    label_->adjustSize();
    label_->show();
  }
  worker_ = std::thread([this] {
    undoArchive_ = FindUndoableArchive(plan_.Folder);
    QMetaObject::invokeMethod(this, &FolderZipCommand::UndoFound, Qt::QueuedConnection);
  });
}

void FolderZipCommand::UndoFound() {
  Join();
  if (label_) label_->hide();
  const QString caption = QLatin1String(kUndoCaption);
  if (!undoArchive_) {
    interaction().ShowMessage(
        window_,
        QStringLiteral("The folder %1 holds no archive that Orbelan made, so there is no zip to undo.")
            .arg(Shown(QuotedName(plan_.Folder))),
        caption);
    End(false);
    return;
  }
  if (quiet_ || !interaction().AskYesNo(window_, Shown(UndoQuestionText(plan_.Folder, *undoArchive_)), caption)) {
    End(false);
    return;
  }
  if (label_) {
    label_->setText(QStringLiteral("Putting the files back from the trash..."));
    label_->adjustSize();
    label_->show();
  }
  worker_ = std::thread([this] {
    undoResult_ = UndoZip(plan_.Folder + *undoArchive_);
    QMetaObject::invokeMethod(this, &FolderZipCommand::UndoRan, Qt::QueuedConnection);
  });
}

void FolderZipCommand::UndoRan() {
  Join();
  subtree_ = undoResult_.Subtree;
  const bool changed = undoResult_.Restored > 0 || undoResult_.ArchiveTrashed;
  End(changed);
  if (!quiet_)
    interaction().ShowMessage(window_, Shown(UndoSummaryText(undoResult_, *undoArchive_)),
                              QLatin1String(kUndoCaption));
}

void FolderZipCommand::Cancel(bool quiet) {
  if (!running_) return;
  if (quiet) quiet_ = true;
  // Undo is not cancelled halfway: a file is either back or still in the trash.
  if (zipper_) zipper_->CancelRequested = true;
}

void FolderZipCommand::Planned() {
  Join();
  if (zipper_->CancelRequested) {
    End(false);
    return;
  }
  if (result_.Outcome != ZipOutcome::Done) {
    interaction().ShowMessage(window_, Shown(result_.Message), Caption());
    End(false);
    return;
  }
  if (label_) label_->hide();
  const QString text = Shown(ZipQuestionText(plan_, estimate_));
  if (!interaction().AskYesNo(window_, text, Caption(), /*defaultNo=*/true)) {
    End(false);
    return;
  }
  if (zipper_->CancelRequested) {  // Esc while the question was open
    End(false);
    return;
  }
  if (bar_) {
    bar_->setRange(0, kBarSteps);
    bar_->setValue(0);
    bar_->show();
  }
  if (label_) label_->show();
  ShowProgress();
  poll_->start();
  worker_ = std::thread([this] {
    result_ = zipper_->Run(plan_);
    QMetaObject::invokeMethod(this, &FolderZipCommand::Ran, Qt::QueuedConnection);
  });
}

void FolderZipCommand::ShowProgress() {
  if (!zipper_) return;
  const int stage = zipper_->Stage.load();
  if (label_ && stage != shownStage_) {
    shownStage_ = stage;
    switch (static_cast<ZipStage>(stage)) {
      case ZipStage::Listing:
      case ZipStage::Reading:
        label_->setText(QStringLiteral("Zipping into %1...").arg(Shown(plan_.ArchiveName)));
        break;
      case ZipStage::Verifying:
        label_->setText(QStringLiteral("Checking the archive..."));
        break;
      case ZipStage::Trashing:
        label_->setText(QStringLiteral("Moving the originals to the trash..."));
        break;
    }
    label_->adjustSize();
  }
  if (bar_) {
    const std::int64_t total = zipper_->Total.load();
    const std::int64_t done = zipper_->Done.load();
    bar_->setValue(total > 0 ? static_cast<int>(std::min(done, total) * kBarSteps / total) : 0);
  }
}

QString FolderZipCommand::DiskSpaceText(const ZipPlan& plan) { return Shown(ZipDiskSpaceText(plan)); }

QString FolderZipCommand::SummaryText(const ZipResult& r, std::optional<std::int64_t> estimate) {
  return Shown(ZipSummaryText(r, estimate));
}

void FolderZipCommand::Ran() {
  Join();
  poll_->stop();
  ShowProgress();
  if (quiet_) {
    End(result_.Outcome == ZipOutcome::Done);
    return;
  }
  const QString caption = Caption();
  switch (result_.Outcome) {
    case ZipOutcome::Done:
      // The row is recounted before the summary shows, so the list behind it is current.
      End(true);
      interaction().ShowMessage(window_, SummaryText(result_, estimate_), caption);
      return;
    case ZipOutcome::Cancelled:
      End(false);
      interaction().ShowMessage(window_, QString::fromUtf8(kZipCancelledText), caption);
      return;
    case ZipOutcome::Refused:
    case ZipOutcome::Failed:
      End(false);
      interaction().ShowMessage(window_, Shown(result_.Message), caption);
      return;
  }
}

void FolderZipCommand::End(bool changed) {
  poll_->stop();
  if (bar_) bar_->hide();
  if (label_) label_->hide();
  running_ = false;
  // The row is found by the path the scan knows, which may lead through a link to the real one.
  const QByteArray folder = QByteArray::fromStdString(plan_.GivenFolder.empty() ? plan_.Folder : plan_.GivenFolder);
  emit finished(folder, changed);
}

}  // namespace orbelan
