// The main window's behaviour: start, the scan as the user lives it, the list, the commands
// on the selected row, and closing.

#include "app/main_form.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <cstdlib>

#include "app/folder_actions.h"
#include "app/folder_zip_command.h"
#include "dialogs/frm_prop.h"
#include "app/gui_saving_estimator.h"
#include "app/gui_scan_observer.h"
#include "dialogs/help_window.h"
#include "ui/interaction.h"
#include "app/percent_gauge.h"
#include "app/results_model.h"
#include "app/results_view.h"
#include "app/folder_tree_view.h"
#include "app/subtree_views.h"
#include "survey/subtree_rescan.h"
#include "dialogs/subtree_page.h"
#include "app/sort_menu.h"
#include "app/window_place.h"
#include "platform/day_number.h"
#include "dialogs/frm_fav.h"
#include "dialogs/frm_lists.h"
#include "app/list_actions.h"
#include "survey/folder_recount.h"
#include "survey/figures.h"
#include "survey/results.h"
#include "ui/about_box.h"
#include "ui/bevel_panel.h"
#include "ui/click_label.h"
#include "ui/face_fonts.h"
#include "ui/product_info.h"
#include "ui/splash_timer.h"
#include "ui/splash_window.h"

namespace orbelan {
namespace {

QString WebPage(const char* document) {
  return QStringLiteral("http://") + QLatin1String(product::kWebHost) + QLatin1String(document);
}

}  // namespace

TForm1::TForm1() : TForm1(Options{}) {}

TForm1::TForm1(const Options& options) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Orbelan"));
  setFont(DialogSansFont(kFontPixels));
  form_create(options);
  BuildPanels();
  BuildMenus();

  observer_ = std::make_unique<GuiScanObserver>(this, labMsg, ProgressBar1,
                                                [this] { return quitDuringScan_; });
  scanner_ = std::make_unique<Scanner>(folders_, scanRules_, *observer_);
  scanThreads_ = options.scanThreads > 0 ? options.scanThreads : Scanner::DefaultThreads();
  scanner_->SetThreads(scanThreads_);
  zip_ = new FolderZipCommand(this, ProgressBar1, labMsg);
  connect(zip_, &FolderZipCommand::started, this, [this] { SetBusy(true); });
  connect(zip_, &FolderZipCommand::finished, this, &TForm1::ZipFinished);
  estimator_ = std::make_unique<GuiSavingEstimator>(savings_);
  connect(estimator_.get(), &GuiSavingEstimator::Progress, this, &TForm1::SavingEstimateProgress);
  connect(estimator_.get(), &GuiSavingEstimator::Finished, subtree_, &SubtreeViews::SavingsSettled);
  estimating_ = settings.EstimateSavings;
  model_->SetSavings(estimating_ ? &savings_ : nullptr);
  model_->SetReadableFigures(settings.ReadableFigures);

  // The outer size is 597 x 278 with a classic frame (4-pixel borders, 19-pixel caption);
  // Qt sizes the client area, so the frame is taken off here, and off the minimum width too.
  move(102, 194);
  resize(kOuterWidth - kFrameWidth, kOuterHeight - kFrameHeight);
  setMinimumWidth(kOuterMinWidth - kFrameWidth);

  // Esc must be seen whichever control has the focus (the window's key preview).
  qApp->installEventFilter(this);

  CreateSecondaryWindows();
  RestoreWindowPlace(this, *listBehaviour_, settings.Window);  // where the last run left it
  connect(frmLists_, &QDialog::accepted, this, &TForm1::PreferencesAccepted);

  if (options.startSplashTimer) Timer1 = new SplashTimer(frmSplash_, this);
}

TForm1::~TForm1() {
  qApp->removeEventFilter(this);
  // The workers read the records: stop them before anything goes.
  estimator_->Stop();
  // The rows refer to the records; drop them first.
  if (model_) model_->Clear();
}

void TForm1::form_create(const Options& options) {
  settings.SetProgramDir(QCoreApplication::applicationFilePath().toStdString());
  if (options.settingsFile) settings.FileName = *options.settingsFile;
  CurrentPath.clear();
  SortColumn = 1;
  settings.LoadSettings();
  setAcceptDrops(true);
}

