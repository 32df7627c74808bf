#include "survey/subtree_rescan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan_tree_fixture.h"
#include "scripted_scan.h"
#include "scan/folder_list.h"
#include "scan/scan_rules.h"
#include "survey/subtree_totals.h"

namespace orbelan {
namespace {

using testing::Scan;
using testing::TempTree;

struct Row {
  std::string path;
  std::int64_t files, bytes;
  bool operator==(const Row&) const = default;
};

std::vector<Row> Rows(const FolderList& folders) {
  std::vector<Row> rows;
  for (const FolderRec& rec : folders) rows.push_back({rec.Path(), rec.NFiles, rec.SzFiles});
  return rows;
}

// Rescans sub's records in place, as the window does, and returns the old-to-new map.
std::vector<FolderRec*> Rescan(FolderList& folders, const std::string& sub) {
  SubtreeTotals totals;
  totals.Build(folders);
  std::int64_t first = -1;
  for (std::int64_t i = 0; i < folders.Count(); ++i)
    if (folders[i].Path() == sub) first = i;
  EXPECT_GE(first, 0) << sub;
  FolderList fresh;
  if (ExamineRescanStart(sub) == RescanStart::Folder) {
    testing::ScriptedObserver observer;
    Scanner scanner(fresh, ScanRules{}, observer);
    EXPECT_TRUE(scanner.Run(sub));
  }
  return ReplaceSubtree(folders, first, totals.Figures(first).NFolders, fresh);
}

// A folder changed after the scan: a file added, a subfolder added, one removed. Its rescan
// gives the records a whole new scan gives, and the rest keeps what it had.
TEST(SubtreeRescan, GivesWhatAWholeRescanGivesAndKeepsTheRestAsItWas) {
  TempTree tree;
  for (const char* d : {"a", "a/one", "a/gone", "b", "c", "c/x"}) tree.Dir(d);
  tree.File("a/f.txt", 100);
  tree.File("b/g.txt", 200);
  tree.File("c/x/h.txt", 300);
  Scan scan;
  ASSERT_TRUE(scan.scanner.Run(tree.Root()));
  const FolderRec* before = &scan.folders[0];
  (void)before;

  tree.File("a/new.txt", 50);
  tree.Dir("a/one/deeper");
  tree.File("a/one/deeper/d.txt", 70);
  tree.Remove("a/gone");
  tree.File("b/later.txt", 999);  // outside the rescan: not seen until a full one

  const std::int64_t bIndex = [&] {
    for (std::int64_t i = 0; i < scan.folders.Count(); ++i)
      if (scan.folders[i].Path() == tree.PathOf("b/")) return i;
    return std::int64_t{-1};
  }();
  const std::vector<FolderRec*> moved = Rescan(scan.folders, tree.PathOf("a/"));
  ASSERT_EQ(moved.size(), 7u);
  ASSERT_NE(moved[static_cast<std::size_t>(bIndex)], nullptr);
  EXPECT_EQ(moved[static_cast<std::size_t>(bIndex)]->SzFiles, 200);  // kept, not counted again
  // Its disk figures too: the saving's disk space is worked out from them.
  EXPECT_EQ(moved[static_cast<std::size_t>(bIndex)]->Disk.Members, 1);
  EXPECT_EQ(moved[static_cast<std::size_t>(bIndex)]->Disk.Bytes, 200);

  Scan whole;
  ASSERT_TRUE(whole.scanner.Run(tree.Root()));
  std::vector<Row> expected = Rows(whole.folders);
  for (Row& row : expected)
    if (row.path == tree.PathOf("b/")) row = {row.path, 1, 200};
  EXPECT_EQ(Rows(scan.folders), expected);

  // The tree hangs together again: parents found, sums right.
  SubtreeTotals totals;
  totals.Build(scan.folders);
  EXPECT_EQ(totals.Roots().size(), 1u);
  EXPECT_EQ(totals.Figures(0).SzFiles, 100 + 50 + 70 + 200 + 300);
}

// A folder that vanished, or became a link or a file, since the scan: its records go.
TEST(SubtreeRescan, AFolderGoneOrTurnedIntoALinkOrAFileLeavesTheList) {
  TempTree tree;
  for (const char* d : {"a", "a/in", "b", "elsewhere"}) tree.Dir(d);
  tree.File("b/f.txt", 10);
  Scan scan;
  ASSERT_TRUE(scan.scanner.Run(tree.Root()));
  ASSERT_EQ(scan.folders.Count(), 5);

  tree.Remove("a");
  tree.Link(tree.PathOf("elsewhere"), "a");
  EXPECT_EQ(ExamineRescanStart(tree.PathOf("a/")), RescanStart::NotAFolder);
  Rescan(scan.folders, tree.PathOf("a/"));
  EXPECT_EQ(scan.folders.Count(), 3);

  tree.Remove("b");
  EXPECT_EQ(ExamineRescanStart(tree.PathOf("b/")), RescanStart::Gone);
  Rescan(scan.folders, tree.PathOf("b/"));
  ASSERT_EQ(scan.folders.Count(), 2);
  EXPECT_EQ(scan.folders[1].Path(), tree.PathOf("elsewhere/"));
  EXPECT_EQ(ExamineRescanStart(tree.PathOf("elsewhere/")), RescanStart::Folder);
}

}  // namespace
}  // namespace orbelan
