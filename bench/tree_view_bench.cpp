// The folder tree of a scanned tree: how long after the scan the tree takes to open on the
// start folder (model, view, first paint), and the slowest of opening each of the folders
// with the most subfolders. Run by hand, offscreen or on a display:
//   QT_QPA_PLATFORM=offscreen tree_view_bench [FOLDER] [folders to open]
#include <QApplication>
#include <QKeyEvent>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numeric>
#include <string>

#include "app/folder_tree_model.h"
#include "app/folder_tree_view.h"
#include "settings/settings.h"
#include "scan/folder_list.h"
#include "scan/scanner.h"
#include "survey/subtree_totals.h"

int main(int argc, char** argv) {
  using namespace orbelan;
  using Clock = std::chrono::steady_clock;
  QApplication app(argc, argv);
  const std::string folder = argc > 1 ? argv[1] : "/tmp/ref100k";
  const int opens = argc > 2 ? std::atoi(argv[2]) : 200;

  Settings settings;
  settings.SetDefaults();
  FolderList folders;
  SilentScanObserver observer;
  {
    Scanner scanner(folders, settings.Rules(), observer);
    scanner.SetThreads(Scanner::DefaultThreads());
    if (!scanner.Run(folder)) return 1;
  }

  FolderTreeModel model;
  FolderTreeView view(&model);
  view.resize(900, 600);
  SubtreeTotals totals;
  const auto t0 = Clock::now();
  totals.Build(folders);
  model.SetTotals(&totals, 46000);
  view.OpenOnStart();
  view.show();
  app.processEvents();  // lays out and paints
  const double open = std::chrono::duration<double>(Clock::now() - t0).count();
  std::printf("%lld folders: the tree opens in %.1f ms (totals included)\n",
              static_cast<long long>(folders.Count()), open * 1000);

  // The folders with the most subfolders are the dearest to open.
  std::vector<std::int64_t> order(static_cast<std::size_t>(totals.Size()));
  std::iota(order.begin(), order.end(), 0);
  std::partial_sort(order.begin(), order.begin() + std::min<std::size_t>(order.size(), opens), order.end(),
                    [&](std::int64_t a, std::int64_t b) { return totals.Children(a).size() > totals.Children(b).size(); });
  // The UI thread's own processor time as well: on a loaded machine the wall clock also
  // counts the time other processes had the core.
  auto threadCpu = [] {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  };
  double worstCpu = 0, sumCpu = 0;
  double worst = 0, sum = 0, worstModel = 0;
  std::size_t worstChildren = 0;
  const int count = std::min<int>(opens, static_cast<int>(order.size()));
  for (int i = 0; i < count; ++i) {
    const QModelIndex index = model.IndexOfRecord(order[static_cast<std::size_t>(i)]);
    const auto e0 = Clock::now();
    const double c0 = threadCpu();
    view.expand(index);
    view.scrollTo(index, QAbstractItemView::PositionAtTop);
    worstModel = std::max(worstModel, std::chrono::duration<double>(Clock::now() - e0).count());
    view.repaint();  // the opened rows drawn, as the user sees them
    app.processEvents();
    const double took = std::chrono::duration<double>(Clock::now() - e0).count();
    const double cpu = threadCpu() - c0;
    worstCpu = std::max(worstCpu, cpu);
    sumCpu += cpu;
    sum += took;
    if (took > worst) {
      worst = took;
      worstChildren = totals.Children(order[static_cast<std::size_t>(i)]).size();
    }
    view.collapse(index);
  }
  // Drawing alone: the whole view painted again with the last folder's rows in place.
  const auto p0 = Clock::now();
  constexpr int kPaints = 100;
  for (int i = 0; i < kPaints; ++i) view.viewport()->repaint();
  std::printf("drawing the view once: %.2f ms (mean of %d)\n",
              std::chrono::duration<double>(Clock::now() - p0).count() * 1000 / kPaints, kPaints);
  std::printf("opening a folder and drawing it: slowest %.2f ms (%zu subfolders), mean %.2f ms over %d folders;"
              " without drawing: slowest %.2f ms\n",
              worst * 1000, worstChildren, sum / count * 1000, count, worstModel * 1000);
  std::printf("the same in the UI thread's processor time: slowest %.2f ms, mean %.2f ms\n", worstCpu * 1000,
              sumCpu / count * 1000);

  // "*" on the start folder opens everything below it (as far as the view lets it); then
  // End and a sort, each timed to the view drawn again: the longest the event loop waits.
  auto timed = [&](const char* what, auto&& act) {
    const auto t = Clock::now();
    act();
    view.viewport()->repaint();
    app.processEvents();
    std::printf("%s: %.1f ms\n", what, std::chrono::duration<double>(Clock::now() - t).count() * 1000);
  };
  auto key = [&](int code) {
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier);
    QApplication::sendEvent(&view, &press);
  };
  view.setCurrentIndex(model.index(0, 0));
  // "all" as a third argument opens every folder as Qt itself would, for the comparison.
  if (argc > 3 && std::string(argv[3]) == "all")
    timed("every folder opened (expandRecursively)", [&] { view.expandRecursively(model.index(0, 0)); });
  else
    timed("* on the start folder", [&] { key(Qt::Key_Asterisk); });
  // The rows the view holds: every child of an open folder (a walk of the model: the view's
  // own indexBelow would search its rows linearly at each step).
  std::int64_t rows = model.rowCount();
  std::vector<QModelIndex> toVisit{model.index(0, 0)};
  while (!toVisit.empty()) {
    const QModelIndex folder = toVisit.back();
    toVisit.pop_back();
    if (!view.isExpanded(folder)) continue;
    const int children = model.rowCount(folder);
    rows += children;
    for (int r = 0; r < children; ++r) toVisit.push_back(model.index(r, 0, folder));
  }
  std::printf("rows in the view after *: %lld of %lld folders\n", static_cast<long long>(rows), static_cast<long long>(folders.Count()));
  timed("End", [&] { key(Qt::Key_End); });
  timed("Home", [&] { key(Qt::Key_Home); });
  timed("sort by Unzipped", [&] { view.sortByColumn(1, Qt::DescendingOrder); });
  timed("End after the sort", [&] { key(Qt::Key_End); });
  timed("sort by Path", [&] { view.sortByColumn(0, Qt::AscendingOrder); });
  return 0;
}
