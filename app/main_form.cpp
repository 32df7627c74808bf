#include "app/main_form.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <cstdlib>

#include "app/folder_actions.h"
#include "app/frm_prop.h"
#include "app/gui_scan_observer.h"
#include "app/help_window.h"
#include "app/interaction.h"
#include "app/percent_gauge.h"
#include "app/results_model.h"
#include "platform/day_number.h"
#include "settings/frm_fav.h"
#include "settings/frm_lists.h"
#include "settings/list_actions.h"
#include "survey/results.h"
#include "ui/about_box.h"
#include "ui/bevel_panel.h"
#include "ui/click_label.h"
#include "ui/face_fonts.h"
#include "ui/pictures.h"
#include "ui/product_info.h"
#include "ui/splash_timer.h"
#include "ui/splash_window.h"

namespace orbelan {
namespace {

constexpr int kFontHeight = 11;  // MS Sans Serif 8 point
constexpr int kPanTopHeight = 21;
constexpr int kPanBotHeight = 43;
const QColor kNavy(0, 0, 128);

QString WebPage(const char* document) {
  return QStringLiteral("http://") + QLatin1String(product::kWebHost) + QLatin1String(document);
}

QToolButton* MakeToolButton(QWidget* parent, const char* name, const QIcon& icon, const char* hint,
                            int left) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QLatin1String(name));
  button->setAutoRaise(true);
  button->setIcon(icon);
  button->setIconSize(QSize(16, 16));
  button->setToolTip(QLatin1String(hint));
  button->setGeometry(left, 8, 25, 25);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

QAction* MakeAction(QMenu* menu, const char* name, const char* caption,
                    const QKeySequence& shortcut = {}) {
  auto* action = menu->addAction(QString::fromUtf8(caption));
  action->setObjectName(QLatin1String(name));
  action->setShortcut(shortcut);
  return action;
}

void AddSeparator(QMenu* menu, const char* name) {
  menu->addSeparator()->setObjectName(QLatin1String(name));
}

}  // namespace

TForm1::TForm1() : TForm1(Options{}) {}

TForm1::TForm1(const Options& options) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Orbelan"));
  setFont(DialogSansFont(kFontHeight));
  form_create(options);
  BuildPanels();
  BuildMenus();

  observer_ = std::make_unique<GuiScanObserver>(this, labMsg, ProgressBar1,
                                                [this] { return quitDuringScan_; });
  scanner_ = std::make_unique<Scanner>(folders_, settings, *observer_);

  // The outer size is 597 x 278 with a classic frame (4-pixel borders, 19-pixel caption);
  // Qt sizes the client area, so the frame is taken off here, and off the minimum width too.
  move(102, 194);
  resize(kOuterWidth - kFrameWidth, kOuterHeight - kFrameHeight);
  setMinimumWidth(kOuterMinWidth - kFrameWidth);

  // Esc must be seen whichever control has the focus (the window's key preview).
  qApp->installEventFilter(this);

  CreateSecondaryWindows();

  if (options.startSplashTimer) Timer1 = new SplashTimer(frmSplash_, this);
}

