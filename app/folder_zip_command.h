#pragma once
// "Zip folder" as the user lives it: the folder's files are listed on a worker thread, the
// user confirms, the zipper runs on a worker thread while the status panel shows its
// progress (Esc cancels), and a summary tells what happened. The window stays responsive.

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "settings/settings.h"
#include "archive/folder_zipper.h"
#include "archive/zip_undo.h"

class QLabel;
class QProgressBar;
class QTimer;
class QWidget;

namespace orbelan {

class FolderZipCommand : public QObject {
  Q_OBJECT
 public:
  FolderZipCommand(QWidget* window, QProgressBar* bar, QLabel* label);
  ~FolderZipCommand() override;  // cancels what may still be cancelled and waits

  // Zips folderPath's own unzipped files. estimate: the saving the survey expects, when known.
  void Start(const std::string& folderPath, const Settings& settings,
             std::optional<std::int64_t> estimate);
  // Zip subtree: folderPath with the recorded folders below it (subfolders: their paths as
  // the records hold them) into one archive in folderPath. estimate: the subtree's saving.
  void StartSubtree(const std::string& folderPath, std::vector<std::string> subfolders,
                    const Settings& settings, std::optional<std::int64_t> estimate);
  // Undo zip: finds the newest archive Orbelan made in folderPath, asks, then puts its
  // originals back from the trash on a worker thread and says what came back.
  void StartUndo(const std::string& folderPath);
  // Esc: stops the work unless the archive already has its name (then it finishes).
  // quiet: the window is closing; no box is shown at the end.
  void Cancel(bool quiet = false);
  bool Running() const { return running_; }
  // The last zip or undo was of a folder with its subfolders: its records are scanned again.
  bool SubtreeTouched() const { return subtree_; }

  // Seams for tests (free space, files replaced while read); the trash is always the
  // interaction's.
  ZipOptions& OptionsForTests() { return options_; }

  static constexpr const char* kCaption = "Zip folder";
  static constexpr const char* kSubtreeCaption = "Zip subtree";
  static constexpr const char* kUndoCaption = "Undo zip";

  // What the question says about disk space.
  static QString DiskSpaceText(const ZipPlan& plan);
  // The summary box's text for a finished run.
  static QString SummaryText(const ZipResult& result, std::optional<std::int64_t> estimate);

 signals:
  void started();
  // Busy ends. changed: the folder holds a new archive (its record needs a recount).
  void finished(const QByteArray& folderPath, bool changed);

 private:
  void Begin(const std::string& folderPath, const Settings& settings, std::optional<std::int64_t> estimate);
  QString Caption() const;
  void Planned();
  void Ran();
  void UndoFound();
  void UndoRan();
  void ShowProgress();
  void End(bool changed);
  void Join();

  QWidget* window_;
  QProgressBar* bar_;
  QLabel* label_;
  QTimer* poll_;
  ZipOptions options_;
  std::unique_ptr<FolderZipper> zipper_;
  std::thread worker_;
  Settings settings_;
  ZipPlan plan_;
  ZipResult result_;
  std::optional<std::string> undoArchive_;
  UndoResult undoResult_;
  std::optional<std::int64_t> estimate_;
  std::vector<std::string> subfolders_;
  bool subtree_ = false;
  bool running_ = false;
  bool quiet_ = false;
  int shownStage_ = -1;
};

}  // namespace orbelan
