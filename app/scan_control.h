#pragma once
// The scan as the user lives it in the main window: the survey session (records, scan, rows,
// estimate, subtree totals) driven from the window's thread, with the scan's progress in the
// status panel, the rows put into the list, and the estimate's status line. The scan itself
// runs in the background; the window's thread starts it, asks its cancel question when it
// waits at an entry, and takes its records when it ends (one queued wake-up each).

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "scan/folder_list.h"
#include "survey/results.h"
#include "survey/saving_table.h"
#include "scan/scanner.h"
#include "survey/subtree_rescan.h"

namespace orbelan {

class GuiSavingEstimator;
class GuiScanObserver;
class SurveySession;
class TForm1;
struct MainPanels;

class ScanControl : public QObject {
  Q_OBJECT
 public:
  ScanControl(TForm1& form, MainPanels& panels, int threads);
  ~ScanControl() override;  // stops the estimate's workers, which read the records

  // Starts the whole scan of one folder (the window has checked it is not busy); the
  // window is busy until it ends, and then hears of it (TForm1::ScanEnded).
  void ScanPath(const std::string& path);
  // A quit during a scan: it stops without a question, as after Yes.
  void QuitScan();
  // Builds the rows from the folder list and sets the gauge; changes nothing when empty.
  void FillList();
  // True while the rows of a finished scan are made in the background (the window stays busy).
  bool Filling() const { return filler_.joinable(); }
  // Counts the folder's own files again after a zip changed it and rebuilds the rows;
  // returns the record, or nullptr when the folder is not listed.
  FolderRec* RecountAfterZip(const std::string& folderPath);

  // Scans rec's subtree again (in the background, like a scan) and puts its records in place
  // of the old ones, keeping the rest of the list and its estimates; false (nothing done)
  // when rec is not in the tree.
  bool RescanFolder(const FolderRec& rec);

  bool CancelRequested() const;
  void RequestCancel();  // Esc or a click on the list while scanning

  // The estimate of the listed folders (when the setting is on): started after a scan, a
  // sort or a zip; Esc stops it until the next scan.
  void EstimateListedSavings();
  void StopSavingEstimate();
  void CancelSavingEstimate();
  void SavingEstimateSettingChanged();
  bool Estimating() const { return estimating_; }
  // "Estimating savings: N of M folders" while the estimate runs, else nullptr.
  const QString* EstimateLine() const;

  FolderList& Folders();
  const SavingTable& Savings() const;
  GuiSavingEstimator& Estimator() { return *estimator_; }
  GuiScanObserver& Observer() { return *observer_; }

 private:
  void SavingEstimateProgress();
  // On the window's thread, woken by the scan: asks its question, or takes its end.
  void ScanWoken();
  void EndScan();
  // The end of a scan once its rows are listed (or at once when there are none to make).
  void ShowScanEnd(bool completed);
  void EndRescan();
  // The status controls of a scan, shown or taken away.
  void ShowScanStatus();
  void HideScanStatus();

  // The subtree views and the list after the records changed.
  void ShowChangedRecords();
  // What the rows of a fill are made by, taken on the window's thread.
  struct FillChoice {
    std::uint16_t minSize = 0;
    int sortColumn = 1;
    double today = 0;
    bool withSavings = false, subtreeRows = false;
    bool everyEstimate = false;  // the estimate that follows takes every folder with bytes
    bool operator==(const FillChoice&) const = default;
  };
  FillChoice CurrentFillChoice() const;
  void ShowSortingStatus();
  // Puts the rows into the list and sets the gauge and the sort indicator.
  void ShowRows(ResultRows rows, double today, int sortColumn);
  // After a completed scan of many folders: the totals and the rows (sorted) are made on a
  // thread of their own from the finished records, which nothing else touches meanwhile
  // (the window is busy, and the estimate starts only after); RowsMade lists them.
  void MakeRowsInBackground();
  void RowsMade();

  TForm1& form_;
  MainPanels& panels_;
  SilentScanObserver silent_;  // the session's scans in the foreground: none here
  enum class Running { None, Scan, Rescan };
  Running running_ = Running::None;
  bool asking_ = false;  // the cancel question is open
  std::string rescanPath_;
  QString rescanShown_;  // the rescanned folder's path as shown
  RescanStart rescanStart_ = RescanStart::Folder;
  std::unique_ptr<GuiScanObserver> observer_;
  // The rules a scan runs with are copied from the settings at its start: the settings
  // dialog stays usable during a scan, and what it confirms then applies from the next scan on.
  std::unique_ptr<SurveySession> session_;
  std::unique_ptr<GuiSavingEstimator> estimator_;
  bool estimating_ = false;         // the setting as the window last applied it
  bool estimateCancelled_ = false;  // Esc stopped it: no restart until the next scan
  QString estimateStatus_;          // "Estimating savings: N of M folders", before any eliding
  std::thread filler_;              // making the rows of a finished scan
  FillChoice fillChoice_;           // what filler_ makes them by
  ResultRows madeRows_;             // filler_'s, until RowsMade takes them
  std::uint64_t listShowsChanges_ = 0;  // the estimates' changes the list's Saving column shows
};

}  // namespace orbelan
