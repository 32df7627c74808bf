// The main window's run state, its entry points and handlers, and its window events.

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
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include "app/folder_actions.h"
#include "app/folder_commands.h"
#include "app/gui_saving_estimator.h"
#include "app/results_model.h"
#include "app/results_view.h"
#include "app/scan_control.h"
#include "app/sort_menu.h"
#include "app/folder_tree_view.h"
#include "app/subtree_views.h"
#include "app/window_place.h"
#include "dialogs/frm_fav.h"
#include "dialogs/frm_lists.h"
#include "dialogs/frm_prop.h"
#include "dialogs/help_window.h"
#include "survey/results.h"
#include "ui/about_box.h"
#include "ui/bevel_panel.h"
#include "ui/click_label.h"
#include "ui/face_fonts.h"
#include "ui/interaction.h"
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
  panels_.Build(this, this, settings.View);
  menus_.Build(*this);
  scan_ = std::make_unique<ScanControl>(*this, panels_, options.scanThreads);
  commands_ = std::make_unique<FolderCommands>(*this, panels_, *scan_);
  ConnectControls();

  // The outer size is 597 x 278 with a classic frame (4-pixel borders, 19-pixel caption);
  // Qt sizes the client area, so the frame is taken off here, and off the minimum width too.
  move(102, 194);
  resize(kOuterWidth - kFrameWidth, kOuterHeight - kFrameHeight);
  setMinimumWidth(kOuterMinWidth - kFrameWidth);

  // Esc must be seen whichever control has the focus (the window's key preview).
  qApp->installEventFilter(this);

  CreateSecondaryWindows();
  // However wide the number columns grow, the window leaves room for all of them.
  connect(panels_.listBehaviour, &ResultsViewBehaviour::requiredWidthChanged, this, &TForm1::KeepColumnsInView);
  panels_.listBehaviour->FitNumberColumns();  // every caption whole from the start
  if (settings.Window.Known)
    RestoreWindowPlace(this, *panels_.listBehaviour, settings.Window);  // where the last run left it
  else
    PlaceAtFirstStart(this, *panels_.listBehaviour, kListMargin, QSize(kFrameWidth, kFrameHeight));
  connect(frmLists_, &QDialog::accepted, this, &TForm1::PreferencesAccepted);

  if (options.startSplashTimer) Timer1 = new SplashTimer(frmSplash_, this);
}

TForm1::~TForm1() {
  qApp->removeEventFilter(this);
  // The workers read the records: stop them before anything goes.
  scan_->Estimator().Stop();
  // The rows and the tree's totals refer to the session's records; drop them first (the
  // base class lays out a shown tree again as it hides it, after the session went).
  panels_.model->Clear();
  panels_.subtree->Clear();
}

void TForm1::form_create(const Options& options) {
  settings.SetProgramDir(QCoreApplication::applicationFilePath().toStdString());
  if (options.settingsFile) settings.FileName = *options.settingsFile;
  CurrentPath.clear();
  SortColumn = 1;
  settings.LoadSettings();
  setAcceptDrops(true);
}

void TForm1::ConnectControls() {
  connect(panels_.labPath, &ClickLabel::clicked, this, &TForm1::labPath_Click);
  connect(panels_.panMain, &BevelPanel::clicked, this, &TForm1::panMainClick);
  connect(panels_.LView1->header(), &QHeaderView::sectionClicked, this, &TForm1::Lview1_colclick);
  connect(panels_.LView1, &QWidget::customContextMenuRequested, this, &TForm1::LView1MouseDown);
  ResultsViewBehaviour* list = panels_.listBehaviour;
  connect(list, &ResultsViewBehaviour::propertiesRequested, this, &TForm1::mnuPropertiesClick);
  connect(list, &ResultsViewBehaviour::contextMenuRequested, this, &TForm1::LView1MouseDown);
  connect(list, &ResultsViewBehaviour::copyRequested, this, &TForm1::mnuCopyPathClick);
  connect(panels_.LView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &TForm1::mFolderClick);
  connect(panels_.model, &QAbstractItemModel::modelReset, this, &TForm1::mFolderClick);
  SubtreeViews* subtree = panels_.subtree;
  connect(subtree, &SubtreeViews::listChanged, this, &TForm1::SubtreeListChanged);
  connect(subtree, &SubtreeViews::viewSwitched, this, &TForm1::SubtreeListChanged);
  connect(subtree, &SubtreeViews::selectionChanged, this, &TForm1::mFolderClick);
  FolderTreeView* tree = subtree->Tree();
  connect(tree, &FolderTreeView::propertiesRequested, this, &TForm1::mnuPropertiesClick);
  connect(tree, &FolderTreeView::copyRequested, this, &TForm1::mnuCopyPathClick);
  connect(tree, &FolderTreeView::contextMenuRequested, this, [this, tree](const QPoint& pos) {
    if (panels_.subtree->SelectedRecord()) menus_.PopupMenu1->popup(tree->viewport()->mapToGlobal(pos));
  });
  connect(panels_.butExit, &QToolButton::clicked, this, &QWidget::close);
  connect(panels_.butLists, &QToolButton::clicked, this, &TForm1::butListsClick);
  connect(panels_.butHelp, &QToolButton::clicked, this, &TForm1::butHelpClick);
}

