#include "survey/folder_list.h"

#include <gtest/gtest.h>

#include <string>

#include "settings/settings.h"
#include "survey/figures.h"

namespace orbelan {
namespace {

TEST(FolderList, AppendsZeroedRecordsInScanOrderWithTheirRealCase) {
  Settings s;
  FolderList list;
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(list.Head(), nullptr);
  EXPECT_EQ(list.Tail(), nullptr);

  ASSERT_TRUE(list.AddFolder("/Home/Ann/", s));
  ASSERT_TRUE(list.AddFolder("/Home/Ann/Music/", s));
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Head()->Path, "/Home/Ann/");
  EXPECT_EQ(list.Tail()->Path, "/Home/Ann/Music/");
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
  Settings s;
  s.IgnorePaths.Items[0] = "/home/ann/cache/";
  s.IgnorePaths.Count = 1;
  FolderList list;
  EXPECT_TRUE(list.AddFolder("/home/ann/", s));
  EXPECT_FALSE(list.AddFolder("/Home/Ann/Cache/", s));
  EXPECT_TRUE(list.AddFolder("/home/ann/cache/old/", s));  // only the folder itself matches
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Tail()->Path, "/home/ann/cache/old/");
}

TEST(FolderList, ResetEmptiesAndIsSafeWhenEmpty) {
  Settings s;
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
  EXPECT_EQ(list.Head()->Path, "/c/");
}

TEST(FolderList, RecordsStayPutAndLongPathsStayWhole) {
  Settings s;
  FolderList list;
  list.AddFolder("/first/", s);
  FolderRec* first = list.Head();
  const std::string deep = "/" + std::string(4000, 'd') + "/";
  for (int i = 0; i < 100000; ++i) list.AddFolder(i == 500 ? deep : "/x/", s);
  EXPECT_EQ(list.Head(), first);  // rows and the scanner hold references across appends
  EXPECT_EQ(first->Path, "/first/");
  EXPECT_EQ(list[501].Path, deep);
  EXPECT_EQ(list.Count(), 100001);
}

TEST(FolderList, ScannerFeedsFilesIntoTheTail) {
  Settings s;
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
