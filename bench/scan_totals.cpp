// Hand-run: scans a folder with empty lists (nothing ignored, no archive extensions) and
// prints the totals over every record, to compare with a generated tree's manifest.
// Usage: scan_totals [--threads N] FOLDER   (default: one thread per core)

#include <cstdio>
#include <cstdlib>
#include <string>
#include <ctime>

#include "scan/scan_rules.h"
#include "scan/folder_list.h"
#include "scan/scanner.h"

namespace {

double Seconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  int threads = orbelan::Scanner::DefaultThreads();
  if (argc == 4 && std::string(argv[1]) == "--threads") {
    threads = std::atoi(argv[2]);
    argv += 2;
    argc -= 2;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s [--threads N] FOLDER\n", argv[0]);
    return 2;
  }
  orbelan::ScanRules settings;  // every list empty
  orbelan::FolderList folders;
  orbelan::SilentScanObserver observer;
  orbelan::Scanner scanner(folders, settings, observer);
  scanner.SetThreads(threads);
  const double start = Seconds();
  scanner.Run(argv[1]);
  const double elapsed = Seconds() - start;

  long long files = 0, bytes = 0, ignored = 0;
  for (const orbelan::FolderRec& rec : folders) {
    files += rec.NFiles;
    bytes += rec.SzFiles;
    ignored += rec.NIgno;
  }
  std::printf("folders %lld files %lld bytes %lld\n", static_cast<long long>(folders.Count()), files,
              bytes);
  std::fprintf(stderr, "scan %.3f s\n", elapsed);
  for (const std::string& path : scanner.Unscanned()) std::fprintf(stderr, "not read: %s\n", path.c_str());
  return ignored == 0 && scanner.Unscanned().empty() ? 0 : 1;
}
