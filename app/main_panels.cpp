#include "app/main_panels.h"

#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "app/folder_tree_view.h"
#include "app/main_form.h"
#include "app/percent_gauge.h"
#include "app/results_model.h"
#include "app/results_view.h"
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
  button->setFocusPolicy(Qt::TabFocus);  // Tab reaches it, Space presses it
  button->setAccessibleName(QLatin1String(hint));
  return button;
}

}  // namespace

void MainPanels::Build(QMainWindow* window, QObject* resizeWatcher, ViewChoices& view) {
  auto* central = new QWidget(window);
  central->setObjectName(QStringLiteral("ClientArea"));
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  window->setCentralWidget(central);

  panTop = new BevelPanel(central);
  panTop->setObjectName(QStringLiteral("panTop"));
  panTop->SetFaceColor(kNavy);
  panTop->SetBevels(BevelPanel::Bevel::Raised, BevelPanel::Bevel::None, 1);
  panTop->setFixedHeight(kPanTopHeight);
  panTop->installEventFilter(resizeWatcher);
  labPath = new ClickLabel(panTop);
  labPath->setObjectName(QStringLiteral("labPath"));
  labPath->setGeometry(3, 3, 582, 16);
  labPath->setAlignment(Qt::AlignCenter);
  labPath->setFont(DialogSansFont(TForm1::kFontPixels, true));
  QPalette bannerColours = labPath->palette();
  bannerColours.setColor(QPalette::WindowText, Qt::white);
  labPath->setPalette(bannerColours);
  labPath->setText(QStringLiteral("Click here to select a path."));
  labPath->setCursor(Qt::PointingHandCursor);
  labPath->setToolTip(QStringLiteral("Choose a folder to scan"));
  labPath->setFocusPolicy(Qt::StrongFocus);  // a link: Tab reaches it, Enter or Space follows it
  labPath->setAccessibleName(QStringLiteral("Choose a folder to scan"));

  panMain = new BevelPanel(central);
  panMain->setObjectName(QStringLiteral("panMain"));
  panMain->SetBevels(BevelPanel::Bevel::Raised, BevelPanel::Bevel::None, 1);
  panMain->installEventFilter(resizeWatcher);

  LView1 = new QTreeView(panMain);
  LView1->setObjectName(QStringLiteral("LView1"));
  model = new ResultsModel(window);
  LView1->setModel(model);
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
  listBehaviour = new ResultsViewBehaviour(LView1, model, window);
  LView1->hide();
  // The folder tree and the filter share the panel with the list.
  subtree = new SubtreeViews(panMain, view, window);

  panBot = new BevelPanel(central);
  panBot->setObjectName(QStringLiteral("panBot"));
  panBot->SetBevels(BevelPanel::Bevel::Raised, BevelPanel::Bevel::None, 1);
  panBot->setFixedHeight(kPanBotHeight);
  panBot->installEventFilter(resizeWatcher);

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

  ProgressBar1 = new QProgressBar(panBot);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setGeometry(192, 21, 201, 16);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->hide();

  layout->addWidget(panTop);
  layout->addWidget(panMain, 1);
  layout->addWidget(panBot);

  // Tab goes as the eye does: the banner, the filter, the list or the tree, the buttons
  // (hidden ones are passed over).
  QWidget* chain[] = {labPath, panMain->findChild<QWidget*>(QStringLiteral("edFilter")), LView1,
                      subtree->Tree(), butExit, butLists, butHelp};
  QWidget* previous = nullptr;
  for (QWidget* next : chain) {
    if (!next) continue;
    if (previous) QWidget::setTabOrder(previous, next);
    previous = next;
  }
}

void MainPanels::panTop_resize() { labPath->resize(panTop->width() - 8, labPath->height()); }

void MainPanels::panBot_resize() {
  const int w = panBot->width();
  const int t = w / 3;
  ProgressBar1->move(t, ProgressBar1->y());
  ProgressBar1->resize(w / 4, ProgressBar1->height());
  labPct->move(2 * t, labPct->y());
  Gauge1->resize(w / 7, Gauge1->height());
  Gauge1->move(w - Gauge1->width() - 12, Gauge1->y());
}

void MainPanels::panMain_resize() { subtree->Place(panMain->rect().adjusted(1, 1, -1, -1), LView1); }

void MainPanels::PlaceStatusText(const QString* estimateLine) {
  const int aboveBar = panBot->width() / 3;
  if (!estimateLine || !labMsg->isVisible()) {
    labMsg->move(aboveBar, labMsg->y());
    return;
  }
  const int left = butHelp->geometry().right() + 16;
  const int right = (labPct->isVisible() ? labPct->x() : Gauge1->x()) - 12;
  labMsg->setText(labMsg->fontMetrics().elidedText(*estimateLine, Qt::ElideRight, std::max(right - left, 0)));
  labMsg->adjustSize();
  labMsg->move(std::max(left, std::min(aboveBar, right - labMsg->width())), labMsg->y());
}

const ResultRow* MainPanels::SelectedRow() const {
  const QModelIndexList rows = LView1->selectionModel()->selectedRows();
  return rows.isEmpty() ? nullptr : model->RowAt(rows.first().row());
}

}  // namespace orbelan
