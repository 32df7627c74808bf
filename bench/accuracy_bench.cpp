// Hand-run bench of the disk saving against real zips (never a timed test).
//
//   accuracy_bench DIR [--threads N] [--small B] [--whole B] [--seed S] [--calibrate-every N] [--budget B] [--ramp B] [--large B] [--no-zip]
//   accuracy_bench DIR --bytes [--above B] [--up-to B] [--seed S] [--threads N]
//
// Every folder below DIR that has files is counted as the scan counts it and estimated as
// the program estimates it; then each is zipped with Zip folder's own code (the originals
// removed at once, as an emptied trash would) and the disk space that came back is measured:
// allocated blocks of the folder's files before and after (each inode once, and only when
// all its names are in the folder, since another name keeps its blocks), or on btrfs what
// compsize reports as disk usage (root only). It prints estimate, interval and truth of each
// folder in points of the folder's allocated bytes, then the figures of the targets per
// size class. DIR is consumed: build it with bench/accuracy_corpus.sh and remove it after.
// --no-zip prints the estimates only (for timing).
// --bytes leaves DIR as it is (a real tree such as /usr/share): it sets each folder's byte
// estimate against what the zipper's own deflate (zlib, raw, level 6, a member stored when
// it does not shrink) saves on every counted file, in points of the folder's unzipped bytes,
// for the folders of unzipped bytes in (--above, --up-to]: the sampler's accuracy without
// the file system and the archive's blocks, on trees that may not be consumed.

#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "archive/folder_zipper.h"
#include "platform/dir_reader.h"
#include "settings/settings.h"
#include "scan/counting_crew.h"
#include "estimate/disk_saving.h"
#include "scan/folder_figures.h"
#include "scan/scan_rules.h"
#include "scan/folder_list.h"
#include "estimate/saving_estimate.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr long kBtrfsMagic = 0x9123683e;

std::int64_t Arg(int argc, char** argv, const char* name, std::int64_t fallback) {
  for (int i = 2; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return std::atoll(argv[i + 1]);
  return fallback;
}

bool Flag(int argc, char** argv, const char* name) {
  for (int i = 2; i < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return true;
  return false;
}

// Every folder below root (root included), not through links.
void Folders(const std::string& folder, std::vector<std::string>& out) {
  out.push_back(folder);
  orbelan::DirReader reader;
  if (!reader.OpenPath(folder)) return;
  orbelan::DirEntry entry;
  std::vector<std::string> below;
  while (reader.Next(entry)) {
    if (!entry.Hidden() && reader.KindOf(entry) == orbelan::EntryKind::Directory) below.emplace_back(entry.NameView());
  }
  std::sort(below.begin(), below.end());
  for (const std::string& name : below) Folders(folder + name + "/", out);
}

// The folder's own regular files.
std::vector<std::string> Files(const std::string& folder) {
  std::vector<std::string> names;
  orbelan::DirReader reader;
  if (!reader.OpenPath(folder)) return names;
  orbelan::DirEntry entry;
  while (reader.Next(entry)) {
    if (reader.KindOf(entry) == orbelan::EntryKind::File) names.emplace_back(entry.NameView());
  }
  return names;
}

// What removing every file of the folder would give back: allocated blocks of each inode
// once, counted only when all of its names are in the folder.
std::int64_t Freeable(const std::string& folder) {
  struct Inode {
    std::int64_t blocks = 0;
    std::uint64_t links = 0, names = 0;
  };
  std::map<std::pair<dev_t, ino_t>, Inode> inodes;
  for (const std::string& name : Files(folder)) {
    struct stat st {};
    if (lstat((folder + name).c_str(), &st) != 0) continue;
    Inode& inode = inodes[{st.st_dev, st.st_ino}];
    inode.blocks = static_cast<std::int64_t>(st.st_blocks) * 512;
    inode.links = st.st_nlink;
    ++inode.names;
  }
  std::int64_t sum = 0;
  for (const auto& [key, inode] : inodes)
    if (inode.names >= inode.links) sum += inode.blocks;
  return sum;
}

// compsize's disk usage of the folder's files, in bytes; -1 when it cannot tell.
std::int64_t CompsizeDisk(const std::string& folder) {
  std::string command = "compsize -b";
  int files = 0;
  for (const std::string& name : Files(folder)) {
    std::string quoted = "'";
    for (char c : folder + name) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += " " + quoted + "'";
    ++files;
  }
  if (files == 0) return 0;
  command += " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char line[512];
  std::int64_t disk = -1;
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    char type[32];
    char percent[16];
    long long used = 0;
    if (std::sscanf(line, "%31s %15s %lld", type, percent, &used) == 3 && std::strcmp(type, "TOTAL") == 0) disk = used;
  }
  pclose(pipe);
  return disk;
}

bool OnBtrfs(const std::string& folder) {
  struct statfs fs {};
  return statfs(folder.c_str(), &fs) == 0 && fs.f_type == kBtrfsMagic;
}

// What the zipper saves on the folder's counted regular files: each deflated whole as
// libarchive's zip writer deflates it, stored when that does not shrink it. -1 when a file
// cannot be read whole.
std::int64_t ZipperSaving(const std::string& folder, const orbelan::ScanRules& rules) {
  orbelan::DirReader reader;
  if (!reader.OpenPath(folder)) return -1;
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return -1;
  std::vector<unsigned char> in, out(1 << 16);
  std::int64_t saving = 0;
  orbelan::DirEntry entry;
  orbelan::EntryStat stat;
  while (reader.Next(entry) && saving >= 0) {
    if (entry.Hidden() || entry.TypeIsDirectory() || !orbelan::IsUnzippedFile(entry.NameView(), rules)) continue;
    if (!reader.Stat(entry.Name, stat) || stat.Kind != orbelan::EntryKind::File || stat.Size == 0) continue;
    FILE* f = std::fopen((folder + std::string(entry.NameView())).c_str(), "rb");
    if (f == nullptr) {
      saving = -1;
      break;
    }
    in.resize(static_cast<std::size_t>(stat.Size));
    const std::size_t n = std::fread(in.data(), 1, in.size(), f);
    std::fclose(f);
    if (n != in.size()) {
      saving = -1;
      break;
    }
    deflateReset(&z);
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(n);
    std::int64_t written = 0;
    int status;
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      status = deflate(&z, Z_FINISH);
      written += static_cast<std::int64_t>(out.size() - z.avail_out);
    } while (status == Z_OK);
    saving += std::max<std::int64_t>(0, static_cast<std::int64_t>(n) - written);
  }
  deflateEnd(&z);
  return saving;
}

