#include "app/scan_control.h"

#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QTreeView>
#include <cstdlib>

#include "app/gui_saving_estimator.h"
#include "app/gui_scan_observer.h"
#include "app/main_form.h"
#include "app/main_panels.h"
#include "app/percent_gauge.h"
#include "app/results_model.h"
#include "app/results_view.h"
#include "app/subtree_views.h"
#include "platform/day_number.h"
#include "survey/figure_text.h"
#include "survey/results.h"
#include "survey/subtree_rescan.h"
#include "survey/survey_session.h"
#include "ui/interaction.h"
#include "ui/click_label.h"

namespace orbelan {

ScanControl::ScanControl(TForm1& form, MainPanels& panels, int threads)
    : form_(form), panels_(panels) {
  session_ = std::make_unique<SurveySession>(silent_, threads);
  observer_ = std::make_unique<GuiScanObserver>(session_->Background(), panels.labMsg, panels.ProgressBar1);
  // Runs on the scan's thread: the window's thread answers from its event loop.
  session_->Background().SetWake(
      [this] { QMetaObject::invokeMethod(this, [this] { ScanWoken(); }, Qt::QueuedConnection); });
  estimator_ = std::make_unique<GuiSavingEstimator>(*session_);
  connect(estimator_.get(), &GuiSavingEstimator::Progress, this, &ScanControl::SavingEstimateProgress);
  connect(estimator_.get(), &GuiSavingEstimator::Finished, panels.subtree, &SubtreeViews::SavingsSettled);
  estimating_ = form.settings.EstimateSavings;
  panels.model->SetSavings(estimating_ ? &session_->Savings() : nullptr);
  panels.model->SetReadableFigures(form.settings.ReadableFigures);
}

ScanControl::~ScanControl() {
  session_->Background().Abandon();  // a scan still running writes the records
  if (filler_.joinable()) filler_.join();  // it reads them
  estimator_->Stop();
}

FolderList& ScanControl::Folders() { return session_->Folders(); }
const SavingTable& ScanControl::Savings() const { return session_->Savings(); }

bool ScanControl::CancelRequested() const { return session_->CancelRequested(); }

void ScanControl::RequestCancel() { session_->RequestCancel(); }

void ScanControl::ScanPath(const std::string& path) {
  // The estimate's workers read the records this scan is about to free.
  StopSavingEstimate();
  estimateCancelled_ = false;
  form_.ForgetPropertiesRecord();  // an open properties dialog keeps what it shows
  panels_.LView1->hide();
  panels_.subtree->ShowResults(panels_.LView1, false);
  panels_.model->Clear();
  panels_.subtree->Clear();  // before the scan frees the records it adds up
  panels_.labPct->hide();
  panels_.Gauge1->setValue(0);
  panels_.Gauge1->hide();
  ShowScanStatus();
  panels_.labPath->setText(QFile::decodeName(QByteArray::fromStdString(path)));
  form_.CurrentPath = path;

  running_ = Running::Scan;
  observer_->Begin();
  // The estimate that follows reads the files the scan draws in small folders.
  session_->StartScan(path, form_.settings.Rules(), estimating_);
}

void ScanControl::ShowScanStatus() {
  panels_.labMsg->setText(QStringLiteral("   "));
  panels_.labMsg->adjustSize();
  panels_.labMsg->show();
  form_.SetBusy(true);
  panels_.ProgressBar1->setRange(0, 100);
  panels_.ProgressBar1->setValue(0);
  panels_.ProgressBar1->show();
}

void ScanControl::HideScanStatus() {
  panels_.ProgressBar1->hide();
  panels_.labMsg->hide();
  form_.SetBusy(false);
}

void ScanControl::QuitScan() {
  if (running_ != Running::None) session_->Background().Quit();
}

void ScanControl::ScanWoken() {
  if (running_ == Running::None || asking_) return;  // a wake-up already taken, or the box is open
  ScanThread& scan = session_->Background();
  if (scan.QuestionWaiting()) {
    // Asked from the event loop; the scan waits at its entry (its workers paused) until the
    // answer, so the records are as the user saw them when the question came.
    asking_ = true;
    const bool yes = interaction().AskYesNo(&form_, QStringLiteral("Do you wish to cancel the current scan?"),
                                            QStringLiteral("Cancel scan"));
    asking_ = false;
    session_->AnswerCancel(yes);
  }
  if (!scan.Ended()) return;
  if (running_ == Running::Scan) EndScan(); else EndRescan();
}

void ScanControl::EndScan() {
  running_ = Running::None;
  observer_->End();
  const bool completed = session_->FinishScan();
  for (const ScanThread::Notice& notice : session_->Background().TakeNotices())
    interaction().ShowMessage(&form_, QString::fromStdString(notice.text), QString::fromStdString(notice.caption));
  for (const std::string& unread : session_->Unscanned())
    qWarning("Not read (too many open files): %s", unread.c_str());
  if (completed && !session_->Folders().Empty()) {
    MakeRowsInBackground();  // ShowScanEnd follows once the rows are listed
    return;
  }
  if (completed) ShowChangedRecords();
  ShowScanEnd(completed);
}

void ScanControl::ShowScanEnd(bool completed) {
  HideScanStatus();
  panels_.LView1->show();
  panels_.subtree->ShowResults(panels_.LView1, true);
  panels_.labPct->show();
  panels_.Gauge1->show();
  if (completed) panels_.listBehaviour->FocusFirstRow();  // arrows, F4 and Ctrl+E work at once
  form_.mFolderClick();
  if (completed && !form_.ClosingAfterWork()) EstimateListedSavings();
  form_.ScanEnded();
}

ScanControl::FillChoice ScanControl::CurrentFillChoice() const {
  FillChoice choice;
  choice.minSize = form_.settings.MinSize;
  choice.sortColumn = form_.SortColumn;
  choice.today = TodayDayNumber();
  choice.withSavings = estimating_;
  choice.subtreeRows = panels_.subtree->SubtreeRowsChosen();
  choice.everyEstimate = panels_.subtree->NeedsEveryEstimate();
  return choice;
}

void ScanControl::MakeRowsInBackground() {
  ShowSortingStatus();
  fillChoice_ = CurrentFillChoice();
  filler_ = std::thread([this, choice = fillChoice_] {
    session_->SumSubtreeSavings(choice.withSavings);  // builds the totals first
    madeRows_ = session_->Rows(choice.minSize, choice.sortColumn, choice.today, choice.withSavings,
                               choice.subtreeRows && !session_->Totals().Empty());
    if (choice.withSavings) {
      // The estimate's order of the folders it will take once they are listed
      // (EstimateListedSavings); a filter on the list makes it take fewer, and sort again.
      std::vector<const FolderRec*> listed;
      if (choice.everyEstimate) {
        listed = session_->FoldersWithBytes();
      } else {
        listed.reserve(madeRows_.Rows.size());
        for (const ResultRow& row : madeRows_.Rows) listed.push_back(row.Rec);
      }
      session_->PrepareEstimate(std::move(listed));
    }
    QMetaObject::invokeMethod(this, [this] { RowsMade(); }, Qt::QueuedConnection);
  });
}

void ScanControl::RowsMade() {
  filler_.join();
  ResultRows rows = std::move(madeRows_);
  madeRows_ = {};
  FillChoice now = CurrentFillChoice();
  now.today = fillChoice_.today;  // a fill across midnight keeps the day it began with
  if (now == fillChoice_) {
    panels_.subtree->Rebuild(session_->Totals(), fillChoice_.withSavings ? &session_->Savings() : nullptr,
                             fillChoice_.today);
    ShowRows(std::move(rows), fillChoice_.today, fillChoice_.sortColumn);
  } else {
    // The settings dialog or the View menu changed what the rows are made by meanwhile.
    ShowChangedRecords();
  }
  ShowScanEnd(true);
}

void ScanControl::ShowChangedRecords() {
  session_->SumSubtreeSavings(estimating_);
  panels_.subtree->Rebuild(session_->Totals(), estimating_ ? &session_->Savings() : nullptr, TodayDayNumber());
  FillList();
}

void ScanControl::ShowSortingStatus() {
  panels_.labMsg->setText(QStringLiteral("Sorting folders..."));
  panels_.labMsg->adjustSize();
  panels_.labMsg->show();
  form_.repaint();
}

void ScanControl::FillList() {
  if (session_->Folders().Empty()) return;
  ShowSortingStatus();
  const bool wasBusy = form_.IsBusy();
  form_.SetBusy(true);

  const double today = TodayDayNumber();
  const int sortColumn = form_.SortColumn;
  ResultRows rows = session_->Rows(form_.settings.MinSize, sortColumn, today, estimating_,
                                   panels_.subtree->RowTotals() != nullptr);
  ShowRows(std::move(rows), today, sortColumn);
  if (!wasBusy) form_.SetBusy(false);
}

void ScanControl::ShowRows(ResultRows rows, double today, int sortColumn) {
  SubtreeViews& subtree = *panels_.subtree;
  subtree.FilterRows(rows, estimating_ ? &session_->Savings() : nullptr);
  panels_.model->SetSubtree(subtree.RowTotals());
  panels_.model->SetRows(std::move(rows), today);
  listShowsChanges_ = session_->EstimatesChanges();
  panels_.listBehaviour->FitNumberColumns();
  panels_.Gauge1->setValue(panels_.model->Rows().GaugePercent);
  panels_.LView1->header()->setSortIndicator(std::abs(sortColumn) - 1,
                                             sortColumn > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
  form_.ShowSortColumn();
  panels_.labMsg->hide();
}

FolderRec* ScanControl::RecountAfterZip(const std::string& folderPath) {
  FolderRec* zipped = session_->Find(folderPath);
  if (!zipped) return nullptr;
  // Its estimate was of the files before the zip, and may be on its way: start afresh.
  StopSavingEstimate();
  panels_.model->Clear();
  panels_.subtree->Clear();  // the totals are made again
  session_->RecountFolder(*zipped, form_.settings.Rules());
  ShowChangedRecords();
  return zipped;
}

bool ScanControl::RescanFolder(const FolderRec& rec) {
  if (session_->Totals().IndexOf(rec) == SubtreeTotals::kNone) return false;
  const std::string path = rec.Path();
  rescanPath_ = path;
  rescanShown_ = QFile::decodeName(QByteArray::fromStdString(path));
  // The estimate's workers and every view read the records that are about to move.
  StopSavingEstimate();
  form_.ForgetPropertiesRecord();

  const RescanStart start = ExamineRescanStart(path);
  running_ = Running::Rescan;
  if (start != RescanStart::Folder) {  // nothing to scan: the folder goes at once
    session_->StartRescan(rec, start);
    rescanStart_ = start;
    EndRescan();
    return true;
  }
  rescanStart_ = start;
  ShowScanStatus();
  observer_->Begin();
  session_->StartRescan(rec, start);
  return true;
}

void ScanControl::EndRescan() {
  running_ = Running::None;
  const bool scanned = rescanStart_ == RescanStart::Folder;
  if (scanned) {
    observer_->End();
    for (const ScanThread::Notice& notice : session_->Background().TakeNotices())
      interaction().ShowMessage(&form_, QString::fromStdString(notice.text), QString::fromStdString(notice.caption));
  }
  const SurveySession::Rescan done = session_->FinishRescan([this] {
    // Nothing may point at the old records once they move.
    panels_.model->Clear();
    panels_.subtree->Clear();
  });
  if (scanned) HideScanStatus();
  if (done == SurveySession::Rescan::Replaced) {
    ShowChangedRecords();
    // The folder scanned again stays the selected row, as it was when the rescan began.
    const std::vector<ResultRow>& rows = panels_.model->Rows().Rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].Rec->PathLength() != rescanPath_.size() || rows[i].Rec->Path() != rescanPath_) continue;
      const QModelIndex index = panels_.model->index(static_cast<int>(i), 0);
      panels_.LView1->setCurrentIndex(index);
      panels_.LView1->scrollTo(index);
      break;
    }
  }
  if (rescanStart_ == RescanStart::Gone)
    interaction().ShowMessage(&form_, QStringLiteral("%1 no longer exists; it is taken out of the list.").arg(rescanShown_),
                              QStringLiteral("Rescan this folder"));
  else if (rescanStart_ == RescanStart::NotAFolder)
    interaction().ShowMessage(&form_,
                              QStringLiteral("%1 is no longer a folder (a link or a file stands there now); "
                                             "it is taken out of the list.").arg(rescanShown_),
                              QStringLiteral("Rescan this folder"));
  form_.mFolderClick();
  if (!form_.ClosingAfterWork()) EstimateListedSavings();
  form_.ScanEnded();
}