TForm1::~TForm1() {
  qApp->removeEventFilter(this);
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

void TForm1::BuildPanels() {
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("ClientArea"));
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  setCentralWidget(central);

  panTop = new BevelPanel(central);
  panTop->setObjectName(QStringLiteral("panTop"));
  panTop->SetFaceColor(kNavy);
  panTop->SetBevels(BevelPanel::Bevel::Raised, BevelPanel::Bevel::None, 1);
  panTop->setFixedHeight(kPanTopHeight);
  panTop->installEventFilter(this);
  labPath = new ClickLabel(panTop);
  labPath->setObjectName(QStringLiteral("labPath"));
  labPath->setGeometry(3, 3, 582, 16);
  labPath->setAlignment(Qt::AlignCenter);
  labPath->setFont(DialogSansFont(kFontHeight, true));
  QPalette bannerColours = labPath->palette();
  bannerColours.setColor(QPalette::WindowText, Qt::white);
  labPath->setPalette(bannerColours);
  labPath->setText(QStringLiteral("Click here to select a path."));
  labPath->setCursor(Qt::PointingHandCursor);
  labPath->setToolTip(QStringLiteral("Choose a folder to scan"));
  connect(labPath, &ClickLabel::clicked, this, &TForm1::labPath_Click);

  panMain = new BevelPanel(central);
  panMain->setObjectName(QStringLiteral("panMain"));
  panMain->SetBevels(BevelPanel::Bevel::Raised, BevelPanel::Bevel::None, 1);
  panMain->installEventFilter(this);
  connect(panMain, &BevelPanel::clicked, this, &TForm1::panMainClick);

  LView1 = new QTreeView(panMain);
  LView1->setObjectName(QStringLiteral("LView1"));
  model_ = new ResultsModel(this);
  LView1->setModel(model_);
  LView1->setRootIsDecorated(false);
  LView1->setItemsExpandable(false);
  LView1->setUniformRowHeights(true);
  LView1->setAllColumnsShowFocus(true);
  LView1->setSortingEnabled(false);  // the order is the engine's, rebuilt on a header click
  LView1->setSelectionMode(QAbstractItemView::SingleSelection);
  LView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  LView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  LView1->setTextElideMode(Qt::ElideRight);
  LView1->setContextMenuPolicy(Qt::CustomContextMenu);
  QHeaderView* header = LView1->header();
  header->setSectionsClickable(true);
  header->setSectionsMovable(false);
  header->setStretchLastSection(false);
  header->setSortIndicatorShown(true);
  for (int c = 0; c < kColumnCount; ++c) header->resizeSection(c, ResultsModel::ColumnWidth(c));
  header->setSortIndicator(0, Qt::AscendingOrder);
  connect(header, &QHeaderView::sectionClicked, this, &TForm1::Lview1_colclick);
  connect(LView1, &QWidget::customContextMenuRequested, this, &TForm1::LView1MouseDown);
  connect(LView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &TForm1::mFolderClick);
  connect(model_, &QAbstractItemModel::modelReset, this, &TForm1::mFolderClick);
  LView1->hide();

  panBot = new BevelPanel(central);
  panBot->setObjectName(QStringLiteral("panBot"));
  panBot->SetBevels(BevelPanel::Bevel::Raised, BevelPanel::Bevel::None, 1);
  panBot->setFixedHeight(kPanBotHeight);
  panBot->installEventFilter(this);

  labMsg = new QLabel(QStringLiteral("Looking for subdirectories..."), panBot);
  labMsg->setObjectName(QStringLiteral("labMsg"));
  labMsg->move(193, 6);
  labMsg->adjustSize();
  labMsg->hide();

  labPct = new QLabel(QStringLiteral("% Zipped:"), panBot);
  labPct->setObjectName(QStringLiteral("labPct"));
  labPct->setGeometry(408, 16, 56, 13);
  labPct->hide();

  Gauge1 = new PercentGauge(panBot);
  Gauge1->setObjectName(QStringLiteral("Gauge1"));
  Gauge1->setGeometry(464, 10, 115, 25);
  Gauge1->hide();

  butExit = MakeToolButton(panBot, "butExit", pictures::ExitIcon(), "Exit the program", 8);
  butLists = MakeToolButton(panBot, "butLists", pictures::ListsIcon(), "Edit settings", 40);
  butHelp = MakeToolButton(panBot, "butHelp", pictures::HelpIcon(), "Help!", 72);
  connect(butExit, &QToolButton::clicked, this, &QWidget::close);
  connect(butLists, &QToolButton::clicked, this, &TForm1::butListsClick);
  connect(butHelp, &QToolButton::clicked, this, &TForm1::butHelpClick);

  ProgressBar1 = new QProgressBar(panBot);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setGeometry(192, 21, 201, 16);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->hide();

  layout->addWidget(panTop);
  layout->addWidget(panMain, 1);
  layout->addWidget(panBot);
}

