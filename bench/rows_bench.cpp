// Builds and sorts the results rows of 1,000,000 synthetic folder records, once per
// sort column in both directions, and prints how long each fill took (wall clock and
// CPU time, since the machine may be shared). Run by hand:
//   rows_bench [records]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

#include "scan/scan_rules.h"
#include "scan/folder_list.h"
#include "survey/results.h"

int main(int argc, char** argv) {
  using namespace orbelan;
  using Clock = std::chrono::steady_clock;
  const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000000;

  ScanRules settings;
  FolderList folders;
  std::mt19937_64 rng(42);
  const double today = 46000;
  const auto start = Clock::now();
  for (long i = 0; i < count; ++i) {
    // A tree of plausible depth: shared prefixes make path comparisons do real work.
    std::string path = "/home/User/Projects/p" + std::to_string(i / 1000) + "/Src/m" +
                       std::to_string(i % 1000) + "/";
    folders.AddFolder(path, settings);
    FolderRec& rec = *folders.Tail();
    rec.SzFiles = static_cast<std::int64_t>(rng() % (std::uint64_t{1} << 34));
    rec.SzZips = rng() % 4 == 0 ? static_cast<std::int64_t>(rng() % (rec.SzFiles + 1)) : 0;
    rec.NFiles = 1 + static_cast<std::int64_t>(rng() % 500);
    rec.Recent = today - static_cast<double>(rng() % 5000) + 0.5;
  }
  const double made = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("%ld records made in %.3f s\n", count, made);

  for (int column = 1; column <= kColumnCount; ++column) {
    for (int sortColumn : {column, -column}) {
      const auto t0 = Clock::now();
      const std::clock_t c0 = std::clock();
      ResultRows rows = FillRows(folders, 0, sortColumn, today);
      const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
      const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
      std::printf("sort column %2d: %zu rows, gauge %d%%, %.3f s (%.3f s of CPU)\n", sortColumn,
                  rows.Rows.size(), rows.GaugePercent, wall, cpu);
    }
  }
  return 0;
}