// ---- Saving estimate ----

void ScanControl::EstimateListedSavings() {
  if (!estimating_ || estimateCancelled_ || form_.IsBusy()) return;
  std::vector<const FolderRec*> listed;
  listed.reserve(panels_.model->Rows().Rows.size());
  for (const ResultRow& row : panels_.model->Rows().Rows) listed.push_back(row.Rec);
  if (panels_.subtree->NeedsEveryEstimate()) {
    // Subtree figures add up every folder's saving, listed or not.
    listed = session_->FoldersWithBytes();
  }
  // With the lists the scan counted by, from the folder it started at.
  estimator_->options.Root = form_.CurrentPath;
  // A run that starts tells its progress itself; summing every subtree again is not free.
  if (!estimator_->Estimate(listed)) SavingEstimateProgress();
}

void ScanControl::StopSavingEstimate() {
  if (!estimator_->Running()) return;
  estimator_->Stop();
  SavingEstimateProgress();  // shows what came in before the stop, and takes the text away
}

void ScanControl::CancelSavingEstimate() {
  if (!estimator_->Running()) return;
  estimateCancelled_ = true;
  StopSavingEstimate();
}

void ScanControl::SavingEstimateProgress() {
  session_->SumSubtreeSavings(estimating_);
  panels_.subtree->SavingsChanged(estimating_ ? &session_->Savings() : nullptr);
  // Drawing a column of eighty thousand rows again is not free: only when there is news.
  if (listShowsChanges_ != session_->EstimatesChanges()) {
    listShowsChanges_ = session_->EstimatesChanges();
    panels_.model->SavingsChanged();
  }
  form_.ShowSavingInProperties();
  if (form_.IsBusy()) return;  // the status text is the scan's
  if (estimator_->Running()) {
    estimateStatus_ = QStringLiteral("Estimating savings: %1 of %2 folders")
                          .arg(QString::fromStdString(GroupedNumber(estimator_->Estimated())),
                               QString::fromStdString(GroupedNumber(estimator_->Listed())));
    panels_.labMsg->show();
  } else {
    panels_.labMsg->hide();
  }
  form_.PlaceStatusText();
}

const QString* ScanControl::EstimateLine() const {
  return estimator_->Running() ? &estimateStatus_ : nullptr;
}

void ScanControl::SavingEstimateSettingChanged() {
  if (form_.settings.EstimateSavings == estimating_) return;
  estimating_ = form_.settings.EstimateSavings;
  panels_.subtree->SetSavingsShown(estimating_);
  if (estimating_) {
    panels_.model->SetSavings(&session_->Savings());
    estimateCancelled_ = false;
    EstimateListedSavings();
  } else {
    StopSavingEstimate();
    panels_.model->SetSavings(nullptr);
  }
  form_.ShowSavingInProperties();
}

}  // namespace orbelan
