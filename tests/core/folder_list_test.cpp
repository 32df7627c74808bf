#include "scan/folder_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/scan_rules.h"
#include "scan/folder_figures.h"

namespace orbelan {
namespace {

TEST(FolderList, AppendsZeroedRecordsInScanOrderWithTheirRealCase) {
  ScanRules s;
  FolderList list;
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(list.Head(), nullptr);
  EXPECT_EQ(list.Tail(), nullptr);

  ASSERT_TRUE(list.AddFolder("/Home/Ann/", s));
  ASSERT_TRUE(list.AddFolder("/Home/Ann/Music/", s));
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Head()->Path(), "/Home/Ann/");
  EXPECT_EQ(list.Tail()->Path(), "/Home/Ann/Music/");
  EXPECT_EQ(&list[1], list.Tail());

  const FolderRec& rec = *list.Tail();
  EXPECT_EQ(rec.NFiles, 0);
  EXPECT_EQ(rec.NIgno, 0);
  EXPECT_EQ(rec.NZips, 0);
  EXPECT_EQ(rec.SzFiles, 0);
  EXPECT_EQ(rec.SzIgno, 0);
  EXPECT_EQ(rec.SzZips, 0);
  EXPECT_EQ(rec.Recent, 0);
}

TEST(FolderList, IgnoredPathsAreNotAppended) {
  ScanRules s;
  s.IgnorePaths.Items[0] = "/home/ann/cache/";
  s.IgnorePaths.Count = 1;
  FolderList list;
  EXPECT_TRUE(list.AddFolder("/home/ann/", s));
  EXPECT_FALSE(list.AddFolder("/Home/Ann/Cache/", s));
  EXPECT_TRUE(list.AddFolder("/home/ann/cache/old/", s));  // only the folder itself matches
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Tail()->Path(), "/home/ann/cache/old/");
}

TEST(FolderList, ResetEmptiesAndIsSafeWhenEmpty) {
  ScanRules s;
  FolderList list;
  list.ResetFolderList();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_TRUE(list.Empty());

  list.AddFolder("/a/", s);
  list.AddFolder("/a/b/", s);
  list.ResetFolderList();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Head(), nullptr);
  EXPECT_EQ(list.begin(), list.end());
  list.AddFolder("/c/", s);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Head()->Path(), "/c/");
}

TEST(FolderList, RecordsStayPutAndLongPathsStayWhole) {
  ScanRules s;
  FolderList list;
  list.AddFolder("/first/", s);
  FolderRec* first = list.Head();
  const std::string deep = "/" + std::string(4000, 'd') + "/";
  for (int i = 0; i < 100000; ++i) list.AddFolder(i == 500 ? deep : "/x/", s);
  EXPECT_EQ(list.Head(), first);  // rows and the scanner hold references across appends
  EXPECT_EQ(first->Path(), "/first/");
  EXPECT_EQ(list[501].Path(), deep);
  EXPECT_EQ(list.Count(), 100001);
}

TEST(FolderList, ARecordBelowItsParentHoldsOnlyItsNameAndPutsItsPathTogether) {
  ScanRules s;
  s.IgnorePaths.Append("/start here/bad\xff/skip/");
  FolderList list;
  ASSERT_TRUE(list.AddFolder("/Start Here/", s));
  const FolderRec* top = list.Head();
  EXPECT_EQ(top->Parent(), nullptr);
  EXPECT_EQ(top->Name(), "/Start Here/");  // the start holds its path whole

  std::string path = "/Start Here/";
  const FolderRec* parent = top;
  for (const std::string& name : std::vector<std::string>{"Sub", "bad\xff", " lead", "new\nline", "a\\b"}) {
    path += name + "/";
    ASSERT_TRUE(list.AddFolder(path, s, parent)) << name;
    const FolderRec& rec = *list.Tail();
    EXPECT_EQ(rec.Parent(), parent);
    EXPECT_EQ(rec.Name(), name);
    EXPECT_EQ(rec.Path(), path);
    EXPECT_EQ(rec.PathLength(), path.size());
    parent = &rec;
  }
  // The ignored-path test sees the whole path, lower-cased, as for any record.
  EXPECT_FALSE(list.AddFolder("/Start Here/bad\xff/Skip/", s, &list[2]));
  EXPECT_EQ(list.Count(), 6);

  std::string out = "row: ";
  list.Tail()->AppendPath(out);
  EXPECT_EQ(out, "row: " + path);
  const FolderRec copy = *list.Tail();  // a copy names the same parent
  EXPECT_EQ(copy.Path(), path);

  // The root of the file system as the start; a path that does not extend the parent by
  // one name is held whole.
  FolderList root;
  root.AddFolder("/", s);
  root.AddFolder("/usr/", s, root.Head());
  EXPECT_EQ(root.Tail()->Name(), "usr");
  EXPECT_EQ(root.Tail()->Path(), "/usr/");
  root.AddFolder("/", s, root.Tail());
  EXPECT_EQ(root.Tail()->Parent(), nullptr);
  EXPECT_EQ(root.Tail()->Path(), "/");

  FolderRec own("/on/its/own/");
  EXPECT_EQ(own.Parent(), nullptr);
  EXPECT_EQ(own.Path(), "/on/its/own/");
  own.SetPath("/elsewhere/");
  EXPECT_EQ(own.PathLength(), 11u);
  EXPECT_EQ(own.Path(), "/elsewhere/");
}

TEST(FolderList, AChainThousandsDeepCostsItsFoldersNotTheSquareOfItsDepth) {
  ScanRules s;
  FolderList list;
  std::string path = "/deep/";
  list.AddFolder(path, s);
  constexpr std::size_t kLevels = 20000;
  for (std::size_t i = 0; i < kLevels; ++i) {
    path += "level/";
    list.AddFolder(path, s, list.Tail());
  }
  std::size_t held = 0;
  for (const FolderRec& rec : list) held += rec.Name().size();
  EXPECT_EQ(held, 6 + 5 * kLevels);  // one name each, not 120,000 bytes per path
  EXPECT_EQ(list.Tail()->PathLength(), path.size());
  EXPECT_EQ(list.Tail()->Path(), path);
  EXPECT_EQ(list[kLevels / 2].Path(), path.substr(0, 6 + 6 * (kLevels / 2)));
}

TEST(FolderList, ScannerFeedsFilesIntoTheTail) {
  ScanRules s;
  s.ZipExts.Items[0] = ".zip";
  s.ZipExts.Count = 1;
  FolderList list;
  list.AddFolder("/data/", s);
  list.AddFolder("/data/sub/", s);
  TallyFile(*list.Tail(), "a.zip", 3000, 45000, s);
  TallyFile(*list.Tail(), "b.txt", 7000, 45001, s);
  TallyFile(*list.Head(), "c.txt", 10, 44000, s);
  EXPECT_EQ(list[1].SzFiles, 10000);
  EXPECT_EQ(list[1].SzZips, 3000);
  EXPECT_EQ(list[1].Recent, 45001);
  EXPECT_EQ(list[0].NFiles, 1);
}

}  // namespace
}  // namespace orbelan