void TForm1::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));

  QMenu* mFile = bar->addMenu(QStringLiteral("&File"));
  mFile->setObjectName(QStringLiteral("mFile"));
  connect(MakeAction(mFile, "mnuScan", "&Scan files", QKeySequence(Qt::CTRL | Qt::Key_S)),
          &QAction::triggered, this, &TForm1::labPath_Click);
  connect(MakeAction(mFile, "mnuScanFav", "Scan &favorite folder", QKeySequence(Qt::CTRL | Qt::Key_F)),
          &QAction::triggered, this, &TForm1::mnuScanFavClick);
  AddSeparator(mFile, "N4");
  connect(MakeAction(mFile, "mnuPrefs", "&Preferences", QKeySequence(Qt::CTRL | Qt::Key_P)),
          &QAction::triggered, this, &TForm1::butListsClick);
  AddSeparator(mFile, "N3");
  connect(MakeAction(mFile, "mnuQuit", "&Quit", QKeySequence(Qt::CTRL | Qt::Key_Q)),
          &QAction::triggered, this, &QWidget::close);

  mFolder = bar->addMenu(QStringLiteral("F&older"));
  mFolder->setObjectName(QStringLiteral("mFolder"));
  connect(mFolder, &QMenu::aboutToShow, this, &TForm1::mFolderClick);
  mnuFExplore = MakeAction(mFolder, "mnuFExplore", "e&xplore", QKeySequence(Qt::CTRL | Qt::Key_E));
  connect(mnuFExplore, &QAction::triggered, this, &TForm1::mnuExploreClick);
  QAction* mnuFZipAll =
      MakeAction(mFolder, "mnuFZipAll", "&zip all files", QKeySequence(Qt::CTRL | Qt::Key_Z));
  mnuFZipAll->setVisible(false);
  mnuFIgnore = MakeAction(mFolder, "mnuFIgnore", "&ignore this path", QKeySequence(Qt::CTRL | Qt::Key_I));
  connect(mnuFIgnore, &QAction::triggered, this, &TForm1::mnuIgnorePathClick);
  mnuFAddFavor =
      MakeAction(mFolder, "mnuFAddFavor", "add to &favorites", QKeySequence(Qt::CTRL | Qt::Key_A));
  connect(mnuFAddFavor, &QAction::triggered, this, &TForm1::mnuAddFavorClick);
  AddSeparator(mFolder, "N2");
  mnuFProp = MakeAction(mFolder, "mnuFProp", "&properties", QKeySequence(Qt::Key_F4));
  connect(mnuFProp, &QAction::triggered, this, &TForm1::mnuPropertiesClick);
  mnuFRefresh = MakeAction(mFolder, "mnuFRefresh", "re&fresh list", QKeySequence(Qt::Key_F5));
  connect(mnuFRefresh, &QAction::triggered, this, &TForm1::mnuRefreshClick);

  QMenu* mHelp = bar->addMenu(QStringLiteral("&Help"));
  mHelp->setObjectName(QStringLiteral("mHelp"));
  connect(MakeAction(mHelp, "mnuHelp", "&Help contents", QKeySequence(Qt::Key_F1)),
          &QAction::triggered, this, &TForm1::butHelpClick);
  connect(MakeAction(mHelp, "mnuWebOrbelan", "&Orbelan on the web"), &QAction::triggered, this,
          &TForm1::mnuWebOrbelanClick);
  connect(MakeAction(mHelp, "mnuWebKEL", "Kel Systems on the web"), &QAction::triggered, this,
          &TForm1::mnuWebKELClick);
  connect(MakeAction(mHelp, "mnuAbout", "&About"), &QAction::triggered, this, &TForm1::mnuAboutClick);

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  connect(MakeAction(PopupMenu1, "mnuExplore", "e&xplore"), &QAction::triggered, this,
          &TForm1::mnuExploreClick);
  QAction* mnuRecycle = MakeAction(PopupMenu1, "mnuRecycle", "&recycle files");
  connect(mnuRecycle, &QAction::triggered, this, &TForm1::mnuRecycleClick);
  mnuRecycle->setVisible(false);
  QAction* mnuRecycleDir = MakeAction(PopupMenu1, "mnuRecycleDir", "recycle &directory");
  connect(mnuRecycleDir, &QAction::triggered, this, &TForm1::mnuRecycleDirClick);
  mnuRecycleDir->setVisible(false);
  QAction* mnuZip = MakeAction(PopupMenu1, "mnuZip", "&zip all files");
  connect(mnuZip, &QAction::triggered, this, &TForm1::mnuZipClick);
  mnuZip->setVisible(false);
  connect(MakeAction(PopupMenu1, "mnuIgnorePath", "&ignore this path"), &QAction::triggered, this,
          &TForm1::mnuIgnorePathClick);
  connect(MakeAction(PopupMenu1, "mnuAddFavor", "add to &favorites"), &QAction::triggered, this,
          &TForm1::mnuAddFavorClick);
  AddSeparator(PopupMenu1, "N1");
  connect(MakeAction(PopupMenu1, "mnuProperties", "&properties"), &QAction::triggered, this,
          &TForm1::mnuPropertiesClick);
  connect(MakeAction(PopupMenu1, "mnuRefresh", "re&fresh list "), &QAction::triggered, this,
          &TForm1::mnuRefreshClick);
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
    labPath->setCursor(Qt::WaitCursor);
  } else {
    unsetCursor();
    panMain->unsetCursor();
    LView1->unsetCursor();
    labPath->setCursor(Qt::PointingHandCursor);
  }
}

void TForm1::ScanPath(const QString& path) {
  if (busy_) return;  // never a scan inside a scan
  LView1->hide();
  model_->Clear();
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
  labPath->setText(path);
  CurrentPath = path;

  observer_->Begin();
  // Run resets the folder list and both cancel flags, then runs the phases.
  const bool completed = scanner_->Run(path.toStdString());
  observer_->Flush();
  if (completed) FillList();

  ProgressBar1->hide();
  labMsg->hide();
  SetBusy(false);
  LView1->show();
  labPct->show();
  Gauge1->show();
  mFolderClick();

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
  model_->SetRows(FillRows(folders_, settings.MinSize, SortColumn, today), today);
  Gauge1->setValue(model_->Rows().GaugePercent);
  LView1->header()->setSortIndicator(std::abs(SortColumn) - 1,
                                      SortColumn > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);

  labMsg->hide();
  if (!wasBusy) SetBusy(false);
}

