#include "scan/scanner.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/day_number.h"
#include "scan_tree_fixture.h"
#include "scripted_scan.h"
#include "scan/scan_rules.h"
#include "scan/folder_list.h"

namespace orbelan {
namespace {

using testing::Scan;
using testing::ScriptedObserver;
using testing::TempTree;

// Entry names of a folder in the order the file system delivers them.
std::vector<std::string> ReadOrder(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  while (dirent* e = readdir(dir)) names.emplace_back(e->d_name);
  closedir(dir);
  return names;
}

TEST(Scanner, RecordsFoldersDepthFirstEachBeforeItsSubfoldersInEnumerationOrder) {
  TempTree tree;
  for (const char* d : {"a", "a/x", "a/x/deep", "a/y", "b", "c", "c/z", "Mixed Case"}) tree.Dir(d);
  tree.File("a/x/deep/f.txt", 10);

  Scan scan;
  ASSERT_TRUE(scan.scanner.Run(tree.Root()));

  // The expected pre-order, built from the file system's own sibling order.
  std::vector<std::string> expected;
  std::function<void(const std::string&)> visit = [&](const std::string& folder) {
    expected.push_back(folder);
    for (const std::string& name : ReadOrder(folder)) {
      struct stat st;
      if (name[0] == '.' || lstat((folder + name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
      visit(folder + name + "/");
    }
  };
  visit(tree.RootSlash());
  EXPECT_EQ(scan.Paths(), expected);
  EXPECT_EQ(scan.observer.found, (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(scan.observer.progress, (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(scan.observer.started, 9);
  EXPECT_TRUE(scan.observer.notices.empty());
  EXPECT_EQ(scan.Find(tree.RootSlash() + "a/x/deep/")->NFiles, 1);
}

TEST(Scanner, AFolderWithoutSubfoldersGivesOneRecordAndTheStartGetsItsSlash) {
  TempTree tree;
  tree.File("one.txt", 1500);
  tree.File("two.zip_", 600);

  Scan scan;
  ASSERT_TRUE(scan.scanner.Run(tree.Root()));  // given without a trailing "/"
  ASSERT_EQ(scan.folders.Count(), 1);
  const FolderRec& rec = *scan.folders.Head();
  EXPECT_EQ(rec.Path(), tree.RootSlash());
  EXPECT_EQ(rec.NFiles, 2);
  EXPECT_EQ(rec.SzFiles, 2100);
  EXPECT_EQ(rec.NZips, 1);  // the underscore rule
  EXPECT_EQ(rec.SzZips, 600);
  EXPECT_EQ(scan.observer.found, std::vector<std::int64_t>{1});

  Scan again;  // given with the slash: recorded the same, not doubled
  ASSERT_TRUE(again.scanner.Run(tree.RootSlash()));
  EXPECT_EQ(again.Paths(), std::vector<std::string>{tree.RootSlash()});
}

TEST(Scanner, DotFoldersAreSkippedWithTheirSubtreesAndDotFilesAreNotCounted) {
  TempTree tree;
  tree.Dir(".cache");
  tree.Dir(".cache/inner");
  tree.File(".cache/inner/big.bin", 100000);
  tree.Dir("shown");
  tree.Dir("shown/.git");
  tree.File("shown/.hidden", 700);
  tree.File("shown/visible", 300);
  tree.File("shown/name.with.dots", 5);

  Scan scan;
  ASSERT_TRUE(scan.scanner.Run(tree.Root()));
  EXPECT_EQ(scan.Paths(), (std::vector<std::string>{tree.RootSlash(), tree.RootSlash() + "shown/"}));
  const FolderRec* shown = scan.Find(tree.RootSlash() + "shown/");
  EXPECT_EQ(shown->NFiles, 2);
  EXPECT_EQ(shown->SzFiles, 305);
}

TEST(Scanner, IgnoredPathsGetNoRecordAndNothingBelowThemIsVisited) {
  TempTree tree;
  for (const char* d : {"Keep", "Skip Me", "Skip Me/below", "Keep/skip me"}) tree.Dir(d);
  tree.File("Skip Me/below/f", 10);

  Scan scan;
  // Entries are lower case; the folder's own case does not matter to the match.
  ScanRules rules;
  rules.IgnorePaths.Append(LowerAscii(tree.RootSlash() + "Skip Me/"));
  rules.IgnorePaths.Append(LowerAscii(tree.RootSlash() + "Keep"));  // no slash: no match
  scan.scanner.SetRules(rules);
  ASSERT_TRUE(scan.scanner.Run(tree.Root()));
  std::vector<std::string> paths = scan.Paths();
  std::sort(paths.begin() + 1, paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{tree.RootSlash(), tree.RootSlash() + "Keep/",
                                             tree.RootSlash() + "Keep/skip me/"}));

  Scan startIgnored;
  ScanRules ignoreStart;
  ignoreStart.IgnorePaths.Append(LowerAscii(tree.RootSlash()));
  startIgnored.scanner.SetRules(ignoreStart);
  EXPECT_TRUE(startIgnored.scanner.Run(tree.Root()));
  EXPECT_TRUE(startIgnored.folders.Empty());
  EXPECT_EQ(startIgnored.observer.started, -1);  // phase 2 has nothing to do
}

// The scanner keeps its own copy of the rules it is given: rules changed or gone after
// that (settings edited, a temporary handed in) do not reach a scan, in either phase or
// on the counting threads.
TEST(Scanner, ScansByTheRulesAsTheyWereWhenGiven) {
  TempTree tree;
  tree.Dir("Skip");
  tree.File("a.zip", 100);
  tree.File("b.tmp", 50);
  tree.File("c.txt", 10);
  for (int threads : {1, 3}) {
    FolderList folders;
    SilentScanObserver quiet;
    auto rules = std::make_unique<ScanRules>();
    rules->ZipExts.Append(".zip");
    rules->IgnoreExts.Append(".tmp");
    rules->IgnorePaths.Append(LowerAscii(tree.RootSlash() + "Skip/"));
    Scanner scanner(folders, *rules, quiet);
    scanner.SetThreads(threads);
    rules->ZipExts.Clear();
    rules->IgnorePaths.Clear();
    rules.reset();
    ASSERT_TRUE(scanner.Run(tree.Root())) << threads;
    ASSERT_EQ(folders.Count(), 1) << threads;  // Skip/ stayed out
    EXPECT_EQ(folders[0].SzZips, 100) << threads;
    EXPECT_EQ(folders[0].SzFiles, 110) << threads;
    EXPECT_EQ(folders[0].SzIgno, 50) << threads;  // the .tmp file is tallied apart
  }
}

TEST(Scanner, LinksAreFilesOfTheirOwnSizeAndAreNeverFollowed) {
  TempTree tree;
  tree.Dir("real");
  tree.File("real/data", 5000);
  tree.Dir("links");
  tree.Link("../real", "links/to-folder");        // 7 bytes
  tree.Link("../real/data", "links/to-file");     // 12 bytes
  tree.Link("nowhere/at/all", "links/dangling");  // 14 bytes
  tree.Link(".", "links/self");                   // 1 byte
  tree.Link("../..", "links/up");                 // 5 bytes
  tree.Link("loop-b", "links/loop-a");            // 6 bytes
  tree.Link("loop-a", "links/loop-b");            // 6 bytes

  Scan scan;
  ASSERT_TRUE(scan.scanner.Run(tree.Root()));
  std::vector<std::string> paths = scan.Paths();
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{tree.RootSlash(), tree.RootSlash() + "links/",
                                             tree.RootSlash() + "real/"}));
  const FolderRec* links = scan.Find(tree.RootSlash() + "links/");
  EXPECT_EQ(links->NFiles, 7);
  EXPECT_EQ(links->SzFiles, 7 + 12 + 14 + 1 + 5 + 6 + 6);
  EXPECT_EQ(scan.Find(tree.RootSlash() + "real/")->SzFiles, 5000);
}

TEST(Scanner, ScansAFolderNamedThroughALinkButNothingLinkedBelowIt) {
  TempTree tree;
  tree.Dir("target");
  tree.Dir("target/sub");
  tree.File("target/sub/f", 42);
  tree.Link("target", "start");

  Scan scan;
  ASSERT_TRUE(scan.scanner.Run(tree.PathOf("start")));
  EXPECT_EQ(scan.Paths(), (std::vector<std::string>{tree.PathOf("start/"), tree.PathOf("start/sub/")}));
  EXPECT_EQ(scan.Find(tree.PathOf("start/sub/"))->SzFiles, 42);
}

TEST(Scanner, OddNamesAreRecordedAndCountedByteForByte) {
  TempTree tree;
  const std::vector<std::string> folders = {"with space", "new\nline", std::string("bad\xff\xfe"),
                                            "-dash", "tab\there", " lead", "trail "};
  for (const std::string& d : folders) {
    tree.Dir(d);
    tree.File(d + "/-rf", 3);
    tree.File(d + "/" + std::string("f\xc3\x28\n,\"q\""), 4);
  }

  Scan scan;
  ASSERT_TRUE(scan.scanner.Run(tree.Root()));
  ASSERT_EQ(scan.folders.Count(), static_cast<std::int64_t>(folders.size() + 1));
  for (const std::string& d : folders) {
    const FolderRec* rec = scan.Find(tree.RootSlash() + d + "/");
    ASSERT_NE(rec, nullptr) << d;
    EXPECT_EQ(rec->NFiles, 2) << d;
    EXPECT_EQ(rec->SzFiles, 7) << d;
  }
}

// Makes a chain of folders whose full path is longer than PATH_MAX, through descriptors.
std::string MakeLongChain(const TempTree& tree, int levels, std::size_t nameLength) {
  std::string relative;
  int fd = open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i < levels; ++i) {
    std::string name(nameLength, static_cast<char>('a' + i % 26));
    EXPECT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
    const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    relative += name + "/";
  }
  const int file = openat(fd, "bottom.txt", O_WRONLY | O_CREAT, 0644);
  EXPECT_EQ(ftruncate(file, 1234), 0);
  close(file);
  close(fd);
  return relative;
}

TEST(Scanner, PathsLongerThanPathMaxAreRecordedWholeAndCounted) {
  TempTree tree;
  const std::string relative = MakeLongChain(tree, 24, 250);  // about 6,000 bytes

  Scan scan;
  ASSERT_TRUE(scan.scanner.Run(tree.Root()));
  ASSERT_EQ(scan.folders.Count(), 25);
  const FolderRec& deepest = *scan.folders.Tail();
  EXPECT_EQ(deepest.Path(), tree.RootSlash() + relative);
  EXPECT_GT(deepest.Path().size(), 4096u);
  EXPECT_EQ(deepest.NFiles, 1);
  EXPECT_EQ(deepest.SzFiles, 1234);

  // Phase 2 on its own, from paths alone (as after a list built elsewhere).
  for (FolderRec& rec : scan.folders) rec = FolderRec(rec.Path());
  scan.scanner.ScanFiles();
  EXPECT_EQ(scan.folders.Tail()->SzFiles, 1234);

  // A start path that is itself too long for the kernel in one piece.
  Scan fromDeep;
  ASSERT_TRUE(fromDeep.scanner.Run(deepest.Path()));
  EXPECT_EQ(fromDeep.folders.Count(), 1);
  EXPECT_EQ(fromDeep.folders.Head()->SzFiles, 1234);
}

TEST(Scanner, SizesAndSumsBeyondFourGibibytesStayExact) {
  TempTree tree;
  const long long big = 5LL * 1024 * 1024 * 1024 + 3;  // sparse: no real disk
  tree.File("huge.img", big);
  tree.File("huge.zip_", big);
  tree.File("small", 1);

  Scan scan;
  ASSERT_TRUE(scan.scanner.Run(tree.Root()));
  const FolderRec& rec = *scan.folders.Head();
  EXPECT_EQ(rec.SzFiles, 2 * big + 1);
  EXPECT_EQ(rec.SzZips, big);
}

TEST(Scanner, RecentIsTheNewestCountedFileAsALocalDayNumber) {
  TempTree tree;
  tree.Dir("odd");
  tree.File("odd/epoch", 1, 0);
  tree.File("odd/before-epoch", 1, -315619200);  // 1960
  tree.Dir("new");
  tree.File("new/old", 1, 1600000000);
  tree.File("new/newest", 1, 4102444800);  // 2100
  tree.File("new/middle", 1, 2147483648);
  tree.Dir("none");

  Scan scan;
  ASSERT_TRUE(scan.scanner.Run(tree.Root()));
  LocalDayClock clock;
  EXPECT_EQ(scan.Find(tree.PathOf("odd/"))->Recent, clock.DayNumber(0));
  EXPECT_EQ(scan.Find(tree.PathOf("new/"))->Recent, clock.DayNumber(4102444800));
  EXPECT_EQ(scan.Find(tree.PathOf("none/"))->Recent, 0.0);
}

TEST(Scanner, AFolderGoneBeforePhaseTwoKeepsZeroCountsSilently) {
  TempTree tree;
  tree.Dir("stays");
  tree.File("stays/f", 10);
  tree.Dir("goes");
  tree.Dir("goes/below");
  tree.File("goes/below/f", 10);
  tree.File("goes/f", 10);

  Scan scan;
  scan.observer.onStarted = [&](ScriptedObserver&) { tree.Remove("goes"); };
  ASSERT_TRUE(scan.scanner.Run(tree.Root()));
  EXPECT_EQ(scan.folders.Count(), 4);
  EXPECT_EQ(scan.Find(tree.PathOf("goes/"))->NFiles, 0);
  EXPECT_EQ(scan.Find(tree.PathOf("goes/below/"))->NFiles, 0);
  EXPECT_EQ(scan.Find(tree.PathOf("stays/"))->NFiles, 1);
  EXPECT_TRUE(scan.observer.notices.empty());
  EXPECT_EQ(scan.observer.progress.size(), 4u);
}

TEST(Scanner, AStartThatCannotBeReadKeepsOneRecordWithZeroCounts) {
  TempTree tree;
  tree.File("not-a-folder", 10);
  Scan scan;
  EXPECT_TRUE(scan.scanner.Run(tree.PathOf("not-a-folder")));
  EXPECT_EQ(scan.Paths(), std::vector<std::string>{tree.PathOf("not-a-folder/")});
  EXPECT_EQ(scan.folders.Head()->NFiles, 0);

  Scan missing;
  EXPECT_TRUE(missing.scanner.Run(tree.PathOf("missing")));
  EXPECT_EQ(missing.folders.Count(), 1);
}

TEST(Scanner, MessagesArePumpedAfterEveryEntryOfBothPhases) {
  TempTree tree;
  tree.File("f1", 1);
  tree.File("f2", 1);
  tree.File(".dot", 1);
  tree.Dir("sub");
  tree.File("sub/g1", 1);

  Scan scan;
  ASSERT_TRUE(scan.scanner.Run(tree.Root()));
  // Root: . .. f1 f2 .dot sub = 6 entries; sub: . .. g1 = 3 entries.
  EXPECT_EQ(scan.observer.pumps[1], 9);
  EXPECT_EQ(scan.observer.pumps[2], 9);
  EXPECT_EQ(scan.observer.asks, 0);
}

// A tree of five folders at one level, each with three files.
void MakeFlatTree(const TempTree& tree) {
  for (const char* d : {"d1", "d2", "d3", "d4", "d5"}) {
    tree.Dir(d);
    for (const char* f : {"/x", "/y", "/z"}) tree.File(std::string(d) + f, 100);
  }
}

TEST(Scanner, CancelInPhaseOneAnsweredYesKeepsTheFoldersSoFarWithZeroCounts) {
  TempTree tree;
  MakeFlatTree(tree);
  for (const char* d : {"d1/a", "d1/b", "d2/c"}) tree.Dir(d);

  Scan scan;
  scan.observer.onFound = [](ScriptedObserver& o) {
    if (o.found.size() == 3) o.scanner->CancelRequested = true;  // Escape
  };
  EXPECT_FALSE(scan.scanner.Run(tree.Root()));
  EXPECT_EQ(scan.observer.asks, 1);
  EXPECT_EQ(scan.observer.notices, std::vector<std::string>{"Scan for Folders"});  // once
  EXPECT_EQ(scan.folders.Count(), 3);  // nothing recorded after the request
  for (const FolderRec& rec : scan.folders) EXPECT_EQ(rec.NFiles, 0);
  EXPECT_EQ(scan.observer.started, -1);
  EXPECT_TRUE(scan.scanner.CancelRequested);
}

TEST(Scanner, CancelAnsweredNoGoesOnAndCompletesTheScan) {
  for (int requestInPhase : {1, 2}) {
    TempTree tree;
    MakeFlatTree(tree);
    Scan scan;
    scan.observer.answers = {false};
    scan.observer.onPump = [&](ScriptedObserver& o) {
      if (o.phase == requestInPhase && o.pumps[o.phase] == 4) o.scanner->CancelRequested = true;
    };
    EXPECT_TRUE(scan.scanner.Run(tree.Root())) << requestInPhase;
    EXPECT_EQ(scan.observer.asks, 1);
    EXPECT_TRUE(scan.observer.notices.empty());
    EXPECT_FALSE(scan.scanner.CancelRequested);
    EXPECT_FALSE(scan.scanner.CancelNoticeShown);
    ASSERT_EQ(scan.folders.Count(), 6);
    std::int64_t files = 0;
    for (const FolderRec& rec : scan.folders) files += rec.NFiles;
    EXPECT_EQ(files, 15);
  }
}

TEST(Scanner, CancelInPhaseTwoAnsweredYesLeavesPartialCounts) {
  TempTree tree;
  MakeFlatTree(tree);
  Scan scan;
  scan.observer.onProgress = [](ScriptedObserver& o) {
    if (o.progress.back() == 3) o.scanner->CancelRequested = true;
  };
  EXPECT_FALSE(scan.scanner.Run(tree.Root()));
  EXPECT_EQ(scan.observer.asks, 1);
  EXPECT_EQ(scan.observer.notices, std::vector<std::string>{"Scan all Files"});
  EXPECT_EQ(scan.observer.progress, (std::vector<std::int64_t>{1, 2, 3}));
  // Records 1 and 2 complete; record 3 stopped after its first entry; the rest untouched.
  const FolderRec* recs[6];
  for (int i = 0; i < 6; ++i) recs[i] = &scan.folders[i];
  EXPECT_EQ(recs[0]->NFiles, 0);  // the root holds only folders
  EXPECT_EQ(recs[1]->NFiles, 3);
  EXPECT_LE(recs[2]->NFiles, 1);
  for (int i = 3; i < 6; ++i) EXPECT_EQ(recs[i]->NFiles, 0);
}

TEST(Scanner, AQuitCancelsWithoutThePromptInEitherPhase) {
  for (int quitInPhase : {1, 2}) {
    TempTree tree;
    MakeFlatTree(tree);
    Scan scan;
    scan.observer.onPump = [&](ScriptedObserver& o) {
      if (o.phase == quitInPhase && o.pumps[o.phase] == 5) o.quit = true;
    };
    EXPECT_FALSE(scan.scanner.Run(tree.Root()));
    EXPECT_EQ(scan.observer.asks, 0);
    EXPECT_EQ(scan.observer.notices,
              std::vector<std::string>{quitInPhase == 1 ? "Scan for Folders" : "Scan all Files"});
    // Stops at the entry where it was seen; in phase 1 the level above a subfolder then
    // stops at its own next check.
    EXPECT_GE(scan.observer.pumps[quitInPhase], 5);
    EXPECT_LE(scan.observer.pumps[quitInPhase], quitInPhase == 1 ? 6 : 5);
  }
}

TEST(Scanner, ARequestLeftOverFromBeforeTheScanIsCleared) {
  TempTree tree;
  MakeFlatTree(tree);
  Scan scan;
  scan.scanner.CancelRequested = true;
  scan.scanner.CancelNoticeShown = true;
  EXPECT_TRUE(scan.scanner.Run(tree.Root()));
  EXPECT_EQ(scan.observer.asks, 0);
  EXPECT_EQ(scan.folders.Count(), 6);

  // A second run resets the list first.
  EXPECT_TRUE(scan.scanner.Run(tree.PathOf("d1")));
  EXPECT_EQ(scan.Paths(), std::vector<std::string>{tree.PathOf("d1/")});
}

}  // namespace
}  // namespace orbelan
