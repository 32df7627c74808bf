#pragma once
// The main window's face of the session's background estimate. The engine's workers (one per
// core) estimate the folders, largest Unzipped first; when results wait, one queued call
// brings the window's thread to take them into the session's table, and the window hears of
// them in batches (Progress), so a list of a hundred thousand rows is not repainted per
// folder. The records must stay alive while a run goes on: Stop before the folder list is
// reset.

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <vector>

#include "estimate/saving_estimate.h"

namespace orbelan {

struct FolderRec;
class SurveySession;

class GuiSavingEstimator : public QObject {
  Q_OBJECT
 public:
  explicit GuiSavingEstimator(SurveySession& session, QObject* parent = nullptr);
  ~GuiSavingEstimator() override;  // stops and joins the workers

  // Estimates those of listed that have no estimate yet (SurveySession::Estimate). True when
  // a run started, Progress told already.
  bool Estimate(const std::vector<const FolderRec*>& listed);
  // Stops the workers and waits for them (the engine returns within 100 ms). The results
  // already in stay in the table; the folders not reached stay without an entry.
  void Stop();
  // True from a start until the last folder's result is in or the run is stopped.
  bool Running() const;

  // The listed folders of the last Estimate, and how many of them have their entry.
  std::int64_t Listed() const;
  std::int64_t Estimated() const;
  // The folders of the current run in the order they are begun.
  const std::vector<const FolderRec*>& Order() const;
  // How many runs were started, ever (a setting that is off starts none).
  int Starts() const;

  // Progress is emitted at most once per interval while results arrive.
  void SetBatchInterval(int milliseconds) { batch_.setInterval(milliseconds); }
  // Tests: while held, the results that come in wait in the session, so a test can look at
  // the window before any has reached it; released, they are taken at once.
  void HoldResultsForTests(bool hold);
  EstimateOptions& options;  // the session's: the sampling's seed and whole-folder limit
  int& threads;              // the session's: 0, one per core

 signals:
  // New entries are in the table (or the run ended); Listed and Estimated are current.
  void Progress();
  // The run has estimated every folder it was given (not emitted on Stop).
  void Finished();

 private:
  // On the window's thread: takes the results that came in.
  void TakeResults();

  SurveySession& session_;
  QTimer batch_;
  bool held_ = false;
};

}  // namespace orbelan