void TForm1::CreateSecondaryWindows() {
  frmLists_ = new TfrmLists(settings, this);
  frmProp_ = new TfrmProp(this);
  frmSplash_ = new TfrmSplash(this);
  frmAbout_ = new TfrmAbout(this);
  frmFav_ = new TfrmFav(this);
}

// ---- Scan ----

void TForm1::SetBusy(bool busy) {
  busy_ = busy;
  if (busy) {
    setCursor(Qt::WaitCursor);
    panMain->setCursor(Qt::WaitCursor);
    LView1->setCursor(Qt::WaitCursor);
    subtree_->Tree()->setCursor(Qt::WaitCursor);
    labPath->setCursor(Qt::WaitCursor);
  } else {
    unsetCursor();
    panMain->unsetCursor();
    LView1->unsetCursor();
    subtree_->Tree()->unsetCursor();
    labPath->setCursor(Qt::PointingHandCursor);
  }
  PlaceStatusText();
}

void TForm1::ScanPath(const std::string& path) {
  if (busy_) return;  // never a scan inside a scan
  // The estimate's workers read the records this scan is about to free.
  StopSavingEstimate();
  savings_.Clear();
  estimateCancelled_ = false;
  propRec_ = nullptr;  // an open properties dialog keeps what it shows
  LView1->hide();
  subtree_->ShowResults(LView1, false);
  model_->Clear();
  subtree_->Clear();  // before the scan frees the records it adds up
  labPct->hide();
  Gauge1->setValue(0);
  Gauge1->hide();
  labMsg->setText(QStringLiteral("   "));
  labMsg->adjustSize();
  labMsg->show();
  repaint();
  SetBusy(true);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->show();
  labPath->setText(QFile::decodeName(QByteArray::fromStdString(path)));
  CurrentPath = path;

  scanRules_ = settings.Rules();
  scanner_->SetRules(scanRules_);
  // The estimate that follows reads the files the scan draws in small folders.
  scanner_->SetFileDraws(estimating_ ? ScanDrawLimits(estimator_->options) : FileDrawLimits{});
  observer_->Begin();
  // Run resets the folder list and both cancel flags, then runs the phases.
  const bool completed = scanner_->Run(path);
  observer_->Flush();
  for (const std::string& unread : scanner_->Unscanned())
    qWarning("Not read (too many open files): %s", unread.c_str());
  if (completed) {
    subtree_->Rebuild(folders_, estimating_ ? &savings_ : nullptr, TodayDayNumber());
    FillList();
  }

  ProgressBar1->hide();
  labMsg->hide();
  SetBusy(false);
  LView1->show();
  subtree_->ShowResults(LView1, true);
  labPct->show();
  Gauge1->show();
  if (completed) listBehaviour_->FocusFirstRow();  // arrows, F4 and Ctrl+E work at once
  mFolderClick();
  if (completed && !quitDuringScan_) EstimateListedSavings();

  // Closed during the scan: the settings were saved then; end now that the scan unwound.
  if (quitDuringScan_) close();
}

