#pragma once
// The main window's three panels as laid out at 96 dpi: the path banner (panTop), the
// results list (panMain) and the status panel with its tool buttons, progress bar and gauge
// (panBot), and the rules that keep them in place when the window is resized. The window
// connects the controls to its handlers; the panels only own where things are.

#include <QString>

class QLabel;
class QMainWindow;
class QObject;
class QProgressBar;
class QToolButton;
class QTreeView;

namespace orbelan {

class BevelPanel;
class ClickLabel;
class PercentGauge;
class ResultsModel;
class ResultsViewBehaviour;
class SubtreeViews;
struct ResultRow;
struct ViewChoices;

struct MainPanels {
  // Makes every control inside window's client area; resizeWatcher gets the panels'
  // resize events (and hands them to the *_resize rules below); view holds the tree and
  // filter choices.
  void Build(QMainWindow* window, QObject* resizeWatcher, ViewChoices& view);

  void panTop_resize();
  void panBot_resize();
  void panMain_resize();
  // The status text: above the progress bar (estimateLine null: a scan or a zip, or
  // nothing running), or for the estimate's longer line after the buttons, ending before
  // "% Zipped:", elided to fit.
  void PlaceStatusText(const QString* estimateLine);
  // The selected row of LView1, or nullptr without a selection.
  const ResultRow* SelectedRow() const;

  BevelPanel* panTop = nullptr;
  ClickLabel* labPath = nullptr;
  BevelPanel* panMain = nullptr;
  QTreeView* LView1 = nullptr;
  ResultsModel* model = nullptr;
  ResultsViewBehaviour* listBehaviour = nullptr;
  SubtreeViews* subtree = nullptr;  // the folder tree and the filter, beside the list
  BevelPanel* panBot = nullptr;
  QLabel* labMsg = nullptr;
  QLabel* labPct = nullptr;
  PercentGauge* Gauge1 = nullptr;
  QToolButton* butExit = nullptr;
  QToolButton* butLists = nullptr;
  QToolButton* butHelp = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
};

}  // namespace orbelan