int Bytes(const std::string& root, const orbelan::ScanRules& rules, orbelan::EstimateOptions options, int argc,
          char** argv);

struct Row {
  std::string path;
  orbelan::FolderRec rec;
  orbelan::SavingEstimate est;
  std::int64_t truth = 0;
  std::int64_t archive = 0;  // the zip's bytes as written
  bool refused = false, failed = false, btrfs = false;
};

// Every row's folder estimated as the program estimates it, on threads workers.
void EstimateRows(std::vector<Row>& rows, const orbelan::ScanRules& rules, const orbelan::EstimateOptions& options,
                  int threads) {
  std::vector<const orbelan::FolderRec*> order;
  for (const Row& row : rows) order.push_back(&row.rec);
  std::mutex lock;
  orbelan::SavingEstimateRunner runner;
  runner.Start(order, rules, options,
               [&](std::size_t i, const orbelan::SavingEstimate& e) {
                 std::lock_guard<std::mutex> guard(lock);
                 rows[i].est = e;
               },
               threads);
  runner.Wait();
}

struct Class {
  const char* name;
  std::int64_t above, upTo;
  int n = 0, within3 = 0, covered = 0;
  double width = 0, estimated = 0, truth = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: accuracy_bench DIR [--threads N] [--small B] [--whole B] [--seed S] [--calibrate-every N] [--budget B] [--ramp B] [--large B] [--no-zip]\n");
    return 2;
  }
  std::string root = argv[1];
  if (root.back() != '/') root += '/';
  orbelan::Settings defaults;
  defaults.SetDefaults();
  defaults.IgnorePaths.Clear();
  const orbelan::ScanRules rules = defaults.Rules();
  orbelan::EstimateOptions options;
  options.Root = root;
  options.SmallLimit = Arg(argc, argv, "--small", options.SmallLimit);
  options.WholeLimit = Arg(argc, argv, "--whole", options.WholeLimit);
  options.Seed = static_cast<std::uint64_t>(Arg(argc, argv, "--seed", 1));
  options.CalibrateEvery = static_cast<int>(Arg(argc, argv, "--calibrate-every", options.CalibrateEvery));
  options.MinBudget = Arg(argc, argv, "--budget", options.MinBudget);
  options.RampBytes = Arg(argc, argv, "--ramp", options.RampBytes);
  options.LargeFrom = Arg(argc, argv, "--large", options.LargeFrom);
  const int threads = static_cast<int>(Arg(argc, argv, "--threads", 2));
  const bool zip = !Flag(argc, argv, "--no-zip");
  if (Flag(argc, argv, "--bytes")) return Bytes(root, rules, options, argc, argv);

  std::vector<std::string> paths;
  Folders(root, paths);
  std::vector<Row> rows(paths.size());
  orbelan::FileDrawer drawer(orbelan::ScanDrawLimits(options));
  orbelan::LocalDayClock clock;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    rows[i].path = paths[i];
    rows[i].rec.SetPath(paths[i]);
    orbelan::DirReader opener, counter;
    if (opener.OpenPath(paths[i]))
      orbelan::CountFolderFiles(counter, opener.Fd(), rows[i].rec, rules, clock, [] { return false; }, &drawer);
  }
  const auto start = Clock::now();
  EstimateRows(rows, rules, options, threads);
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  std::fprintf(stderr, "estimated %zu folders in %.2f s on %d threads\n", rows.size(), took, threads);

  orbelan::ZipOptions zipOptions;
  // The originals go at once, as from an emptied trash: each run's trashed files and their
  // records are deleted after it.
  std::vector<orbelan::TrashEntry> toEmpty;
  zipOptions.AfterMove = [&toEmpty](const orbelan::ZipMember&, const orbelan::TrashEntry& entry) {
    toEmpty.push_back(entry);
  };
  zipOptions.HomeFolder = "/nonexistent-home/";
  Class classes[] = {{"up to 16 KiB", -1, 16 << 10},
                     {"16 KiB-1 MiB", 16 << 10, 1 << 20},
                     {"1-8 MiB", 1 << 20, 8 << 20},
                     {"over 8 MiB", 8 << 20, INT64_MAX}};
  // arch: the zip's bytes, and how far from them the archive the estimate reckons with lies.
  std::printf("%-60s %10s %10s %7s %7s %7s %7s %6s %9s %7s\n", "folder", "unzipped", "allocated", "truth%", "est%",
              "low%", "high%", "err", "arch", "model-");
  for (Row& row : rows) {
    const std::int64_t unzipped = orbelan::UnzippedBytes(row.rec);
    if (unzipped <= 0 || row.rec.Disk.Members == 0) continue;
    if (zip) {
      row.btrfs = OnBtrfs(row.path);
      const std::int64_t before = row.btrfs ? CompsizeDisk(row.path) : Freeable(row.path);
      orbelan::FolderZipper zipper(zipOptions);
      orbelan::ZipPlan plan;
      orbelan::ZipResult result = zipper.Plan(row.path, rules, plan);
      if (result.Outcome == orbelan::ZipOutcome::Done) result = zipper.Run(plan);
      for (const orbelan::TrashEntry& entry : toEmpty) {
        ::unlink((entry.Trash + "/files/" + entry.Name).c_str());
        ::unlink((entry.Trash + "/info/" + entry.Name + ".trashinfo").c_str());
      }
      toEmpty.clear();
      if (result.Outcome == orbelan::ZipOutcome::Refused) {
        row.refused = true;  // too little would come back: the zip gives back nothing
      } else if (result.Outcome != orbelan::ZipOutcome::Done || !result.NotTrashed.empty() || !result.Changed.empty()) {
        row.failed = true;
        std::fprintf(stderr, "%s: %s\n", row.path.c_str(), result.Message.c_str());
        continue;
      } else {
        if (row.btrfs) ::sync();
        const std::int64_t after = row.btrfs ? CompsizeDisk(row.path) : Freeable(row.path);
        if (before < 0 || after < 0) {
          row.failed = true;
          continue;
        }
        row.truth = before - after;
        row.archive = result.ArchiveBytes;
      }
    }
    const orbelan::SavingEstimate& e = row.est;
    const double base = static_cast<double>(std::max<std::int64_t>(row.rec.Disk.Allocated, 1));
    auto pct = [&](std::int64_t v) { return 100.0 * static_cast<double>(v) / base; };
    const double err = pct(e.Disk) - pct(row.truth);
    const bool inside = e.DiskLow <= row.truth && row.truth <= e.DiskHigh;
    std::string shown = row.path.substr(root.size());
    if (shown.size() > 60) shown = "..." + shown.substr(shown.size() - 57);
    const orbelan::DiskUse& use = row.rec.Disk;
    const std::int64_t model = orbelan::ZipArchiveBytes(
        use.Members, use.NameBytes, std::max<std::int64_t>(use.Bytes - std::clamp<std::int64_t>(e.Saving, 0, use.Bytes), 0));
    std::printf("%-60s %10lld %10lld %7.1f %7.1f %7.1f %7.1f %6.1f %9lld %7lld %s%s%s\n", shown.c_str(),
                static_cast<long long>(unzipped), static_cast<long long>(row.rec.Disk.Allocated), pct(row.truth),
                pct(e.Disk), pct(e.DiskLow), pct(e.DiskHigh), err, static_cast<long long>(row.archive),
                static_cast<long long>(row.archive > 0 ? model - row.archive : 0), zip && !inside ? "OUTSIDE " : "",
                row.refused ? "refused " : "", row.btrfs ? "btrfs" : "");
    if (!zip) continue;
    for (Class& c : classes) {
      if (unzipped <= c.above || unzipped > c.upTo) continue;
      ++c.n;
      if (std::fabs(err) <= 3.0) ++c.within3;
      if (inside) ++c.covered;
      c.width += pct(e.DiskHigh) - pct(e.DiskLow);
      c.estimated += static_cast<double>(e.Disk);
      c.truth += static_cast<double>(row.truth);
    }
  }
  if (!zip) return 0;
  std::printf("\n%-14s %6s %14s %12s %12s %16s\n", "unzipped", "folders", "within 3 pts", "covered", "mean width",
              "total est/truth");
  for (const Class& c : classes) {
    if (c.n == 0) continue;
    std::printf("%-14s %6d %13.1f%% %11.1f%% %11.1f %15.2f%%\n", c.name, c.n, 100.0 * c.within3 / c.n,
                100.0 * c.covered / c.n, c.width / c.n, c.truth > 0 ? 100.0 * (c.estimated / c.truth - 1) : 0.0);
  }
  std::printf("estimate of %zu folders: %.2f s on %d threads\n", rows.size(), took, threads);
  return 0;
}