void TForm1::FillList() {
  if (folders_.Empty()) return;
  labMsg->setText(QStringLiteral("Sorting folders..."));
  labMsg->adjustSize();
  labMsg->show();
  repaint();
  const bool wasBusy = busy_;
  SetBusy(true);

  const double today = TodayDayNumber();
  const SavingTable* savings = estimating_ ? &savings_ : nullptr;
  ResultRows rows = FillRows(folders_, settings.MinSize, SortColumn, today, savings, subtree_->RowTotals());
  subtree_->FilterRows(rows, savings);
  model_->SetSubtree(subtree_->RowTotals());
  model_->SetRows(std::move(rows), today);
  listBehaviour_->FitNumberColumns();
  Gauge1->setValue(model_->Rows().GaugePercent);
  LView1->header()->setSortIndicator(std::abs(SortColumn) - 1,
                                      SortColumn > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
  sortMenu_->ShowSortColumn(SortColumn);

  labMsg->hide();
  if (!wasBusy) SetBusy(false);
}

void TForm1::labPath_Click() {
  if (busy_) return;
  const QString start = QFile::decodeName(QByteArray::fromStdString(CurrentPath));
  std::optional<QString> chosen =
      interaction().PickFolder(this, QStringLiteral("Choose a folder to scan"), start);
  if (!chosen || chosen->isEmpty()) return;
  // The file system is case-sensitive: the chosen path is scanned as it is spelt.
  std::string path = QFile::encodeName(*chosen).toStdString();
  if (!path.ends_with('/')) path += '/';
  ScanPath(path);
}

void TForm1::mnuRefreshClick() {
  if (busy_ || CurrentPath.empty()) return;
  ScanPath(CurrentPath);
}

void TForm1::mnuScanFavClick() {
  if (busy_) return;
  if (std::optional<std::string> folder = frmFav_->Choose(settings))
    ScanPath(*folder);
}

void TForm1::Lview1_colclick(int section) {
  if (busy_) return;
  SortColumn = NextSortColumn(SortColumn, section + 1);
  model_->Clear();
  FillList();
  EstimateListedSavings();
}

void TForm1::SortBy(int sortColumn) {
  if (busy_) return;
  SortColumn = sortColumn;
  sortMenu_->ShowSortColumn(SortColumn);  // also before the first scan, which it will order
  model_->Clear();
  FillList();
  EstimateListedSavings();
}

void TForm1::SetReadableFigures(bool readable) {
  settings.ReadableFigures = readable;
  model_->SetReadableFigures(readable);
  listBehaviour_->FitNumberColumns();
}

void TForm1::FormKeyPress(int key) {
  if (key != Qt::Key_Escape) return;
  scanner_->CancelRequested = true;
  if (rescanner_) rescanner_->CancelRequested = true;
  zip_->Cancel();
  if (estimator_->Running()) {
    estimateCancelled_ = true;
    StopSavingEstimate();
  }
}

void TForm1::panMainClick() {
  if (busy_) scanner_->CancelRequested = true;
  if (busy_ && rescanner_) rescanner_->CancelRequested = true;
}

// ---- Saving estimate ----

void TForm1::EstimateListedSavings() {
  if (!estimating_ || estimateCancelled_ || busy_) return;
  std::vector<const FolderRec*> listed;
  listed.reserve(model_->Rows().Rows.size());
  for (const ResultRow& row : model_->Rows().Rows) listed.push_back(row.Rec);
  if (subtree_->NeedsEveryEstimate()) {
    // Subtree figures add up every folder's saving, listed or not.
    listed.clear();
    for (const FolderRec& rec : folders_)
      if (UnzippedBytes(rec) > 0) listed.push_back(&rec);
  }
  // With the lists the scan counted by, from the folder it started at.
  estimator_->options.Root = CurrentPath;
  estimator_->Estimate(listed, scanRules_);
  SavingEstimateProgress();
}

void TForm1::StopSavingEstimate() {
  if (!estimator_->Running()) return;
  estimator_->Stop();
  SavingEstimateProgress();  // shows what came in before the stop, and takes the text away
}

void TForm1::SavingEstimateProgress() {
  subtree_->SavingsChanged(estimating_ ? &savings_ : nullptr);
  model_->SavingsChanged();
  ShowSavingInProperties();
  if (busy_) return;  // the status text is the scan's
  if (estimator_->Running()) {
    estimateStatus_ = QStringLiteral("Estimating savings: %1 of %2 folders")
                          .arg(QString::fromStdString(GroupedNumber(estimator_->Estimated())),
                               QString::fromStdString(GroupedNumber(estimator_->Listed())));
    labMsg->show();
  } else {
    labMsg->hide();
  }
  PlaceStatusText();
}

void TForm1::PlaceStatusText() {
  const int aboveBar = panBot->width() / 3;
  if (busy_ || !estimator_ || !estimator_->Running() || !labMsg->isVisible()) {
    labMsg->move(aboveBar, labMsg->y());
    return;
  }
  const int left = butHelp->geometry().right() + 16;
  const int right = (labPct->isVisible() ? labPct->x() : Gauge1->x()) - 12;
  labMsg->setText(labMsg->fontMetrics().elidedText(estimateStatus_, Qt::ElideRight, std::max(right - left, 0)));
  labMsg->adjustSize();
  labMsg->move(std::max(left, std::min(aboveBar, right - labMsg->width())), labMsg->y());
}

void TForm1::SavingEstimateSettingChanged() {
  if (settings.EstimateSavings == estimating_) return;
  estimating_ = settings.EstimateSavings;
  subtree_->SetSavingsShown(estimating_);
  if (estimating_) {
    model_->SetSavings(&savings_);
    estimateCancelled_ = false;
    EstimateListedSavings();
  } else {
    StopSavingEstimate();
    model_->SetSavings(nullptr);
  }
  ShowSavingInProperties();
}

void TForm1::PreferencesAccepted() {
  SavingEstimateSettingChanged();
  const TfrmLists::Changes changes = frmLists_->LastChanges();
  // Once the dialog has closed: a scan started from here runs the event loop itself.
  QTimer::singleShot(0, this, [this, changes] {
    // A running scan counts by the lists it started with and fills with the new minimum.
    if (busy_ || folders_.Empty()) return;
    if (changes.scanLists && !CurrentPath.empty()) {
      const QString question =
          QStringLiteral("The changed lists count the files differently from the next scan on. "
                         "Scan \"%1\" again now?")
              .arg(QFile::decodeName(QByteArray::fromStdString(CurrentPath)));
      if (interaction().AskYesNo(this, question, frmLists_->windowTitle())) {
        ScanPath(CurrentPath);
        return;
      }
    }
    if (!changes.minSize) return;
    // The rows come again from the records, the selected folder staying selected.
    const FolderRec* selected = SelectedRecord();
    model_->Clear();
    FillList();
    const std::vector<ResultRow>& rows = model_->Rows().Rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].Rec != selected) continue;
      const QModelIndex index = model_->index(static_cast<int>(i), 0);
      LView1->setCurrentIndex(index);
      LView1->scrollTo(index);
    }
    mFolderClick();
    EstimateListedSavings();
  });
}

