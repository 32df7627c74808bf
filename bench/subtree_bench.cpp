// Subtree totals of a scanned tree: how long the pass over the records takes against the
// scan that made them, how long summing the savings takes, and the peak memory of it all.
// Run by hand (a tree of 100,000 folders: tools/make-tree.py --dirs 100000):
//   subtree_bench [FOLDER] [threads]
#include <sys/resource.h>

#include <chrono>
#include <fstream>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/report_format.h"
#include "cli/tree_json.h"
#include "settings/settings.h"
#include "survey/results.h"
#include "scan/folder_figures.h"
#include "scan/folder_list.h"
#include "estimate/saving_estimate.h"
#include "scan/scanner.h"
#include "survey/subtree_totals.h"

int main(int argc, char** argv) {
  using namespace orbelan;
  using Clock = std::chrono::steady_clock;
  const std::string folder = argc > 1 ? argv[1] : "/tmp/ref100k";
  const int threads = argc > 2 ? std::atoi(argv[2]) : Scanner::DefaultThreads();

  Settings settings;
  settings.SetDefaults();
  FolderList folders;
  SilentScanObserver observer;
  double scan = 0;
  {
    Scanner scanner(folders, settings.Rules(), observer);
    scanner.SetThreads(threads);
    const auto t0 = Clock::now();
    if (!scanner.Run(folder)) {
      std::fprintf(stderr, "scan of %s did not complete\n", folder.c_str());
      return 1;
    }
    scan = std::chrono::duration<double>(Clock::now() - t0).count();
  }
  std::printf("scan: %lld folders in %.3f s (%d threads)\n", static_cast<long long>(folders.Count()), scan,
              threads);

  auto peakMiB = [] {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
  };
  std::printf("peak memory after the scan: %.1f MiB\n", peakMiB());
  SubtreeTotals totals;
  double best = 1e9;
  for (int round = 0; round < 5; ++round) {
    const auto t0 = Clock::now();
    totals.Build(folders);
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  std::printf("totals: %.1f ms, %.2f%% of the scan; start folder: %lld folders, %lld files, %lld bytes\n",
              best * 1000, 100 * best / scan, static_cast<long long>(totals.Figures(0).NFolders),
              static_cast<long long>(totals.Figures(0).NFiles), static_cast<long long>(totals.Figures(0).SzFiles));

  std::printf("peak memory with the totals: %.1f MiB\n", peakMiB());
  // Every folder with a made-up estimate, as the window sums them when results arrive.
  std::vector<SavingEstimate> estimates(static_cast<std::size_t>(folders.Count()));
  for (std::int64_t i = 0; i < folders.Count(); ++i) {
    SavingEstimate& e = estimates[static_cast<std::size_t>(i)];
    const std::int64_t bytes = UnzippedBytes(folders[i]);
    e.Known = bytes > 0;
    e.Saving = bytes / 2;
    e.Low = bytes / 3;
    e.High = bytes * 2 / 3;
  }
  best = 1e9;
  for (int round = 0; round < 5; ++round) {
    const auto t0 = Clock::now();
    totals.SumSavings([&](const FolderRec& rec) {
      return &estimates[static_cast<std::size_t>(totals.IndexOf(rec))];
    });
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  std::printf("savings summed: %.1f ms\n", best * 1000);

  // What the report's two forms cost after the scan, written to /dev/null: CSV of the
  // listed rows (the rows made and sorted by path, as --csv does) against the whole tree.
  std::ofstream sink("/dev/null");
  double csv = 1e9, json = 1e9;
  for (int round = 0; round < 3; ++round) {
    auto t0 = Clock::now();
    const ResultRows rows = FillRows(folders, settings.MinSize, 1, 46000);
    sink << CsvHeader() << '\n';
    for (const ResultRow& row : rows.Rows) sink << CsvLine(*row.Rec, 46000) << '\n';
    sink.flush();
    csv = std::min(csv, std::chrono::duration<double>(Clock::now() - t0).count());
    t0 = Clock::now();
    SubtreeTotals tree;
    tree.Build(folders);
    TreeJsonOptions options;
    options.today = 46000;
    WriteTreeJson(sink, tree, options);
    sink.flush();
    json = std::min(json, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  std::printf("after the scan: CSV %.1f ms, JSON (totals included) %.1f ms; with the scan %.3f s against %.3f s (%.2fx)\n",
              csv * 1000, json * 1000, scan + csv, scan + json, (scan + json) / (scan + csv));

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak memory: %.1f MiB (records, totals and the bench's made-up estimates)\n",
              static_cast<double>(usage.ru_maxrss) / 1024.0);
  return 0;
}