void TForm1::CreateSecondaryWindows() {
  frmLists_ = new TfrmLists(settings, this);
  frmProp_ = new TfrmProp(this);
  frmSplash_ = new TfrmSplash(this);
  frmAbout_ = new TfrmAbout(this);
  frmFav_ = new TfrmFav(this);
}

// ---- What the parts share ----

bool TForm1::CancelRequested() const { return scan_->CancelRequested(); }
const FolderList& TForm1::Folders() const { return scan_->Folders(); }
FolderList& TForm1::FoldersForTests() { return scan_->Folders(); }
const SavingTable& TForm1::Savings() const { return scan_->Savings(); }
const SavingEstimate* TForm1::SavingOf(const FolderRec& rec) const { return scan_->Savings().Find(rec); }
GuiSavingEstimator& TForm1::SavingEstimatorForTests() { return scan_->Estimator(); }
GuiScanObserver& TForm1::ScanObserverForTests() { return scan_->Observer(); }
FolderZipCommand* TForm1::ZipCommandForTests() const { return commands_->Zipper(); }

void TForm1::SetBusy(bool busy) {
  busy_ = busy;
  if (busy) {
    setCursor(Qt::WaitCursor);
    panels_.panMain->setCursor(Qt::WaitCursor);
    panels_.LView1->setCursor(Qt::WaitCursor);
    panels_.subtree->Tree()->setCursor(Qt::WaitCursor);
    panels_.labPath->setCursor(Qt::WaitCursor);
  } else {
    unsetCursor();
    panels_.panMain->unsetCursor();
    panels_.LView1->unsetCursor();
    panels_.subtree->Tree()->unsetCursor();
    panels_.labPath->setCursor(Qt::PointingHandCursor);
  }
  PlaceStatusText();
}

void TForm1::PlaceStatusText() {
  panels_.PlaceStatusText(busy_ || !scan_ ? nullptr : scan_->EstimateLine());
}

void TForm1::ShowSavingInProperties() {
  if (commands_) commands_->ShowSavingInProperties();
}

void TForm1::ForgetPropertiesRecord() { commands_->ForgetPropertiesRecord(); }

void TForm1::ShowSortColumn() { menus_.sortMenu->ShowSortColumn(SortColumn); }

// ---- Scan ----

void TForm1::ScanPath(const std::string& path) {
  if (busy_) return;  // never a scan inside a scan
  scan_->ScanPath(path);
}

void TForm1::ScanEnded() {
  // Closed during the scan: the settings were saved then; end now that the scan unwound.
  if (quitDuringScan_) close();
}

void TForm1::FillList() { scan_->FillList(); }

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
  panels_.model->Clear();
  scan_->FillList();
  scan_->EstimateListedSavings();
}

void TForm1::SortBy(int sortColumn) {
  if (busy_) return;
  SortColumn = sortColumn;
  ShowSortColumn();  // also before the first scan, which it will order
  panels_.model->Clear();
  scan_->FillList();
  scan_->EstimateListedSavings();
}

void TForm1::SetReadableFigures(bool readable) {
  settings.ReadableFigures = readable;
  panels_.model->SetReadableFigures(readable);
  panels_.listBehaviour->FitNumberColumns();
}

