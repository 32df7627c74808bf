// The main window's controls as laid out at 96 dpi, its menus, and the rules that keep the
// banner and the status panel in place when the window is resized.

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/main_form.h"
#include "app/percent_gauge.h"
#include "app/results_model.h"
#include "app/results_view.h"
#include "app/sort_menu.h"
#include "app/folder_tree_view.h"
#include "app/subtree_views.h"
#include "ui/bevel_panel.h"
#include "ui/click_label.h"
#include "ui/face_fonts.h"
#include "ui/pictures.h"

namespace orbelan {
namespace {

constexpr int kPanTopHeight = 21;
constexpr int kPanBotHeight = 43;
const QColor kNavy(0, 0, 128);

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
  labPath->setFont(DialogSansFont(kFontPixels, true));
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
  // The list's width at the starting window size: the client width less panMain's bevels.
  listBehaviour_ = new ResultsViewBehaviour(LView1, model_, kOuterWidth - kFrameWidth - 2, this);
  connect(listBehaviour_, &ResultsViewBehaviour::propertiesRequested, this,
          &TForm1::mnuPropertiesClick);
  connect(listBehaviour_, &ResultsViewBehaviour::contextMenuRequested, this, &TForm1::LView1MouseDown);
  connect(listBehaviour_, &ResultsViewBehaviour::copyRequested, this, &TForm1::mnuCopyPathClick);
  connect(LView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &TForm1::mFolderClick);
  connect(model_, &QAbstractItemModel::modelReset, this, &TForm1::mFolderClick);
  LView1->hide();
  // The folder tree and the filter share the panel with the list.
  subtree_ = new SubtreeViews(panMain, settings.View, this);
  connect(subtree_, &SubtreeViews::listChanged, this, &TForm1::SubtreeListChanged);
  connect(subtree_, &SubtreeViews::viewSwitched, this, &TForm1::SubtreeListChanged);
  connect(subtree_, &SubtreeViews::selectionChanged, this, &TForm1::mFolderClick);
  FolderTreeView* tree = subtree_->Tree();
  connect(tree, &FolderTreeView::propertiesRequested, this, &TForm1::mnuPropertiesClick);
  connect(tree, &FolderTreeView::copyRequested, this, &TForm1::mnuCopyPathClick);
  connect(tree, &FolderTreeView::contextMenuRequested, this, [this, tree](const QPoint& pos) {
    if (subtree_->SelectedRecord()) PopupMenu1->popup(tree->viewport()->mapToGlobal(pos));
  });

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
  butLists = MakeToolButton(panBot, "butLists", pictures::ListsIcon(), "Preferences", 40);
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
  // No shortcut: Ctrl+Z is everyone's undo, and this command puts files in the trash.
  mnuFZipAll = MakeAction(mFolder, "mnuFZipAll", "&Zip folder…", QKeySequence());
  connect(mnuFZipAll, &QAction::triggered, this, &TForm1::mnuZipClick);
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
  mnuFRescan = MakeAction(mFolder, "mnuFRescan", "&Rescan this folder", QKeySequence(Qt::SHIFT | Qt::Key_F5));
  connect(mnuFRescan, &QAction::triggered, this, &TForm1::mnuRescanFolderClick);

  QMenu* mView = bar->addMenu(QStringLiteral("&View"));
  mView->setObjectName(QStringLiteral("mView"));
  sortMenu_ = new SortMenu(mView->addMenu(QStringLiteral("&Sort by")), this);
  connect(sortMenu_, &SortMenu::sortRequested, this, &TForm1::SortBy);
  sortMenu_->ShowSortColumn(SortColumn);
  mView->addSeparator();
  mnuReadable = MakeAction(mView, "mnuReadable", "&Readable sizes and ages");
  mnuReadable->setCheckable(true);
  mnuReadable->setChecked(settings.ReadableFigures);
  connect(mnuReadable, &QAction::toggled, this, &TForm1::SetReadableFigures);
  subtree_->AddViewActions(mView);

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
  // Ctrl+C in the list is the list's own key (see ResultsViewBehaviour); the menu shows it.
  QAction* mnuCopyPath =
      MakeAction(PopupMenu1, "mnuCopyPath", "&Copy path", QKeySequence(QKeySequence::Copy));
  mnuCopyPath->setShortcutContext(Qt::WidgetShortcut);
  connect(mnuCopyPath, &QAction::triggered, this, &TForm1::mnuCopyPathClick);
  QAction* mnuRecycle = MakeAction(PopupMenu1, "mnuRecycle", "&recycle files");
  connect(mnuRecycle, &QAction::triggered, this, &TForm1::mnuRecycleClick);
  mnuRecycle->setVisible(false);
  QAction* mnuRecycleDir = MakeAction(PopupMenu1, "mnuRecycleDir", "recycle &directory");
  connect(mnuRecycleDir, &QAction::triggered, this, &TForm1::mnuRecycleDirClick);
  mnuRecycleDir->setVisible(false);
  connect(MakeAction(PopupMenu1, "mnuZip", "&Zip folder…"), &QAction::triggered, this,
          &TForm1::mnuZipClick);
  connect(MakeAction(PopupMenu1, "mnuIgnorePath", "&ignore this path"), &QAction::triggered, this,
          &TForm1::mnuIgnorePathClick);
  connect(MakeAction(PopupMenu1, "mnuAddFavor", "add to &favorites"), &QAction::triggered, this,
          &TForm1::mnuAddFavorClick);
  AddSeparator(PopupMenu1, "N1");
  connect(MakeAction(PopupMenu1, "mnuProperties", "&properties"), &QAction::triggered, this,
          &TForm1::mnuPropertiesClick);
  connect(MakeAction(PopupMenu1, "mnuRefresh", "re&fresh list "), &QAction::triggered, this,
          &TForm1::mnuRefreshClick);
  connect(MakeAction(PopupMenu1, "mnuRescan", "&Rescan this folder"), &QAction::triggered, this,
          &TForm1::mnuRescanFolderClick);
}

void TForm1::form_resize() {
  if (width() < kOuterMinWidth - kFrameWidth) resize(kOuterMinWidth - kFrameWidth, height());
}

void TForm1::panTop_resize() { labPath->resize(panTop->width() - 8, labPath->height()); }

void TForm1::panBot_resize() {
  const int w = panBot->width();
  const int t = w / 3;
  ProgressBar1->move(t, ProgressBar1->y());
  ProgressBar1->resize(w / 4, ProgressBar1->height());
  labPct->move(2 * t, labPct->y());
  Gauge1->resize(w / 7, Gauge1->height());
  Gauge1->move(w - Gauge1->width() - 12, Gauge1->y());
  PlaceStatusText();
}

void TForm1::panMain_resize() { subtree_->Place(panMain->rect().adjusted(1, 1, -1, -1), LView1); }

}  // namespace orbelan
