// Hand-run benchmark: how long the main window takes to fill the Saving column of a tree,
// against the time orbelan-report --estimate takes for the same tree (warm cache, rounds
// alternating). The report's estimate time is its --estimate run less its plain run; the
// window's is from the end of its scan to the estimator's last result.
//
// Usage: window_estimate_bench [--tree | --subtree-rows] [--sort N] [--readable] [--maximized] TREE [ROUNDS]
// (offscreen unless QT_QPA_PLATFORM says else). With --tree or --subtree-rows the window
// estimates every folder, as `orbelan-report --subtree --estimate` does, and is measured
// against that; --sort gives the window's and the report's order (7 or -7: by Saving).

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/gui_saving_estimator.h"
#include "app/main_form.h"
#include "app/results_model.h"
#include "app/subtree_views.h"
#include "cli/report_command.h"
#include "platform/day_number.h"
#include "settings/settings.h"
#include "tests/gui/scan_wait.h"

namespace {

double Seconds(const std::chrono::steady_clock::time_point& since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Mode {
  bool tree = false, subtreeRows = false, readable = false, maximized = false;
  int sort = 1;
  bool EveryFolder() const { return tree || subtreeRows; }
};

double ReportSeconds(const std::string& tree, bool estimate, const Mode& mode) {
  orbelan::Settings settings;
  settings.SetDefaults();
  std::ofstream out("/dev/null"), err("/dev/null");
  orbelan::ReportContext context;
  context.settings = &settings;
  context.out = &out;
  context.err = &err;
  context.today = orbelan::TodayDayNumber();
  std::vector<std::string> args = {"--csv", "--sort", std::to_string(mode.sort), tree};
  if (estimate) args.insert(args.begin(), "--estimate");
  if (mode.EveryFolder()) args.insert(args.begin(), "--subtree");
  const auto start = std::chrono::steady_clock::now();
  orbelan::RunReport(args, context);
  return Seconds(start);
}

struct WindowTimes {
  double scan = 0, estimate = 0;
  long long rows = 0;
};

WindowTimes WindowSeconds(const std::string& tree, const Mode& mode) {
  QTemporaryDir dir;
  orbelan::TForm1::Options options;
  options.settingsFile = (dir.path() + "/orbelan.dat").toStdString();
  options.startSplashTimer = false;
  orbelan::TForm1 form(options);
  form.settings.EstimateSavings = true;
  form.SetReadableFigures(mode.readable);
  if (mode.maximized)
    form.showMaximized();
  else
    form.show();
  if (mode.tree) form.Subtrees()->SetTreeShown(true);
  if (mode.subtreeRows) form.Subtrees()->SetSubtreeRows(true);
  form.SortColumn = mode.sort;
  QEventLoop loop;
  QObject::connect(&form.SavingEstimatorForTests(), &orbelan::GuiSavingEstimator::Finished, &loop,
                   &QEventLoop::quit);
  WindowTimes times;
  const auto start = std::chrono::steady_clock::now();
  form.ScanPath(tree);
  orbelan::testing::WaitForScan(form, 3'600'000);  // the scan runs in the background
  times.scan = Seconds(start);
  const auto estimating = std::chrono::steady_clock::now();
  if (form.SavingEstimatorForTests().Running()) loop.exec();
  times.estimate = Seconds(estimating);
  times.rows = form.Model()->rowCount();
  form.close();  // as a user ends a run: the window hides before it goes
  QCoreApplication::processEvents();
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  Mode mode;
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--tree") mode.tree = true;
    else if (arg == "--subtree-rows") mode.subtreeRows = true;
    else if (arg == "--readable") mode.readable = true;
    else if (arg == "--maximized") mode.maximized = true;
    else if (arg == "--sort" && i + 1 < argc) mode.sort = std::atoi(argv[++i]);
    else rest.push_back(arg);
  }
  if (rest.empty()) {
    std::fprintf(stderr, "usage: window_estimate_bench [--tree | --subtree-rows] [--sort N] [--readable] [--maximized] TREE [ROUNDS]\n");
    return 2;
  }
  std::string tree = rest[0];
  if (tree.back() != '/') tree.push_back('/');
  const int rounds = rest.size() > 1 ? std::max(1, std::atoi(rest[1].c_str())) : 3;
  std::vector<double> report, window, scans, reportTotal, windowTotal;
  long long rows = 0;
  ReportSeconds(tree, false, mode);  // warms the cache
  for (int round = 0; round < rounds; ++round) {
    const double plain = ReportSeconds(tree, false, mode);
    const double withEstimate = ReportSeconds(tree, true, mode);
    report.push_back(withEstimate - plain);
    reportTotal.push_back(withEstimate);
    const WindowTimes times = WindowSeconds(tree, mode);
    window.push_back(times.estimate);
    scans.push_back(times.scan);
    windowTotal.push_back(times.scan + times.estimate);
    rows = times.rows;
    std::printf("round %d: report estimate %.2f s (plain %.2f s, with --estimate %.2f s); window scan %.2f s, "
                "estimate %.2f s\n",
                round + 1, withEstimate - plain, plain, withEstimate, times.scan, times.estimate);
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double r = median(report), w = median(window);
  std::printf("%lld listed folders; median estimate: report %.2f s, window %.2f s, ratio %.2f\n", rows, r, w,
              r > 0 ? w / r : 0.0);
  // The scan draws the small folders' files for the estimate: the whole runs, side by side.
  const double rt = median(reportTotal), wt = median(windowTotal);
  std::printf("median scan and estimate: report %.2f s, window %.2f s, ratio %.2f\n", rt, wt, rt > 0 ? wt / rt : 0.0);
  return 0;
}