namespace {

int Bytes(const std::string& root, const orbelan::ScanRules& rules, orbelan::EstimateOptions options, int argc,
          char** argv) {
  const std::int64_t above = Arg(argc, argv, "--above", 1 << 20);
  const std::int64_t upTo = Arg(argc, argv, "--up-to", 8 << 20);
  const int threads = static_cast<int>(Arg(argc, argv, "--threads", 2));
  std::vector<std::string> paths;
  Folders(root, paths);
  std::vector<Row> rows;
  orbelan::FileDrawer drawer(orbelan::ScanDrawLimits(options));
  orbelan::LocalDayClock clock;
  for (const std::string& path : paths) {
    Row row;
    row.path = path;
    row.rec.SetPath(path);
    orbelan::DirReader opener, counter;
    if (opener.OpenPath(path))
      orbelan::CountFolderFiles(counter, opener.Fd(), row.rec, rules, clock, [] { return false; }, &drawer);
    const std::int64_t unzipped = orbelan::UnzippedBytes(row.rec);
    if (unzipped > above && unzipped <= upTo) rows.push_back(std::move(row));
  }
  EstimateRows(rows, rules, options, threads);
  std::printf("%-60s %10s %7s %7s %7s %7s %6s %8s\n", "folder", "unzipped", "truth%", "est%", "low%", "high%", "err",
              "read");
  int n = 0, within3 = 0, covered = 0;
  double width = 0, squares = 0, estimated = 0, truth = 0, read = 0;
  for (Row& row : rows) {
    const std::int64_t unzipped = orbelan::UnzippedBytes(row.rec);
    row.truth = ZipperSaving(row.path, rules);
    const orbelan::SavingEstimate& e = row.est;
    if (row.truth < 0 || !e.Known) continue;
    const double base = static_cast<double>(unzipped);
    auto pct = [&](std::int64_t v) { return 100.0 * static_cast<double>(v) / base; };
    const double err = pct(e.Saving) - pct(row.truth);
    const bool inside = e.Low <= row.truth && row.truth <= e.High;
    std::string shown = row.path.substr(root.size());
    if (shown.size() > 60) shown = "..." + shown.substr(shown.size() - 57);
    std::printf("%-60s %10lld %7.1f %7.1f %7.1f %7.1f %6.1f %8lld %s\n", shown.c_str(),
                static_cast<long long>(unzipped), pct(row.truth), pct(e.Saving), pct(e.Low), pct(e.High), err,
                static_cast<long long>(e.Sampled), inside ? "" : "OUTSIDE");
    ++n;
    within3 += std::fabs(err) <= 3.0;
    covered += inside;
    width += pct(e.High) - pct(e.Low);
    squares += err * err;
    estimated += static_cast<double>(e.Saving);
    truth += static_cast<double>(row.truth);
    read += static_cast<double>(e.Sampled);
  }
  if (n == 0) return 0;
  std::printf("\nfolders %d: within 3 points %.1f%%, covered %.1f%%, rms %.2f, mean width %.1f, total est/truth %+.2f%%, "
              "read %.1f MiB\n",
              n, 100.0 * within3 / n, 100.0 * covered / n, std::sqrt(squares / n), width / n,
              truth > 0 ? 100.0 * (estimated / truth - 1) : 0.0, read / 1048576.0);
  return 0;
}

}  // namespace