void TForm1::ShowSavingInProperties() {
  if (!propRec_) return;
  frmProp_->Subtree()->SetSaving(subtree_->Totals().SavingOf(*propRec_), estimating_);
  frmProp_->SetSavingText(
      estimating_ ? QString::fromStdString(SavingSentence(savings_.Find(*propRec_), UnzippedBytes(*propRec_)))
                  : QString());
}

// The list's figures or filter changed, or the view switched: the rows are made again, and
// the folders the chosen view needs are estimated.
void TForm1::SubtreeListChanged() {
  if (busy_) return;
  if (!folders_.Empty()) {
    model_->Clear();
    FillList();
  }
  mFolderClick();
  EstimateListedSavings();
}

// ---- Selected row and its commands ----

const ResultRow* TForm1::SelectedRow() const {
  const QModelIndexList rows = LView1->selectionModel()->selectedRows();
  return rows.isEmpty() ? nullptr : model_->RowAt(rows.first().row());
}

const FolderRec* TForm1::SelectedRecord() const {
  if (subtree_->TreeShown()) return subtree_->SelectedRecord();
  const ResultRow* row = SelectedRow();
  return row ? row->Rec : nullptr;
}

void TForm1::mFolderClick() {
  const bool selected = SelectedRecord() != nullptr;
  for (QAction* item : {mnuFExplore, mnuFZipAll, mnuFIgnore, mnuFAddFavor, mnuFProp, mnuFRefresh, mnuFRescan})
    item->setEnabled(selected);
}

void TForm1::LView1MouseDown(const QPoint& viewportPos) {
  // The view has handled the press first, so a right press on a row selects that row.
  if (!SelectedRow()) return;
  PopupMenu1->popup(LView1->viewport()->mapToGlobal(viewportPos));
}

void TForm1::mnuExploreClick() {
  if (const FolderRec* rec = SelectedRecord()) ExploreFolder(rec->Path());
}

