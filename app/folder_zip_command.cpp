#include "app/folder_zip_command.h"

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QWidget>

#include "survey/figures.h"
#include "ui/interaction.h"

namespace orbelan {
namespace {

constexpr int kBarSteps = 1000;
constexpr int kPollMs = 50;
constexpr std::size_t kNamesListed = 10;

// A count with the thousands grouping the list uses ("812,000,000").
QString Grouped(std::int64_t n) { return QString::fromStdString(GroupedNumber(n)); }

// Names and paths are bytes; they are shown decoded as the rest of the window shows them.
QString Shown(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

QString NameList(const std::vector<std::string>& names) {
  QStringList shown;
  for (std::size_t i = 0; i < names.size() && i < kNamesListed; ++i) shown << Shown(names[i]);
  QString text = shown.join(QStringLiteral(", "));
  if (names.size() > kNamesListed) text += QStringLiteral(", …");
  return text;
}

QString Files(std::int64_t n) {
  return n == 1 ? QStringLiteral("1 file") : Grouped(n) + QStringLiteral(" files");
}

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
    result_ = zipper_->Plan(folderPath, settings_.Rules(), plan_);
    QMetaObject::invokeMethod(this, &FolderZipCommand::Planned, Qt::QueuedConnection);
  });
}

void FolderZipCommand::Cancel(bool quiet) {
  if (!running_ || !zipper_) return;
  zipper_->CancelRequested = true;
  if (quiet) quiet_ = true;
}

void FolderZipCommand::Planned() {
  Join();
  if (zipper_->CancelRequested) {
    End(false);
    return;
  }
  if (result_.Outcome != ZipOutcome::Done) {
    interaction().ShowMessage(window_, Shown(result_.Message), QLatin1String(kCaption));
    End(false);
    return;
  }
  if (label_) label_->hide();
  QString text = QStringLiteral("Zip the files of this folder?\n%1\n\n%2, %3 bytes, go into the archive \u201c%4\u201d in that folder")
                     .arg(Shown(plan_.Folder), Files(static_cast<std::int64_t>(plan_.Members.size())),
                          Grouped(plan_.Bytes), Shown(plan_.ArchiveName));
  if (estimate_) text += QStringLiteral(" (estimated saving: %1 bytes)").arg(Grouped(*estimate_));
  text += QStringLiteral(".\nSubfolders, hidden and ignored files, archives and links stay as they are.\n\n");
  text += DiskSpaceText(plan_);
  text += QStringLiteral(
      "\n\nOnce the archive has been checked, the original files go to the trash; nothing is deleted.");
  if (!interaction().AskYesNo(window_, text, QLatin1String(kCaption), /*defaultNo=*/true)) {
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

QString FolderZipCommand::DiskSpaceText(const ZipPlan& plan) {
  QString text = QStringLiteral("These files take %1 bytes of disk space").arg(Grouped(plan.Allocated));
  if (plan.HardLinked > 0)
    text += QStringLiteral(" (not counting %1 with other hard links, which give back nothing)")
                .arg(Files(plan.HardLinked));
  text += QStringLiteral(
      "; that space, less the archive's own, comes back only when the trash is emptied.");
  return text;
}

QString FolderZipCommand::SummaryText(const ZipResult& r, std::optional<std::int64_t> estimate) {
  QString text = QStringLiteral("Zipped %1, %2 bytes into %3 (%4 bytes)")
                     .arg(Files(r.Files), Grouped(r.Bytes), Shown(r.ArchiveName), Grouped(r.ArchiveBytes));
  if (r.TrashedFiles == 0) {
    text += QStringLiteral(": no original went to the trash");
  } else if (r.Freed > 0) {
    // Disk space, not file sizes: the originals' blocks less the archive's.
    text += QStringLiteral(": %1 bytes of disk space come back when the trash is emptied")
                .arg(Grouped(r.Freed));
  } else {
    text += QStringLiteral(": no disk space comes back when the trash is emptied");
  }
  if (estimate) text += QStringLiteral("; estimated %1").arg(Grouped(*estimate));
  text += QLatin1Char('.');
  if (!r.Changed.empty())
    text += QStringLiteral("\n\n%1 changed after being read, or were in use, and stayed in the folder: %2")
                .arg(Files(static_cast<std::int64_t>(r.Changed.size())), NameList(r.Changed));
  if (!r.NotTrashed.empty()) {
    // Each with the trash's reason, as far as the list goes.
    std::vector<std::string> named;
    for (std::size_t i = 0; i < r.NotTrashed.size(); ++i)
      named.push_back(i < r.NotTrashedWhy.size() && !r.NotTrashedWhy[i].empty()
                          ? r.NotTrashed[i] + " (" + r.NotTrashedWhy[i] + ")"
                          : r.NotTrashed[i]);
    text += QStringLiteral("\n\n%1 could not be moved to the trash and stayed in the folder: %2")
                .arg(Files(static_cast<std::int64_t>(r.NotTrashed.size())), NameList(named));
  }
  return text;
}

void FolderZipCommand::Ran() {
  Join();
  poll_->stop();
  ShowProgress();
  if (quiet_) {
    End(result_.Outcome == ZipOutcome::Done);
    return;
  }
  const QString caption = QLatin1String(kCaption);
  switch (result_.Outcome) {
    case ZipOutcome::Done:
      // The row is recounted before the summary shows, so the list behind it is current.
      End(true);
      interaction().ShowMessage(window_, SummaryText(result_, estimate_), caption);
      return;
    case ZipOutcome::Cancelled:
      End(false);
      interaction().ShowMessage(
          window_, QStringLiteral("Zipping was cancelled. The folder is as it was; no archive was kept."),
          caption);
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
  const QByteArray folder = QByteArray::fromStdString(plan_.Folder);
  emit finished(folder, changed);
}

}  // namespace orbelan
