// The scan with worker threads, at any depth and under a low open-file limit: the same
// records, order and figures as the one-thread scan, the same cancel protocol, and no folder
// lost for want of descriptors.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "cli/report_command.h"
#include "scan_tree_fixture.h"
#include "scripted_scan.h"
#include "settings/settings.h"
#include "scan/scan_rules.h"
#include "scan/folder_list.h"
#include "scan/scanner.h"

namespace orbelan {
namespace {

using testing::Scan;
using testing::ScriptedObserver;
using testing::TempTree;

using Figures = std::tuple<std::string, std::int64_t, std::int64_t, std::int64_t, std::int64_t,
                           std::int64_t, std::int64_t, double>;

std::vector<Figures> FiguresOf(const FolderList& folders) {
  std::vector<Figures> out;
  for (const FolderRec& rec : folders)
    out.emplace_back(rec.Path(), rec.NFiles, rec.NIgno, rec.NZips, rec.SzFiles, rec.SzIgno, rec.SzZips,
                     rec.Recent);
  return out;
}

void ZeroCounts(FolderRec& rec) {
  rec.NFiles = rec.NIgno = rec.NZips = rec.SzFiles = rec.SzIgno = rec.SzZips = 0;
  rec.Recent = 0;
}

// prefix followed by n (built step by step: GCC 12 warns wrongly about "x" + to_string(n)).
std::string Numbered(const char* prefix, int n) {
  std::string name = prefix;
  name += std::to_string(n);
  return name;
}

std::int64_t CountedFiles(const FolderList& folders) {
  std::int64_t files = 0;
  for (const FolderRec& rec : folders) files += rec.NFiles;
  return files;
}

// Folders at several depths holding files of every kind the scan tells apart, hard links,
// links of every sort, odd names, dot folders and empty folders.
void MakeMixedTree(const TempTree& tree) {
  const std::vector<std::string> odd = {"with space", "new\nline", std::string("bad\xff\xfe"),
                                        "-dash", " lead", "trail ", "x.zip"};
  for (int i = 0; i < 12; ++i) {
    const std::string top = Numbered("top", i);
    tree.Dir(top);
    for (int j = 0; j < 8; ++j) {
      const std::string mid = top + "/" + (j < static_cast<int>(odd.size()) ? odd[j] : Numbered("m", j));
      tree.Dir(mid);
      for (int f = 0; f < 7; ++f) {
        std::string name = mid;
        name += "/f";
        name += std::to_string(f);
        name += f % 3 == 0 ? ".zip" : f % 3 == 1 ? ".tmp" : ".txt";
        tree.File(name, 100 * f + i + j, 1'600'000'000 + 86'400LL * (i * 7 + f));
      }
      if (j % 2 == 0) tree.Dir(mid + "/leaf");
      if (j == 1) tree.File(mid + "/leaf.txt", 5);
    }
    tree.File(top + "/.hidden", 999);
    tree.Dir(top + "/.git");
    tree.File(top + "/.git/config", 50);
  }
  tree.Link("../top1/m7", "top0/to-folder");
  tree.Link("top0/f0.zip", "dangling");
  tree.Link("loop", "loop");
  tree.Link("/", "top2/to-root");
  for (int i = 0; i < 5; ++i)
    ASSERT_EQ(link(tree.PathOf("top3/m7/f2.txt").c_str(), tree.PathOf(Numbered("top4/hard", i)).c_str()), 0);
}

TEST(ScannerThreads, EveryThreadCountGivesTheRecordsOrderAndFiguresOfTheOneThreadScan) {
  TempTree tree;
  MakeMixedTree(tree);
  Scan one(1);
  one.scanner.SetRules(testing::ZipAndTmpRules());
  ASSERT_TRUE(one.scanner.Run(tree.Root()));
  const std::vector<Figures> expected = FiguresOf(one.folders);
  ASSERT_EQ(expected.size(), 1u + 12 + 96 + 48);
  ASSERT_GT(CountedFiles(one.folders), 0);

  for (int threads : {2, 3, 16}) {
    Scan many(threads);
    many.scanner.SetRules(testing::ZipAndTmpRules());
    ASSERT_TRUE(many.scanner.Run(tree.Root())) << threads;
    EXPECT_EQ(FiguresOf(many.folders), expected) << threads;
    std::vector<std::int64_t> steps(expected.size());
    for (std::size_t i = 0; i < steps.size(); ++i) steps[i] = static_cast<std::int64_t>(i + 1);
    EXPECT_EQ(many.observer.progress, steps) << "the bar moves once per finished record";
    EXPECT_EQ(many.observer.found, steps);
    EXPECT_TRUE(many.observer.notices.empty());
    EXPECT_TRUE(many.scanner.Unscanned().empty());

    // Phase 2 alone over the scan's own records, which name their parents, on workers.
    for (FolderRec& rec : many.folders) ZeroCounts(rec);
    many.scanner.ScanFiles();
    EXPECT_EQ(FiguresOf(many.folders), expected) << threads;

    // And over a list made elsewhere, whose records hold whole paths.
    for (FolderRec& rec : many.folders) rec = FolderRec(rec.Path());
    many.scanner.ScanFiles();
    EXPECT_EQ(FiguresOf(many.folders), expected) << threads;
  }
}

// Runs body in a child process (under limits or another user that must not touch this one)
// and expects it to end with status 0; body reports what went wrong on stderr.
void InChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(body());
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ScannerThreads, UnreadableFoldersAreRecordedEmptyWithAnyThreadCount) {
  TempTree tree;
  tree.Dir("open");
  tree.File("open/f", 10);
  tree.Dir("locked");
  tree.Dir("locked/below");
  tree.File("locked/f", 10);
  tree.Dir("open/half");
  tree.File("open/half/f", 10);
  ASSERT_EQ(chmod(tree.Root().c_str(), 0755), 0);
  ASSERT_EQ(chmod(tree.PathOf("locked").c_str(), 0), 0);
  ASSERT_EQ(chmod(tree.PathOf("open/half").c_str(), 0111), 0);  // enterable, not listable

  InChild([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 10;
    std::vector<Figures> expected;
    for (int threads : {1, 4}) {
      Scan scan(threads);
      if (!scan.scanner.Run(tree.Root())) return 11;
      const std::vector<std::string> paths = scan.Paths();
      if (paths.size() != 4) return 12;  // root, open, open/half, locked: nothing below locked
      const FolderRec* locked = scan.Find(tree.PathOf("locked/"));
      const FolderRec* half = scan.Find(tree.PathOf("open/half/"));
      if (locked == nullptr || locked->NFiles != 0 || half == nullptr || half->NFiles != 0) return 13;
      if (scan.Find(tree.PathOf("open/"))->NFiles != 1) return 14;
      if (!scan.scanner.Unscanned().empty()) return 15;  // unreadable is not for want of descriptors
      if (threads == 1) expected = FiguresOf(scan.folders);
      else if (FiguresOf(scan.folders) != expected) return 16;
    }
    return 0;
  });
  chmod(tree.PathOf("locked").c_str(), 0755);
  chmod(tree.PathOf("open/half").c_str(), 0755);
}

// A chain of levels folders named "d", each holding one file of its depth in bytes, with a
// side folder "s" every hundred levels, so that phase 2 climbs back up as well as down.
std::int64_t MakeDeepTree(const TempTree& tree, int levels) {
  int fd = open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::int64_t folders = 1;
  for (int i = 1; i <= levels; ++i) {
    EXPECT_EQ(mkdirat(fd, "d", 0755), 0);
    if (i % 100 == 0) {
      EXPECT_EQ(mkdirat(fd, "s", 0755), 0);
      const int side = openat(fd, "s", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      close(openat(side, "side", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
      close(side);
      ++folders;
    }
    const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = next;
    const int file = openat(fd, "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    EXPECT_EQ(ftruncate(file, i), 0);
    close(file);
    ++folders;
  }
  close(fd);
  return folders;
}

// What a deep tree's scan must give: every folder, each with its one file.
bool DeepScanIsWhole(const Scan& scan, std::int64_t folders, int levels, std::string& why) {
  if (scan.folders.Count() != folders) {
    why = "folders " + std::to_string(scan.folders.Count()) + " of " + std::to_string(folders);
    return false;
  }
  std::int64_t files = 0, bytes = 0;
  for (const FolderRec& rec : scan.folders) {
    files += rec.NFiles;
    bytes += rec.SzFiles;
  }
  const std::int64_t sides = levels / 100;
  const std::int64_t expectedBytes = static_cast<std::int64_t>(levels) * (levels + 1) / 2;
  if (files != levels + sides || bytes != expectedBytes) {
    why = "files " + std::to_string(files) + " bytes " + std::to_string(bytes);
    return false;
  }
  if (!scan.scanner.Unscanned().empty()) {
    why = "unscanned " + std::to_string(scan.scanner.Unscanned().size());
    return false;
  }
  return true;
}

TEST(ScannerThreads, AThreeThousandLevelTreeIsScannedWholeAtAnyThreadCount) {
  TempTree tree(TempTree::Place::Memory);
  constexpr int kLevels = 3000;
  const std::int64_t folders = MakeDeepTree(tree, kLevels);
  for (int threads : {1, 2}) {
    Scan scan(threads);
    ASSERT_TRUE(scan.scanner.Run(tree.Root()));
    std::string why;
    EXPECT_TRUE(DeepScanIsWhole(scan, folders, kLevels, why)) << threads << ": " << why;
    EXPECT_EQ(scan.folders.Tail()->SzFiles, kLevels);
  }
}

TEST(ScannerThreads, NoFolderIsDroppedWhenDescriptorsRunShort) {
  TempTree tree(TempTree::Place::Memory);
  constexpr int kLevels = 3000;
  const std::int64_t folders = MakeDeepTree(tree, kLevels);
  InChild([&] {
    // Far fewer descriptors than levels, hard limit too, so the scan cannot raise it.
    const rlimit limit{64, 64};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return 20;
    for (int threads : {1, 4}) {
      Scan scan(threads);
      if (!scan.scanner.Run(tree.Root())) return 21;
      std::string why;
      if (!DeepScanIsWhole(scan, folders, kLevels, why)) {
        std::fprintf(stderr, "%d threads: %s\n", threads, why.c_str());
        return 22;
      }
    }
    // The report agrees, and says nothing on stderr.
    Settings settings;
    std::ostringstream out, err;
    ReportContext context;
    context.settings = &settings;
    context.out = &out;
    context.err = &err;
    const int status = RunReport({"--threads", "3", "--csv", "--sort", "7", tree.Root()}, context);
    if (status != kReportOk || !err.str().empty()) return 23;
    return 0;
  });
}

TEST(ScannerThreads, AFolderThatNoDescriptorCanReachIsNamedAndTheReportFails) {
  TempTree tree;
  tree.Dir("sub");
  tree.File("sub/f", 10);
  tree.File("top", 20);
  InChild([&] {
    // Room for the start folder and the copy kept of it, none for a subfolder.
    const int lowest = open("/dev/null", O_RDONLY | O_CLOEXEC);
    close(lowest);
    const rlimit limit{static_cast<rlim_t>(lowest + 2), static_cast<rlim_t>(lowest + 2)};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return 30;
    Settings settings;
    std::ostringstream out, err;
    ReportContext context;
    context.settings = &settings;
    context.out = &out;
    context.err = &err;
    const int status = RunReport({"--threads", "1", "--csv", tree.Root()}, context);
    if (status != kReportIncomplete) return 31;
    if (err.str().find(tree.PathOf("sub/")) == std::string::npos) return 32;
    // With the estimate too: the rows come with their savings, and the status still fails.
    err.str("");
    if (RunReport({"--threads", "1", "--csv", "--estimate", tree.Root()}, context) != kReportIncomplete) return 33;
    if (err.str().find("folders could not be read") == std::string::npos) return 34;
    return 0;
  });
}

// Opens name below the folder fd as a folder (the caller closes it).
int OpenDir(int fd, const std::string& name) {
  return openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

void PutFile(int fd, const std::string& name, long long size) {
  const int file = openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  EXPECT_GE(file, 0) << name;
  EXPECT_EQ(ftruncate(file, size), 0);
  close(file);
}

// A chain of levels folders deeper than the phase 1 keeps a whole buffer for, named in turn
// by names that are hard on paths (not UTF-8, blanks at either end, a new line, a backslash,
// upper case, an archive's extension). Each holds files of every kind, a dot folder with a
// folder inside, and every tenth a side folder with one below it. At level 20 a folder the
// lists ignore begins a chain of its own. Returns the paths the scan must record and the
// ignored folder's path; counted is the bytes it must count.
std::vector<std::string> MakeOddChain(const TempTree& tree, int levels, std::string& ignored,
                                      std::int64_t& counted) {
  const std::vector<std::string> names = {"d", "with space", std::string("bad\xff\xfe"), "new\nline",
                                          "-dash", " lead", "trail ", "UPPER", "x.zip", "a\\b",
                                          "\xe2\x80\xa6"};
  std::vector<std::string> paths = {tree.RootSlash()};
  std::string path = tree.RootSlash();
  counted = 0;
  int fd = open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int i = 0; i <= levels; ++i) {
    PutFile(fd, "f.txt", i + 1);
    PutFile(fd, "a.zip", 7);
    PutFile(fd, "t.tmp", 3);  // ignored by extension
    PutFile(fd, std::string("odd\xff.bin"), 2);
    counted += i + 1 + 7 + 2;
    EXPECT_EQ(mkdirat(fd, ".hid", 0755), 0);
    const int hidden = OpenDir(fd, ".hid");
    EXPECT_EQ(mkdirat(hidden, "below", 0755), 0);  // below a dot folder: never recorded
    PutFile(hidden, "h", 100);
    close(hidden);
    if (i % 10 == 5) {
      EXPECT_EQ(mkdirat(fd, "side", 0755), 0);
      const int side = OpenDir(fd, "side");
      EXPECT_EQ(mkdirat(side, "deeper", 0755), 0);
      PutFile(side, "s", 1);
      counted += 1;
      close(side);
      paths.push_back(path + "side/");
      paths.push_back(path + "side/deeper/");
    }
    if (i == 20) {
      EXPECT_EQ(mkdirat(fd, "Skip Me", 0755), 0);
      ignored = path + "Skip Me/";
      int below = OpenDir(fd, "Skip Me");
      for (int k = 0; k < 80; ++k) {
        PutFile(below, "f", 1000);
        EXPECT_EQ(mkdirat(below, "d", 0755), 0);
        const int next = OpenDir(below, "d");
        close(below);
        below = next;
      }
      close(below);
    }
    if (i == levels) break;
    const std::string& name = names[static_cast<std::size_t>(i) % names.size()];
    EXPECT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
    const int next = OpenDir(fd, name);
    close(fd);
    fd = next;
    path += name + "/";
    paths.push_back(path);
  }
  close(fd);
  return paths;
}

TEST(ScannerThreads, ADeepChainOfOddNamesKeepsEveryPathAndFigureAtAnyThreadCount) {
  TempTree tree(TempTree::Place::Memory);
  constexpr int kLevels = 150;
  std::string ignored;
  std::int64_t counted = 0;
  std::vector<std::string> expectedPaths = MakeOddChain(tree, kLevels, ignored, counted);
  std::sort(expectedPaths.begin(), expectedPaths.end());

  auto prepare = [&](Scan& scan) {
    ScanRules rules = testing::ZipAndTmpRules();
    rules.IgnorePaths.Append(LowerAscii(ignored));
    scan.scanner.SetRules(rules);
  };
  Scan one(1);
  prepare(one);
  ASSERT_TRUE(one.scanner.Run(tree.Root()));
  std::vector<std::string> paths = one.Paths();
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, expectedPaths);
  std::int64_t bytes = 0;
  for (const FolderRec& rec : one.folders) bytes += rec.SzFiles;
  EXPECT_EQ(bytes, counted);
  // Each record below the start is its parent's path and one name.
  for (const FolderRec& rec : one.folders) {
    if (&rec == one.folders.Head()) {
      EXPECT_EQ(rec.Parent(), nullptr);
      continue;
    }
    ASSERT_NE(rec.Parent(), nullptr) << rec.Path();
    EXPECT_EQ(rec.Name().find('/'), std::string::npos) << rec.Path();
    EXPECT_EQ(rec.Parent()->Path() + rec.Name() + "/", rec.Path());
    EXPECT_EQ(rec.PathLength(), rec.Path().size());
  }
  const std::vector<Figures> expected = FiguresOf(one.folders);

  for (int threads : {2, 3, 16}) {
    Scan many(threads);
    prepare(many);
    ASSERT_TRUE(many.scanner.Run(tree.Root())) << threads;
    EXPECT_EQ(FiguresOf(many.folders), expected) << threads;
  }
  // Far fewer descriptors than levels: folders held open are given back and reopened by name.
  InChild([&] {
    const rlimit limit{40, 40};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return 40;
    for (int threads : {1, 4}) {
      Scan scan(threads);
      prepare(scan);
      if (!scan.scanner.Run(tree.Root())) return 41;
      if (FiguresOf(scan.folders) != expected) {
        std::fprintf(stderr, "%d threads: %zu records\n", threads, FiguresOf(scan.folders).size());
        return 42;
      }
      if (!scan.scanner.Unscanned().empty()) return 43;
    }
    return 0;
  });
}

// A tree big enough that the workers are still at it when the user answers.
void MakeBusyTree(const TempTree& tree, int folders, int files) {
  for (int i = 0; i < folders; ++i) {
    const std::string dir = Numbered("d", i);
    tree.Dir(dir);
    for (int f = 0; f < files; ++f) {
      std::string name = dir;
      name += "/f";
      name += std::to_string(f);
      tree.File(name, 1);
    }
  }
}

TEST(ScannerThreads, ACancelInPhaseOneWithWorkersLeavesEveryCountAtZero) {
  TempTree tree(TempTree::Place::Memory);
  MakeBusyTree(tree, 60, 40);
  Scan scan(4);
  scan.observer.onFound = [](ScriptedObserver& o) {
    if (o.found.size() == 40) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the workers count ahead
      o.scanner->CancelRequested = true;
    }
  };
  EXPECT_FALSE(scan.scanner.Run(tree.Root()));
  EXPECT_EQ(scan.observer.asks, 1);
  EXPECT_EQ(scan.observer.notices, std::vector<std::string>{"Scan for Folders"});
  EXPECT_EQ(scan.folders.Count(), 40);
  EXPECT_EQ(CountedFiles(scan.folders), 0);
  EXPECT_EQ(scan.observer.started, -1);
}

TEST(ScannerThreads, WorkersPauseWhileTheUserIsAskedAndNoLetsThemFinish) {
  TempTree tree(TempTree::Place::Memory);
  MakeBusyTree(tree, 60, 60);
  Scan one(1);
  ASSERT_TRUE(one.scanner.Run(tree.Root()));

  for (int requestInPhase : {1, 2}) {
    Scan scan(4);
    scan.observer.answers = {false};
    // In phase 1 some way into the walk; in phase 2 before its first check, since the
    // scan's thread looks in only every few milliseconds.
    scan.observer.onPump = [&](ScriptedObserver& o) {
      if (requestInPhase == 1 && o.phase == 1 && o.pumps[1] == 30) o.scanner->CancelRequested = true;
    };
    scan.observer.onStarted = [&](ScriptedObserver& o) {
      if (requestInPhase == 2) o.scanner->CancelRequested = true;
    };
    bool still = false;
    scan.observer.onAsk = [&](ScriptedObserver&) {
      // Each worker ends the entry it is at, then waits; a busy machine may take a while.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (!scan.scanner.WorkersAtRest() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (!scan.scanner.WorkersAtRest()) return;
      const std::int64_t before = CountedFiles(scan.folders);
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
      still = CountedFiles(scan.folders) == before;
    };
    EXPECT_TRUE(scan.scanner.Run(tree.Root())) << requestInPhase;
    EXPECT_EQ(scan.observer.asks, 1) << requestInPhase;
    EXPECT_TRUE(still) << "counted while asking, phase " << requestInPhase;
    EXPECT_TRUE(scan.observer.notices.empty());
    EXPECT_EQ(FiguresOf(scan.folders), FiguresOf(one.folders)) << requestInPhase;
  }
}

TEST(ScannerThreads, YesInPhaseTwoStopsEveryWorkerAndKeepsWhatTheyGathered) {
  TempTree tree(TempTree::Place::Memory);
  constexpr int kFolders = 200, kFiles = 40, kThreads = 4;
  MakeBusyTree(tree, kFolders, kFiles);
  for (const bool quit : {false, true}) {
    Scan scan(kThreads);
    scan.observer.onStarted = [&](ScriptedObserver& o) {
      if (quit) o.quit = true; else o.scanner->CancelRequested = true;
    };
    EXPECT_FALSE(scan.scanner.Run(tree.Root()));
    EXPECT_EQ(scan.observer.asks, quit ? 0 : 1);
    EXPECT_EQ(scan.observer.notices, std::vector<std::string>{"Scan all Files"});
    ASSERT_EQ(scan.folders.Count(), kFolders + 1);
    // Complete, untouched, or cut short by the stop: at most one of those per worker.
    int partial = 0;
    for (const FolderRec& rec : scan.folders)
      if (rec.NFiles != 0 && rec.NFiles != kFiles) ++partial;
    EXPECT_LE(partial, kThreads);
    // The bar never went past what was finished, one step at a time.
    for (std::size_t i = 0; i < scan.observer.progress.size(); ++i)
      EXPECT_EQ(scan.observer.progress[i], static_cast<std::int64_t>(i + 1));
    // Stopped means stopped: nothing moves once Run has returned.
    const std::int64_t after = CountedFiles(scan.folders);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(CountedFiles(scan.folders), after);
  }
}

TEST(ScannerThreads, FoldersSwappedRemovedOrRenamedDuringTheScanCountNothingOutsideTheTree) {
  for (int when : {1, 2}) {
    TempTree tree(TempTree::Place::Memory);
    MakeBusyTree(tree, 30, 20);
    tree.Dir("d3/below");
    tree.File("d3/below/f", 1);
    TempTree outside(TempTree::Place::Memory);  // on the same file system: renamed out
    Scan scan(4);
    auto meddle = [&] {
      ASSERT_EQ(rename(tree.PathOf("d3").c_str(), outside.PathOf("d3").c_str()), 0);
      tree.Link("/", "d3");                          // swapped for a link to /
      tree.Remove("d5");                             // removed
      ASSERT_EQ(rename(tree.PathOf("d7").c_str(), tree.PathOf("d7-renamed").c_str()), 0);
    };
    if (when == 1) {
      scan.observer.onFound = [&](ScriptedObserver& o) {
        if (o.found.size() == 2) meddle();
      };
    } else {
      scan.observer.onStarted = [&](ScriptedObserver&) { meddle(); };
    }
    EXPECT_TRUE(scan.scanner.Run(tree.Root()));
    for (const FolderRec& rec : scan.folders) {
      EXPECT_EQ(rec.Path().rfind(tree.RootSlash(), 0), 0u) << rec.Path();
      EXPECT_LE(rec.NFiles, 20) << rec.Path();
    }
    EXPECT_LE(CountedFiles(scan.folders), 30 * 20 + 1);
    if (const FolderRec* below = scan.Find(tree.PathOf("d3/below/"))) {
      EXPECT_LE(below->NFiles, 1);
    }
  }
}

TEST(ScannerThreads, IgnoredPathsApplyHoweverTheStartIsTyped) {
  TempTree tree;
  tree.Dir("t2");
  tree.Dir("t2/keep");
  tree.Dir("t2/skip");
  tree.Dir("t2/skip/below");
  const int saved = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(chdir(tree.Root().c_str()), 0);
  const char* oldPwd = std::getenv("PWD");
  const std::string keepPwd = oldPwd ? oldPwd : "";
  setenv("PWD", tree.Root().c_str(), 1);
  for (const char* typed : {"t2", "./t2", "t2//", "t2/../t2/."}) {
    Scan scan(2);
    ScanRules rules;
    rules.IgnorePaths.Append(LowerAscii(tree.PathOf("t2/skip/")));
    scan.scanner.SetRules(rules);
    ASSERT_TRUE(scan.scanner.Run(typed)) << typed;
    std::vector<std::string> paths = scan.Paths();
    EXPECT_EQ(paths, (std::vector<std::string>{tree.PathOf("t2/"), tree.PathOf("t2/keep/")})) << typed;
  }
  EXPECT_EQ(fchdir(saved), 0);
  close(saved);
  if (oldPwd) setenv("PWD", keepPwd.c_str(), 1); else unsetenv("PWD");
}

}  // namespace
}  // namespace orbelan