void TForm1::mnuPropertiesClick() {
  const FolderRec* rec = SelectedRecord();
  if (!rec) return;
  frmProp_->FillFolderInfo(*rec);
  if (const SubtreeFigures* figures = subtree_->Totals().Of(*rec))
    frmProp_->Subtree()->Fill(*figures, TodayDayNumber());
  propRec_ = rec;
  ShowSavingInProperties();
  frmProp_->show();
  frmProp_->raise();
  frmProp_->activateWindow();
}

void TForm1::mnuCopyPathClick() {
  if (const FolderRec* rec = SelectedRecord()) CopyPathToClipboard(rec->Path());
}

void TForm1::mnuIgnorePathClick() { orbelan::mnuIgnorePathClick(this, settings, SelectedRecord()); }

void TForm1::mnuAddFavorClick() { orbelan::mnuAddFavorClick(this, settings, SelectedRecord()); }

void TForm1::mnuRecycleClick() {
  if (const FolderRec* rec = SelectedRecord()) RecycleFiles(this, rec->Path());
}

void TForm1::mnuRecycleDirClick() {
  if (const FolderRec* rec = SelectedRecord())
    RecycleDirectory(this, rec->Path());
}

void TForm1::mnuZipClick() {
  if (busy_) return;
  const FolderRec* rec = SelectedRecord();
  if (!rec) return;
  // The saving the list shows for the folder, once its estimate is in.
  std::optional<std::int64_t> estimate;
  if (const SavingEstimate* known = estimating_ ? savings_.Find(*rec) : nullptr; known && known->Known)
    estimate = known->Saving;
  zip_->Start(rec->Path(), settings, estimate);
}

void TForm1::ZipFinished(const QByteArray& folderPath, bool changed) {
  SetBusy(false);
  if (changed) {
    // The new archive now counts as zipped and the originals are gone: count the folder
    // again and rebuild the rows, keeping that folder selected.
    FolderRec* zipped = nullptr;
    const std::string zippedPath = folderPath.toStdString();
    for (FolderRec& rec : folders_)  // paths are put together only where the length fits
      if (rec.PathLength() == zippedPath.size() && rec.Path() == zippedPath) zipped = &rec;
    if (zipped) {
      // Its estimate was of the files before the zip, and may be on its way: start afresh.
      StopSavingEstimate();
      savings_.Erase(*zipped);
      RecountFolder(*zipped, settings.Rules());
      model_->Clear();
      subtree_->Rebuild(folders_, estimating_ ? &savings_ : nullptr, TodayDayNumber());
      FillList();
      const std::vector<ResultRow>& rows = model_->Rows().Rows;
      for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].Rec != zipped) continue;
        const QModelIndex index = model_->index(static_cast<int>(i), 0);
        LView1->selectionModel()->select(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        LView1->scrollTo(index);
        break;
      }
    }
  }
  mFolderClick();
  if (!quitDuringScan_) EstimateListedSavings();
  if (quitDuringScan_) close();  // closed while zipping: the settings were saved then
}