void TForm1::labPath_Click() {
  if (busy_) return;
  const QString start = CurrentPath.isEmpty() ? QString() : CurrentPath;
  std::optional<QString> chosen =
      interaction().PickFolder(this, QStringLiteral("Choose a folder to scan"), start);
  if (!chosen || chosen->isEmpty()) return;
  // The file system is case-sensitive: the chosen path is scanned as it is spelt.
  QString path = *chosen;
  if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
  ScanPath(path);
}

void TForm1::mnuRefreshClick() {
  if (busy_ || CurrentPath.isEmpty()) return;
  ScanPath(CurrentPath);
}

void TForm1::mnuScanFavClick() {
  if (busy_) return;
  if (std::optional<std::string> folder = frmFav_->Choose(settings))
    ScanPath(QString::fromStdString(*folder));
}

void TForm1::Lview1_colclick(int section) {
  if (busy_) return;
  SortColumn = NextSortColumn(SortColumn, section + 1);
  model_->Clear();
  FillList();
}

void TForm1::FormKeyPress(int key) {
  if (key == Qt::Key_Escape) scanner_->CancelRequested = true;
}

void TForm1::panMainClick() {
  if (busy_) scanner_->CancelRequested = true;
}

// ---- Selected row and its commands ----

const ResultRow* TForm1::SelectedRow() const {
  const QModelIndexList rows = LView1->selectionModel()->selectedRows();
  return rows.isEmpty() ? nullptr : model_->RowAt(rows.first().row());
}

const FolderRec* TForm1::SelectedRecord() const {
  const ResultRow* row = SelectedRow();
  return row ? row->Rec : nullptr;
}

void TForm1::mFolderClick() {
  const bool selected = SelectedRow() != nullptr;
  for (QAction* item : {mnuFExplore, mnuFIgnore, mnuFAddFavor, mnuFProp, mnuFRefresh})
    item->setEnabled(selected);
}

void TForm1::LView1MouseDown(const QPoint& viewportPos) {
  // The view has handled the press first, so a right press on a row selects that row.
  if (!SelectedRow()) return;
  PopupMenu1->popup(LView1->viewport()->mapToGlobal(viewportPos));
}

void TForm1::mnuExploreClick() {
  if (const FolderRec* rec = SelectedRecord()) ExploreFolder(QString::fromStdString(rec->Path));
}

void TForm1::mnuPropertiesClick() {
  const FolderRec* rec = SelectedRecord();
  if (!rec) return;
  frmProp_->FillFolderInfo(*rec);
  frmProp_->show();
  frmProp_->raise();
  frmProp_->activateWindow();
}

void TForm1::mnuIgnorePathClick() { orbelan::mnuIgnorePathClick(this, settings, SelectedRecord()); }

void TForm1::mnuAddFavorClick() { orbelan::mnuAddFavorClick(this, settings, SelectedRecord()); }

void TForm1::mnuRecycleClick() {
  if (const FolderRec* rec = SelectedRecord()) RecycleFiles(this, QString::fromStdString(rec->Path));
}

void TForm1::mnuRecycleDirClick() {
  if (const FolderRec* rec = SelectedRecord())
    RecycleDirectory(this, QString::fromStdString(rec->Path));
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
  try {
    settings.SaveSettings();
  } catch (const std::exception& error) {
    interaction().ShowError(this, QString::fromStdString(error.what()) + QLatin1Char('.'));
    event->ignore();
    return;
  }
  if (busy_) {
    // The scan sees the quit at its next entry, stops, and ScanPath closes the window.
    quitDuringScan_ = true;
    closeSaved_ = true;
    event->ignore();
    return;
  }
  event->accept();
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  form_resize();
}

void TForm1::form_resize() {
  if (width() < kOuterMinWidth - kFrameWidth) resize(kOuterMinWidth - kFrameWidth, height());
}

void TForm1::panTop_resize() { labPath->resize(panTop->width() - 8, labPath->height()); }

void TForm1::panBot_resize() {
  const int w = panBot->width();
  const int t = w / 3;
  ProgressBar1->move(t, ProgressBar1->y());
  labMsg->move(t, labMsg->y());
  ProgressBar1->resize(w / 4, ProgressBar1->height());
  labPct->move(2 * t, labPct->y());
  Gauge1->resize(w / 7, Gauge1->height());
  Gauge1->move(w - Gauge1->width() - 12, Gauge1->y());
}

void TForm1::panMain_resize() { LView1->setGeometry(panMain->rect().adjusted(1, 1, -1, -1)); }

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
    if (std::optional<QString> path = DroppedFolder(this, urls)) ScanPath(*path);
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
