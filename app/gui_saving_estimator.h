#pragma once
// The main window's background estimate of the listed folders' savings. The engine's
// workers (one per core) estimate the folders, largest Unzipped first; each result is handed
// to the window's thread through a queued call and written into the window's SavingTable
// there, and the window hears of them in batches (Progress), so a list of a hundred thousand
// rows is not repainted per folder. The records must stay alive while a run goes on: Stop
// before the folder list is reset.

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <mutex>
#include <unordered_set>
#include <utility>
#include <vector>

#include "settings/settings.h"
#include "survey/saving_estimate.h"

namespace orbelan {

struct FolderRec;
class SavingTable;

class GuiSavingEstimator : public QObject {
  Q_OBJECT
 public:
  explicit GuiSavingEstimator(SavingTable& table, QObject* parent = nullptr);
  ~GuiSavingEstimator() override;  // stops and joins the workers

  // Estimates those of listed that have no entry in the table yet, largest Unzipped first,
  // with the lists the scan classified the files by. A run that already holds every one of
  // them goes on undisturbed; otherwise it is stopped and started again with them. Nothing
  // starts when every listed folder has its entry.
  void Estimate(const std::vector<const FolderRec*>& listed, const ScanRules& rules);
  // Stops the workers and waits for them (the engine returns within 100 ms). The results
  // already in stay in the table; the folders not reached stay without an entry.
  void Stop();
  // True from a start until the last folder's result is in or the run is stopped.
  bool Running() const { return running_; }

  // The listed folders of the last Estimate, and how many of them have their entry.
  std::int64_t Listed() const { return listed_; }
  std::int64_t Estimated() const { return had_ + delivered_; }
  // The folders of the current run in the order they are begun.
  const std::vector<const FolderRec*>& Order() const { return order_; }
  // How many runs were started, ever (a setting that is off starts none).
  int Starts() const { return starts_; }

  // Progress is emitted at most once per interval while results arrive.
  void SetBatchInterval(int milliseconds) { batch_.setInterval(milliseconds); }
  EstimateOptions options;  // the sampling's seed and whole-folder limit
  int threads = 0;          // 0: one per core

 signals:
  // New entries are in the table (or the run ended); Listed and Estimated are current.
  void Progress();
  // The run has estimated every folder it was given (not emitted on Stop).
  void Finished();

 private:
  // Runs on a worker thread.
  void Arrived(std::size_t index, const SavingEstimate& estimate);
  // On the window's thread: moves the arrived results into the table.
  void TakeArrived(bool stopping);

  SavingTable& table_;
  SavingEstimateRunner runner_;
  QTimer batch_;

  std::vector<const FolderRec*> order_;       // the folders of the run, in its order
  std::unordered_set<const FolderRec*> inRun_;
  bool running_ = false;
  std::int64_t listed_ = 0, had_ = 0, delivered_ = 0;
  int starts_ = 0;

  std::mutex mutex_;  // guards arrived_ and posted_, shared with the workers
  std::vector<std::pair<std::size_t, SavingEstimate>> arrived_;
  bool posted_ = false;  // a call to take them is on its way to the window's thread
};

}  // namespace orbelan