// Scans the selected folder's subtree again and puts its records, figures and estimates in
// place of the old ones; the rest of the list keeps what it had (F5 still rescans it all).
void TForm1::mnuRescanFolderClick() {
  if (busy_) return;
  const FolderRec* rec = SelectedRecord();
  if (!rec) return;
  const SubtreeTotals& totals = subtree_->Totals();
  const std::int64_t first = totals.IndexOf(*rec);
  if (first == SubtreeTotals::kNone) return;
  const std::int64_t count = totals.Figures(first).NFolders;
  const std::int64_t parent = totals.Parent(first);
  const std::string path = rec->Path();
  const QString shown = QFile::decodeName(QByteArray::fromStdString(path));
  // The estimate's workers and every view read the records that are about to move.
  StopSavingEstimate();
  propRec_ = nullptr;

  FolderList fresh;
  const RescanStart start = ExamineRescanStart(path);
  bool completed = true;
  if (start == RescanStart::Folder) {
    SetBusy(true);
    labMsg->setText(QStringLiteral("   "));
    labMsg->adjustSize();
    labMsg->show();
    ProgressBar1->setValue(0);
    ProgressBar1->show();
    Scanner scanner(fresh, scanRules_, *observer_);
    scanner.SetThreads(scanThreads_);
    rescanner_ = &scanner;
    observer_->Begin();
    completed = scanner.Run(path);
    observer_->Flush();
    rescanner_ = nullptr;
    ProgressBar1->hide();
    labMsg->hide();
    SetBusy(false);
  }
  if (completed) {
    // Estimates of the folders outside the subtree still hold; the subtree's are new.
    std::vector<std::pair<std::size_t, SavingEstimate>> held;
    for (std::int64_t i = 0; i < folders_.Count(); ++i) {
      if (i >= first && i < first + count) continue;
      if (const SavingEstimate* estimate = savings_.Find(folders_[i]))
        held.emplace_back(static_cast<std::size_t>(i), *estimate);
    }
    // Nothing may point at the old records once they move.
    model_->Clear();
    subtree_->Clear();
    savings_.Clear();
    const std::vector<FolderRec*> moved = ReplaceSubtree(folders_, first, count, fresh);
    for (const auto& [i, estimate] : held) savings_.Set(*moved[i], estimate);
    // A folder that became a link or a file is now one of its parent's files.
    if (start == RescanStart::NotAFolder && parent != SubtreeTotals::kNone && moved[static_cast<std::size_t>(parent)])
      RecountFolder(*moved[static_cast<std::size_t>(parent)], scanRules_);
    subtree_->Rebuild(folders_, estimating_ ? &savings_ : nullptr, TodayDayNumber());
    FillList();
  }
  if (start == RescanStart::Gone)
    interaction().ShowMessage(this, QStringLiteral("%1 no longer exists; it is taken out of the list.").arg(shown),
                              QStringLiteral("Rescan this folder"));
  else if (start == RescanStart::NotAFolder)
    interaction().ShowMessage(this,
                              QStringLiteral("%1 is no longer a folder (a link or a file stands there now); "
                                             "it is taken out of the list.").arg(shown),
                              QStringLiteral("Rescan this folder"));
  mFolderClick();
  if (!quitDuringScan_) EstimateListedSavings();
  if (quitDuringScan_) close();
}

// ---- Other windows, help and the web ----

void TForm1::butListsClick() { frmLists_->ShowSettings(); }

void TForm1::butHelpClick() { ShowHelpContents(this); }

void TForm1::mnuWebOrbelanClick() { interaction().OpenUrl(WebPage("/support/orbelan.htm")); }

void TForm1::mnuWebKELClick() { interaction().OpenUrl(WebPage("/index.htm")); }

void TForm1::mnuAboutClick() { interaction().ExecModal(frmAbout_); }

// ---- Window events ----

void TForm1::closeEvent(QCloseEvent* event) {
  if (closeSaved_) {
    event->accept();
    return;
  }
  settings.Window = CaptureWindowPlace(this, *listBehaviour_);
  try {
    settings.SaveSettings();
  } catch (const std::exception& error) {
    interaction().ShowError(this, QString::fromStdString(error.what()) + QLatin1Char('.'));
    event->ignore();
    return;
  }
  if (busy_) {
    // The scan sees the quit at its next entry, stops, and ScanPath closes the window;
    // a zip stops unless its archive is already in place, and its end closes the window.
    quitDuringScan_ = true;
    zip_->Cancel(/*quiet=*/true);
    closeSaved_ = true;
    event->ignore();
    return;
  }
  StopSavingEstimate();
  event->accept();
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  form_resize();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  if (busy_ || !event->mimeData()->hasUrls()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  // Handled once the drop is over, so the application the folder came from is not kept
  // waiting for the whole scan.
  const QList<QUrl> urls = event->mimeData()->urls();
  QTimer::singleShot(0, this, [this, urls] {
    if (busy_) return;
    if (std::optional<std::string> path = DroppedFolder(this, urls)) ScanPath(*path);
  });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* widget = qobject_cast<QWidget*>(watched);
      if (widget && widget->window() == this)
        FormKeyPress(static_cast<QKeyEvent*>(event)->key());
      break;
    }
    case QEvent::Resize:
      if (watched == panTop) panTop_resize();
      if (watched == panBot) panBot_resize();
      if (watched == panMain) panMain_resize();
      break;
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace orbelan