void TForm1::PreferencesAccepted() {
  scan_->SavingEstimateSettingChanged();
  const TfrmLists::Changes changes = frmLists_->LastChanges();
  // Once the dialog has closed, so the question does not come from inside its OK.
  QTimer::singleShot(0, this, [this, changes] {
    // A running scan counts by the lists it started with and fills with the new minimum.
    if (busy_ || Folders().Empty()) return;
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
    panels_.model->Clear();
    scan_->FillList();
    const std::vector<ResultRow>& rows = panels_.model->Rows().Rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].Rec != selected) continue;
      const QModelIndex index = panels_.model->index(static_cast<int>(i), 0);
      panels_.LView1->setCurrentIndex(index);
      panels_.LView1->scrollTo(index);
    }
    mFolderClick();
    scan_->EstimateListedSavings();
  });
}

void TForm1::FormKeyPress(int key) {
  if (key != Qt::Key_Escape) return;
  scan_->RequestCancel();
  commands_->CancelZip();
  scan_->CancelSavingEstimate();
}

void TForm1::panMainClick() {
  if (busy_) scan_->RequestCancel();
}

// ---- Selected row and its commands ----

const ResultRow* TForm1::SelectedRow() const { return panels_.SelectedRow(); }

const FolderRec* TForm1::SelectedRecord() const { return commands_->SelectedRecord(); }

void TForm1::mFolderClick() { menus_.EnableFolderCommands(SelectedRecord() != nullptr); }

void TForm1::SubtreeListChanged() {
  if (busy_) return;
  if (!Folders().Empty()) {
    panels_.model->Clear();
    scan_->FillList();
  }
  mFolderClick();
  scan_->EstimateListedSavings();
}

void TForm1::LView1MouseDown(const QPoint& viewportPos) {
  // The view has handled the press first, so a right press on a row selects that row.
  if (!SelectedRow()) return;
  menus_.PopupMenu1->popup(panels_.LView1->viewport()->mapToGlobal(viewportPos));
}

void TForm1::mnuExploreClick() { commands_->Explore(); }
void TForm1::mnuPropertiesClick() { commands_->Properties(); }
void TForm1::mnuCopyPathClick() { commands_->CopyPath(); }
void TForm1::mnuIgnorePathClick() { commands_->IgnorePath(); }
void TForm1::mnuAddFavorClick() { commands_->AddFavor(); }
void TForm1::mnuRecycleClick() { commands_->Recycle(); }
void TForm1::mnuRecycleDirClick() { commands_->RecycleDir(); }
void TForm1::mnuZipClick() { commands_->Zip(); }
void TForm1::mnuZipSubtreeClick() { commands_->ZipSubtree(); }
void TForm1::mnuUndoZipClick() { commands_->UndoZip(); }

// Scans the selected folder's subtree again and puts its records, figures and estimates in
// place of the old ones; the rest of the list keeps what it had (F5 still rescans it all).
void TForm1::mnuRescanFolderClick() {
  if (busy_) return;
  // The scan runs in the background; its end lists the records (ScanEnded follows).
  if (const FolderRec* rec = SelectedRecord()) scan_->RescanFolder(*rec);
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
  settings.Window = CaptureWindowPlace(this, *panels_.listBehaviour);
  try {
    settings.SaveSettings();
  } catch (const std::exception& error) {
    interaction().ShowError(this, QString::fromStdString(error.what()) + QLatin1Char('.'));
    event->ignore();
    return;
  }
  if (busy_) {
    // The scan sees the quit at its next entry, stops, and its end closes the window;
    // a zip stops unless its archive is already in place, and its end closes the window.
    quitDuringScan_ = true;
    scan_->QuitScan();
    commands_->CancelZip(/*quiet=*/true);
    closeSaved_ = true;
    event->ignore();
    return;
  }
  scan_->StopSavingEstimate();
  event->accept();
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  form_resize();
}

void TForm1::KeepColumnsInView() {
  // The layout's 330 stays the floor; the number columns and a usable Path column raise it,
  // never past the screen's width.
  int least = std::max(kOuterMinWidth - kFrameWidth,
                       panels_.listBehaviour->RequiredViewWidth(ResultsViewBehaviour::kMinPathWidth) + kListMargin);
  if (const QScreen* screen = this->screen()) least = std::min(least, screen->availableGeometry().width() - kFrameWidth);
  if (least != minimumWidth()) setMinimumWidth(least);
}

void TForm1::form_resize() {
  if (width() < kOuterMinWidth - kFrameWidth) resize(kOuterMinWidth - kFrameWidth, height());
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
      if (watched == panels_.panTop) panels_.panTop_resize();
      if (watched == panels_.panBot) {
        panels_.panBot_resize();
        PlaceStatusText();
      }
      if (watched == panels_.panMain) panels_.panMain_resize();
      break;
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace orbelan
