// Recounting one folder after the program changed it: the same figures a scan gives.

#include "scan/folder_recount.h"

#include <gtest/gtest.h>

#include "settings/settings.h"
#include "scan/folder_list.h"
#include "scan/scanner.h"
#include "tests/core/scan_tree_fixture.h"

namespace orbelan {
namespace {

TEST(FolderRecount, GivesWhatAScanOfTheFolderGives) {
  testing::TempTree tree;
  Settings defaults;
  defaults.SetDefaults();
  ScanRules rules = defaults.Rules();
  rules.IgnoreExts.Append(".tmp");
  tree.Dir("Work");
  tree.Dir("Work/sub");
  tree.File("Work/a.txt", 3000, 1600000000);
  tree.File("Work/b.zip", 500, 1700000000);
  tree.File("Work/c.tmp", 70);
  tree.File("Work/.hidden", 9);
  tree.File("Work/sub/deep.txt", 4000);
  tree.Link("a.txt", "Work/link");

  FolderList scanned;
  SilentScanObserver quiet;
  Scanner scanner(scanned, rules, quiet);
  ASSERT_TRUE(scanner.Run(tree.PathOf("Work/")));
  const FolderRec& fresh = scanned[0];

  // A record with stale figures, as after a zip made in the folder.
  FolderRec rec;
  rec.SetPath(tree.PathOf("Work/"));
  rec.NFiles = 99;
  rec.SzZips = 12345;
  rec.Recent = 1;
  RecountFolder(rec, rules);
  EXPECT_EQ(rec.Path(), tree.PathOf("Work/"));
  EXPECT_EQ(rec.NFiles, fresh.NFiles);
  EXPECT_EQ(rec.NFiles, 3);  // a.txt, b.zip, the link
  EXPECT_EQ(rec.NZips, 1);
  EXPECT_EQ(rec.SzZips, 500);
  EXPECT_EQ(rec.SzFiles, fresh.SzFiles);
  EXPECT_EQ(rec.NIgno, 1);
  EXPECT_EQ(rec.SzIgno, 70);
  EXPECT_EQ(rec.Recent, fresh.Recent);

  // A folder that is gone keeps zero counts.
  tree.Remove("Work");
  RecountFolder(rec, rules);
  EXPECT_EQ(rec.NFiles, 0);
  EXPECT_EQ(rec.SzFiles, 0);
  EXPECT_EQ(rec.Recent, 0);
}

}  // namespace
}  // namespace orbelan
