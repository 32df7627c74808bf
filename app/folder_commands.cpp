#include "app/folder_commands.h"

#include <QItemSelectionModel>
#include <QTreeView>
#include <optional>

#include "app/folder_actions.h"
#include "app/folder_zip_command.h"
#include "app/list_actions.h"
#include "app/main_form.h"
#include "app/main_panels.h"
#include "app/results_model.h"
#include "app/results_view.h"
#include "app/scan_control.h"
#include "app/subtree_views.h"
#include "dialogs/subtree_page.h"
#include "platform/day_number.h"
#include "dialogs/frm_prop.h"
#include "scan/folder_figures.h"
#include "survey/results.h"
#include "survey/saving_sum.h"
#include "survey/subtree_totals.h"

namespace orbelan {

FolderCommands::FolderCommands(TForm1& form, MainPanels& panels, ScanControl& scan)
    : form_(form), panels_(panels), scan_(scan) {
  zip_ = new FolderZipCommand(&form, panels.ProgressBar1, panels.labMsg);
  connect(zip_, &FolderZipCommand::started, this, [this] { form_.SetBusy(true); });
  connect(zip_, &FolderZipCommand::finished, this, &FolderCommands::ZipFinished);
}

const FolderRec* FolderCommands::SelectedRecord() const {
  if (panels_.subtree->TreeShown()) return panels_.subtree->SelectedRecord();
  const ResultRow* row = panels_.SelectedRow();
  return row ? row->Rec : nullptr;
}

void FolderCommands::Explore() {
  if (const FolderRec* rec = SelectedRecord()) ExploreFolder(rec->Path());
}

void FolderCommands::Properties() {
  const FolderRec* rec = SelectedRecord();
  if (!rec) return;
  TfrmProp* frmProp = form_.frmProp();
  frmProp->FillFolderInfo(*rec);
  if (const SubtreeFigures* figures = panels_.subtree->Totals().Of(*rec))
    frmProp->Subtree()->Fill(*figures, TodayDayNumber());
  propRec_ = rec;
  ShowSavingInProperties();
  frmProp->show();
  frmProp->raise();
  frmProp->activateWindow();
}

void FolderCommands::ShowSavingInProperties() {
  if (!propRec_) return;
  const SavingTable& savings = scan_.Savings();
  form_.frmProp()->Subtree()->SetSaving(panels_.subtree->Totals().SavingOf(*propRec_), scan_.Estimating());
  form_.frmProp()->SetSavingText(
      scan_.Estimating()
          ? QString::fromStdString(SavingSentence(savings.Find(*propRec_), UnzippedBytes(*propRec_)))
          : QString());
}

void FolderCommands::CopyPath() {
  if (const FolderRec* rec = SelectedRecord()) CopyPathToClipboard(rec->Path());
}

void FolderCommands::IgnorePath() { mnuIgnorePathClick(&form_, form_.settings, SelectedRecord()); }

void FolderCommands::AddFavor() { mnuAddFavorClick(&form_, form_.settings, SelectedRecord()); }

void FolderCommands::Recycle() {
  if (const FolderRec* rec = SelectedRecord()) RecycleFiles(&form_, rec->Path());
}

void FolderCommands::RecycleDir() {
  if (const FolderRec* rec = SelectedRecord()) RecycleDirectory(&form_, rec->Path());
}

void FolderCommands::Zip() {
  if (form_.IsBusy()) return;
  const FolderRec* rec = SelectedRecord();
  if (!rec) return;
  // The saving the list shows for the folder, once its estimate is in: disk space given
  // back, the figure the summary's "come back" is measured in.
  std::optional<std::int64_t> estimate;
  if (const SavingEstimate* known = scan_.Estimating() ? scan_.Savings().Find(*rec) : nullptr;
      known && known->Known)
    estimate = known->Disk;
  zip_->Start(rec->Path(), form_.settings, estimate);
}

void FolderCommands::ZipSubtree() {
  if (form_.IsBusy()) return;
  const FolderRec* rec = SelectedRecord();
  if (!rec) return;
  const SubtreeTotals& totals = panels_.subtree->Totals();
  const std::int64_t first = totals.IndexOf(*rec);
  if (first == SubtreeTotals::kNone) return;
  // The subtree's records stand together after its folder, in scan order.
  std::vector<std::string> subfolders;
  const std::int64_t count = totals.Figures(first).NFolders;
  subfolders.reserve(static_cast<std::size_t>(std::max<std::int64_t>(0, count - 1)));
  for (std::int64_t i = first + 1; i < first + count; ++i) subfolders.push_back(totals.Record(i).Path());
  // The disk space the subtree's estimates say comes back, once every folder with bytes has one.
  std::optional<std::int64_t> estimate;
  if (const SavingSum* sum = scan_.Estimating() ? totals.SavingOf(first) : nullptr; sum && sum->Any() && sum->Complete())
    estimate = sum->Saving;
  zip_->StartSubtree(rec->Path(), std::move(subfolders), form_.settings, estimate);
}

void FolderCommands::UndoZip() {
  if (form_.IsBusy()) return;
  if (const FolderRec* rec = SelectedRecord()) zip_->StartUndo(rec->Path());
}

void FolderCommands::CancelZip(bool quiet) { zip_->Cancel(quiet); }

void FolderCommands::SelectRow(const FolderRec* rec) {
  const std::vector<ResultRow>& rows = panels_.model->Rows().Rows;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].Rec != rec) continue;
    const QModelIndex index = panels_.model->index(static_cast<int>(i), 0);
    panels_.LView1->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    panels_.LView1->scrollTo(index);
    break;
  }
}

void FolderCommands::ZipFinished(const QByteArray& folderPath, bool changed) {
  form_.SetBusy(false);
  const std::string path = folderPath.toStdString();
  if (changed && zip_->SubtreeTouched()) {
    if (form_.ClosingAfterWork()) {
      form_.close();  // no rescan for a window that is going
      return;
    }
    // Files left (or came back to) the folders below, and some folders went (or came back):
    // the subtree is scanned again, its records replaced; the folder stays selected.
    FolderList& folders = scan_.Folders();
    const FolderRec* top = nullptr;
    for (const FolderRec& rec : folders)  // paths are put together only where the length fits
      if (rec.PathLength() == path.size() && rec.Path() == path) top = &rec;
    if (top && scan_.RescanFolder(*top)) {
      for (const FolderRec& rec : scan_.Folders())
        if (rec.PathLength() == path.size() && rec.Path() == path) SelectRow(&rec);
    }
  } else if (changed) {
    // The new archive now counts as zipped and the originals are gone: count the folder
    // again and rebuild the rows, keeping that folder selected.
    if (const FolderRec* zipped = scan_.RecountAfterZip(path)) SelectRow(zipped);
  }
  form_.mFolderClick();
  if (!form_.ClosingAfterWork()) scan_.EstimateListedSavings();
  if (form_.ClosingAfterWork()) form_.close();  // closed while zipping: the settings were saved then
}

}  // namespace orbelan
