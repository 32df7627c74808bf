#include "survey/subtree_totals.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "scan_tree_fixture.h"
#include "scripted_scan.h"
#include "estimate/disk_saving.h"
#include "scan/folder_figures.h"
#include "survey/results.h"
#include "estimate/saving_estimate.h"
#include "scan/scan_rules.h"

namespace orbelan {
namespace {

using testing::Scan;
using testing::TempTree;

std::map<std::string, std::int64_t> IndexByPath(const SubtreeTotals& totals) {
  std::map<std::string, std::int64_t> byPath;
  for (std::int64_t i = 0; i < totals.Size(); ++i) byPath[totals.Record(i).Path()] = i;
  return byPath;
}

// A project with a hidden folder, an ignored one, folders under the minimum size and an
// archive: the totals hold what the scan recorded, and the small folders count.
TEST(SubtreeTotals, AddUpEveryRecordedFolderBelowAndLeaveIgnoredAndHiddenOnesOut) {
  TempTree tree;
  for (const char* d : {"p", "p/src", "p/src/deep", "p/.git", "p/.git/objects", "p/build", "p/docs", "q"})
    tree.Dir(d);
  tree.File("p/a.txt", 5000, 1'600'000'000);
  tree.File("p/src/m.c", 300, 1'600'100'000);           // under 1 KiB: not listed
  tree.File("p/src/deep/n.c", 700, 1'700'000'000);      // the newest file of all
  tree.File("p/.git/objects/pack", 1'000'000);          // hidden folder: out
  tree.File("p/build/out.o", 2'000'000);                // ignored path: out
  tree.File("p/docs/old.zip", 4000, 1'500'000'000);     // an archive
  tree.File("p/docs/notes.bak", 900);                   // ignored extension
  tree.File("q/b.txt", 100);

  Scan scan;
  ScanRules rules;
  rules.IgnorePaths.Append(LowerAscii(tree.PathOf("p/build/")));
  rules.IgnoreExts.Append(".bak");
  rules.ZipExts.Append(".zip");
  scan.scanner.SetRules(rules);
  ASSERT_TRUE(scan.scanner.Run(tree.Root()));

  SubtreeTotals totals;
  totals.Build(scan.folders);
  ASSERT_EQ(totals.Size(), scan.folders.Count());
  auto at = IndexByPath(totals);
  ASSERT_EQ(at.count(tree.PathOf("p/build/")), 0u);
  ASSERT_EQ(at.count(tree.PathOf("p/.git/")), 0u);

  const SubtreeFigures& p = totals.Figures(at[tree.PathOf("p/")]);
  EXPECT_EQ(p.NFolders, 4);  // p, src, deep, docs
  EXPECT_EQ(p.NFiles, 4);
  EXPECT_EQ(p.SzFiles, 5000 + 300 + 700 + 4000);
  EXPECT_EQ(p.NZips, 1);
  EXPECT_EQ(p.SzZips, 4000);
  EXPECT_EQ(p.NIgno, 1);
  EXPECT_EQ(p.SzIgno, 900);
  EXPECT_EQ(p.Recent, totals.Record(at[tree.PathOf("p/src/deep/")]).Recent);
  EXPECT_EQ(UnzippedBytes(p), 6000);
  EXPECT_EQ(ZipPercent(p), 40);

  // src's own files are under the minimum size; its subtree is not.
  const FolderRec& src = totals.Record(at[tree.PathOf("p/src/")]);
  EXPECT_FALSE(MeetsMinSize(src, 0));
  const SubtreeFigures& srcTotals = *totals.Of(src);
  EXPECT_EQ(srcTotals.SzFiles, 1000);
  EXPECT_EQ(srcTotals.NFolders, 2);

  const SubtreeFigures& root = totals.Figures(at[tree.RootSlash()]);
  EXPECT_EQ(root.NFolders, scan.folders.Count());
  EXPECT_EQ(root.SzFiles, 10'100);
  // A leaf's subtree is the folder alone.
  const std::int64_t q = at[tree.PathOf("q/")];
  EXPECT_EQ(totals.Figures(q).SzFiles, 100);
  EXPECT_EQ(totals.Figures(q).NFolders, 1);

  // The tree: parents and children as on disk, children in scan order.
  EXPECT_EQ(totals.Roots(), std::vector<std::uint32_t>{0});
  EXPECT_EQ(totals.Parent(0), SubtreeTotals::kNone);
  EXPECT_EQ(totals.Parent(at[tree.PathOf("p/src/deep/")]), at[tree.PathOf("p/src/")]);
  EXPECT_EQ(totals.Children(at[tree.PathOf("p/")]).size(), 2u);
  EXPECT_EQ(totals.Children(q).size(), 0u);
  std::int64_t children = 0;
  for (std::int64_t i = 0; i < totals.Size(); ++i) {
    for (std::uint32_t c : totals.Children(i)) {
      EXPECT_EQ(totals.Parent(c), i);
      EXPECT_GT(c, i);
      ++children;
    }
  }
  EXPECT_EQ(children, totals.Size() - 1);
  FolderRec stranger;
  EXPECT_EQ(totals.IndexOf(stranger), SubtreeTotals::kNone);
  EXPECT_EQ(totals.Of(stranger), nullptr);
}

// Lists made record by record, holding whole paths, hang from the folders their paths
// extend; a sibling whose name starts like another's is not its child.
TEST(SubtreeTotals, RecordsHoldingWholePathsHangFromTheFolderTheyExtend) {
  const ScanRules rules;
  FolderList folders;
  for (const char* path : {"/t/", "/t/a/", "/t/a/b/", "/t/ab/", "/u/"}) folders.AddFolder(path, rules);
  folders[2].SzFiles = 10;
  folders[3].SzFiles = 20;
  folders[4].SzFiles = 40;
  SubtreeTotals totals;
  totals.Build(folders);
  EXPECT_EQ(totals.Parent(2), 1);
  EXPECT_EQ(totals.Parent(3), 0);
  EXPECT_EQ(totals.Parent(4), SubtreeTotals::kNone);
  EXPECT_EQ(totals.Roots(), (std::vector<std::uint32_t>{0, 4}));
  EXPECT_EQ(totals.Figures(0).SzFiles, 30);
  EXPECT_EQ(totals.Figures(1).SzFiles, 10);
}

// 20,000 levels: one pass, no recursion to overflow the stack.
TEST(SubtreeTotals, ATreeTwentyThousandLevelsDeepAddsUpWithoutRecursion) {
  const ScanRules rules;
  FolderList folders;
  folders.AddFolder("/deep/", rules);
  std::string path = "/deep/";
  for (int level = 1; level < 20'000; ++level) {
    path += "d/";
    folders.AddFolder(path, rules, &folders[level - 1]);
    folders[level].SzFiles = 1;
    folders[level].NFiles = 1;
  }
  SubtreeTotals totals;
  totals.Build(folders);
  EXPECT_EQ(totals.Figures(0).NFolders, 20'000);
  EXPECT_EQ(totals.Figures(0).SzFiles, 19'999);
  EXPECT_EQ(totals.Figures(19'998).SzFiles, 2);
  EXPECT_EQ(totals.Parent(19'999), 19'998);
}

SavingEstimate Estimate(std::int64_t saving, std::int64_t low, std::int64_t high) {
  SavingEstimate e;
  e.Known = true;
  e.Disk = saving;  // sums are of the disk figures
  e.DiskLow = low;
  e.DiskHigh = high;
  return e;
}

// Exact parts add exactly; bounds add up; quadrature is the root of the summed squares and
// stays inside the bounds; a folder without an estimate widens only the top, by its bytes.
TEST(SavingSum, CombinesIntervalsByBoundsAndKeepsTheQuadratureInside) {
  SavingSum sum;
  const SavingEstimate exact = Estimate(1000, 1000, 1000);
  const SavingEstimate a = Estimate(5000, 2000, 9000);   // 3000 below, 4000 above
  const SavingEstimate b = Estimate(8000, 4000, 11000);  // 4000 below, 3000 above
  sum.AddFolder(&exact, 3000);
  EXPECT_TRUE(sum.Exact());
  sum.AddFolder(&a, 20'000);
  sum.AddFolder(&b, 20'000);
  EXPECT_EQ(sum.Saving, 14'000);
  EXPECT_EQ(sum.Low, 7000);
  EXPECT_EQ(sum.High, 21'000);
  EXPECT_EQ(sum.QuadratureLow(), 14'000 - 5000);   // sqrt(3000^2 + 4000^2)
  EXPECT_EQ(sum.QuadratureHigh(), 14'000 + 5000);
  EXPECT_TRUE(sum.Complete());

  SavingEstimate unreadable;  // tried, nothing readable
  sum.AddFolder(nullptr, 0);  // nothing to zip: no figure to miss
  sum.AddFolder(&unreadable, 6000);
  EXPECT_EQ(sum.Missing, 1);
  EXPECT_EQ(sum.Saving, 14'000);
  EXPECT_EQ(sum.Low, 7000);
  EXPECT_EQ(sum.High, 27'000);
  EXPECT_FALSE(sum.Complete());

  // A subtree's sum adds into its parent's as the folders themselves would.
  SavingSum parent;
  parent.AddFolder(&exact, 3000);
  parent.Add(sum);
  EXPECT_EQ(parent.Saving, 15'000);
  EXPECT_EQ(parent.Estimated, 4);
  EXPECT_EQ(parent.High, 28'000);
  EXPECT_LE(parent.QuadratureHigh(), parent.High);
  EXPECT_GE(parent.QuadratureLow(), parent.Low);
}

TEST(SubtreeTotals, SumSavingsAddsEachFoldersEstimateIntoEveryFolderAbove) {
  const ScanRules rules;
  FolderList folders;
  for (const char* path : {"/s/", "/s/a/", "/s/a/b/", "/s/c/"}) folders.AddFolder(path, rules);
  for (std::int64_t i = 0; i < 4; ++i) folders[i].SzFiles = 100'000;
  std::map<const FolderRec*, SavingEstimate> estimates;
  estimates[&folders[1]] = Estimate(100, 50, 150);
  estimates[&folders[2]] = Estimate(200, 200, 200);
  estimates[&folders[3]] = Estimate(400, 300, 600);
  SubtreeTotals totals;
  totals.Build(folders);
  EXPECT_FALSE(totals.HasSavings());
  totals.SumSavings([&](const FolderRec& rec) -> const SavingEstimate* {
    const auto found = estimates.find(&rec);
    return found == estimates.end() ? nullptr : &found->second;
  });
  const SavingSum& a = *totals.SavingOf(1);
  EXPECT_EQ(a.Saving, 300);
  EXPECT_EQ(a.Low, 250);
  EXPECT_EQ(a.High, 350);
  const SavingSum& top = *totals.SavingOf(folders[0]);
  EXPECT_EQ(top.Saving, 700);
  EXPECT_EQ(top.Estimated, 3);
  EXPECT_EQ(top.Missing, 1);  // the start folder itself was not estimated
  EXPECT_EQ(top.High, 350 + 600 + 100'000);
}

// Hard-linked files with names in several folders: each folder alone keeps them held; the
// smallest subtree with every name gives the blocks back once, and the folders above too.
TEST(SubtreeTotals, AFileLinkedAcrossFoldersIsGivenBackFromTheSubtreeHoldingAllItsNames) {
  const ScanRules rules;
  FolderList folders;
  for (const char* path : {"/s/", "/s/a/", "/s/a/x/", "/s/a/y/", "/s/b/"}) folders.AddFolder(path, rules);
  const std::int64_t f = 40960, g = 8192, h = 4096;  // the linked files' blocks
  // F: one name in x, y and b. G: one in x and y. H: two in b and one nowhere recorded.
  auto held = [](std::vector<HeldFile> files) { return std::make_shared<const std::vector<HeldFile>>(std::move(files)); };
  const std::map<std::int64_t, std::vector<HeldFile>> names = {
      {2, {{1, 100, 3, 1, f}, {1, 200, 2, 1, g}}},
      {3, {{1, 100, 3, 1, f}, {1, 200, 2, 1, g}}},
      {4, {{1, 100, 3, 1, f}, {1, 300, 3, 2, h}}},
  };
  std::map<const FolderRec*, SavingEstimate> estimates;
  for (std::int64_t i = 0; i < folders.Count(); ++i) {
    folders[i].SzFiles = 1'000'000;
    DiskUse& use = folders[i].Disk;
    use.BlockSize = 4096;
    use.Members = 10;
    use.NameBytes = 100;
    use.Bytes = 1'000'000;
    use.Allocated = 1'003'520;
    if (const auto found = names.find(i); found != names.end()) {
      for (const HeldFile& file : found->second) use.Held += file.Allocated;
      use.HeldFiles = held(found->second);
    }
    SavingEstimate e;
    e.Known = true;
    e.Saving = 600'000;
    e.Low = 550'000;
    e.High = 650'000;
    AddDiskFigures(use, e);
    estimates[&folders[i]] = e;
  }
  SubtreeTotals totals;
  totals.Build(folders);
  totals.SumSavings([&](const FolderRec& rec) -> const SavingEstimate* { return &estimates.at(&rec); });
  auto alone = [&](std::int64_t i) { return estimates.at(&folders[i]).Disk; };
  EXPECT_EQ(totals.SavingOf(2)->Saving, alone(2));
  EXPECT_EQ(totals.SavingOf(4)->Saving, alone(4));
  EXPECT_EQ(totals.SavingOf(1)->Saving, alone(1) + alone(2) + alone(3) + g);
  const SavingSum& top = *totals.SavingOf(0);
  EXPECT_EQ(top.Saving, alone(0) + alone(1) + alone(2) + alone(3) + alone(4) + g + f);
  EXPECT_EQ(top.High - top.Low, [&] {
    std::int64_t width = 0;
    for (std::int64_t i = 0; i < 5; ++i) width += estimates.at(&folders[i]).DiskHigh - estimates.at(&folders[i]).DiskLow;
    return width;
  }());

  // Without a figure for a folder holding a name, nothing is given back for it there.
  estimates.at(&folders[4]).Known = false;
  totals.SumSavings([&](const FolderRec& rec) -> const SavingEstimate* { return &estimates.at(&rec); });
  EXPECT_FALSE(totals.SavingOf(0)->Complete());
  EXPECT_EQ(totals.SavingOf(1)->Saving, alone(1) + alone(2) + alone(3) + g);
}

// Extents shared by files of several folders (a copy reflinked into another folder): each
// folder alone holds them; the smallest subtree holding every copy may give them back once,
// if nothing outside shares them too, which cannot be asked: its high end counts them, and
// those above, not the point. An extent a folder's own copies already count is not counted
// again, nor one only a single folder holds.
TEST(SubtreeTotals, AnExtentSharedAcrossFoldersMayComeBackFromTheSubtreeHoldingEveryCopy) {
  const ScanRules rules;
  FolderList folders;
  for (const char* path : {"/s/", "/s/a/", "/s/a/x/", "/s/a/y/", "/s/b/"}) folders.AddFolder(path, rules);
  auto places = [](std::vector<SharedPlace> p) { return std::make_shared<const std::vector<SharedPlace>>(std::move(p)); };
  const std::map<std::int64_t, std::vector<SharedPlace>> shared = {
      {2, {{1 << 20, 40960, false}}},
      {3, {{1 << 20, 40960, false}, {2 << 20, 8192, true}}},
      {4, {{2 << 20, 8192, false}, {3 << 20, 4096, false}}},
  };
  std::map<const FolderRec*, SavingEstimate> estimates;
  std::int64_t high = 0, point = 0, low = 0;
  for (std::int64_t i = 0; i < folders.Count(); ++i) {
    folders[i].SzFiles = 100'000;
    SavingEstimate e = Estimate(1000 * (i + 1), 900 * (i + 1), 1200 * (i + 1));
    if (const auto found = shared.find(i); found != shared.end()) e.SharedPlaces = places(found->second);
    estimates[&folders[i]] = e;
    high += e.DiskHigh;
    point += e.Disk;
    low += e.DiskLow;
  }
  SubtreeTotals totals;
  totals.Build(folders);
  totals.SumSavings([&](const FolderRec& rec) -> const SavingEstimate* { return &estimates.at(&rec); });
  auto own = [&](std::int64_t i) { return estimates.at(&folders[i]).DiskHigh; };
  EXPECT_EQ(totals.SavingOf(2)->High, own(2));
  EXPECT_EQ(totals.SavingOf(1)->High, own(1) + own(2) + own(3) + 40960);
  const SavingSum& top = *totals.SavingOf(0);
  EXPECT_EQ(top.High, high + 40960);
  EXPECT_EQ(top.Saving, point);
  EXPECT_EQ(top.Low, low);
  EXPECT_GE(top.QuadratureHigh(), top.Saving + 40960);
}

}  // namespace
}  // namespace orbelan
