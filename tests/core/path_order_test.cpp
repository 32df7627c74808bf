#include "survey/path_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "scan/scan_rules.h"
#include "scan/folder_figures.h"
#include "scan/folder_list.h"
#include "survey/results.h"

namespace orbelan {
namespace {

constexpr double kToday = 46000.0;

// The Path column's order by its definition: the paths themselves, blanks and control bytes
// trimmed off both ends, lower-cased, in unsigned byte order, equal texts in scan order.
std::vector<const FolderRec*> ByPathText(const FolderList& folders, std::uint16_t minSize) {
  std::vector<std::pair<std::string, const FolderRec*>> keyed;
  for (const FolderRec& rec : folders) {
    if (!MeetsMinSize(rec, minSize)) continue;
    std::string text = rec.Path();
    while (!text.empty() && static_cast<unsigned char>(text.back()) < 33) text.pop_back();
    std::size_t lead = 0;
    while (lead < text.size() && static_cast<unsigned char>(text[lead]) < 33) ++lead;
    keyed.emplace_back(LowerAscii(text.substr(lead)), &rec);
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    return std::lexicographical_compare(a.first.begin(), a.first.end(), b.first.begin(), b.first.end(),
                                        [](char x, char y) {
                                          return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
                                        });
  });
  std::vector<const FolderRec*> out;
  for (const auto& k : keyed) out.push_back(k.second);
  return out;
}

std::vector<const FolderRec*> RecordsOf(const ResultRows& rows) {
  std::vector<const FolderRec*> out;
  for (const ResultRow& row : rows.Rows) out.push_back(row.Rec);
  return out;
}

// A random tree recorded as the scan records one: depth-first, each record one name below
// its parent. Names are drawn so that their order differs from their paths' order where a
// name is a prefix of another ("a" and "a-b": "a-b/" sorts before "a/"), in case, and in
// bytes above 127. With clash, some siblings differ only in case.
void MakeTree(FolderList& folders, const ScanRules& settings, std::mt19937& random, bool clash) {
  const std::vector<std::string> names = {"a", "a-b", "a b", "a.b", "ab", "B", "b0", "_", "0", "~",
                                          "\xff", "\xc3\xa9", "Zed", "a!"};
  folders.AddFolder(" \t/Start Here/", settings);  // blanks at the front: trimmed off the column
  std::function<void(const FolderRec*, std::string, int)> grow = [&](const FolderRec* parent,
                                                                     std::string path, int depth) {
    std::vector<std::string> pool = names;
    std::shuffle(pool.begin(), pool.end(), random);
    const int children = depth >= 5 ? 0 : static_cast<int>(random() % 5);
    for (int c = 0; c < children; ++c) {
      std::string name = pool[static_cast<std::size_t>(c)];
      if (clash && c > 0 && random() % 3 == 0) {  // the previous name but for case, if it has letters
        std::string swapped = pool[static_cast<std::size_t>(c - 1)];
        for (char& ch : swapped) {
          if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
          else if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
        }
        if (swapped != pool[static_cast<std::size_t>(c - 1)]) name = swapped;
      }
      const std::string childPath = path + name + "/";
      ASSERT_TRUE(folders.AddFolder(childPath, settings, parent));
      FolderRec& rec = *folders.Tail();
      rec.SzFiles = random() % 3 == 0 ? 0 : 2048;  // some do not qualify, yet hold others
      grow(&rec, childPath, depth + 1);
    }
  };
  folders.Head()->SzFiles = 4096;
  grow(folders.Head(), " \t/Start Here/", 0);
}

TEST(PathOrder, ATreeSortsAsItsPathTextsWithoutPuttingThemTogether) {
  ScanRules settings;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 random(seed);
    FolderList folders;
    MakeTree(folders, settings, random, false);
    ResultRows rows = FillRows(folders, 0, 1, kToday);
    std::vector<std::size_t> order;
    ASSERT_TRUE(PathOrderFromTree(folders, FillRows(folders, 0, 7, kToday).Rows, order)) << seed;
    const std::vector<const FolderRec*> expected = ByPathText(folders, 0);
    EXPECT_EQ(RecordsOf(rows), expected) << seed;
    std::vector<const FolderRec*> reversed(expected.rbegin(), expected.rend());
    EXPECT_EQ(RecordsOf(FillRows(folders, 0, -1, kToday)), reversed) << seed;
  }
}

TEST(PathOrder, SiblingsThatDifferOnlyInCaseInterleaveAsTheirPathsDo) {
  ScanRules settings;
  // /s/Foo/x/, /s/foo/a/, /s/Foo/z/: the two subtrees interleave in the Path column.
  FolderList folders;
  folders.AddFolder("/s/", settings);
  folders.AddFolder("/s/Foo/", settings, &folders[0]);
  folders.AddFolder("/s/Foo/x/", settings, &folders[1]);
  folders.AddFolder("/s/Foo/z/", settings, &folders[1]);
  folders.AddFolder("/s/foo/", settings, &folders[0]);
  folders.AddFolder("/s/foo/a/", settings, &folders[4]);
  for (FolderRec& rec : folders) rec.SzFiles = 2048;
  std::vector<std::size_t> order;
  EXPECT_FALSE(PathOrderFromTree(folders, FillRows(folders, 0, 7, kToday).Rows, order));
  EXPECT_TRUE(order.empty());
  std::vector<std::string> paths;
  for (const ResultRow& row : FillRows(folders, 0, 1, kToday).Rows) paths.push_back(row.Rec->Path());
  EXPECT_EQ(paths, (std::vector<std::string>{"/s/", "/s/Foo/", "/s/foo/", "/s/foo/a/", "/s/Foo/x/",
                                             "/s/Foo/z/"}));

  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 random(seed);
    FolderList tree;
    MakeTree(tree, settings, random, true);
    EXPECT_EQ(RecordsOf(FillRows(tree, 0, 1, kToday)), ByPathText(tree, 0)) << seed;
  }
}

TEST(PathOrder, ListsThatAreNotOneTreeAreLeftToThePaths) {
  ScanRules settings;
  std::vector<std::size_t> order;
  FolderList whole;  // records holding whole paths, as lists made elsewhere
  whole.AddFolder("/b/", settings);
  whole.AddFolder("/a/", settings);
  EXPECT_FALSE(PathOrderFromTree(whole, FillRows(whole, 0, 7, kToday).Rows, order));

  FolderList notDepthFirst;  // a record after its parent's subtree was left
  notDepthFirst.AddFolder("/r/", settings);
  notDepthFirst.AddFolder("/r/a/", settings, &notDepthFirst[0]);
  notDepthFirst.AddFolder("/r/b/", settings, &notDepthFirst[0]);
  notDepthFirst.AddFolder("/r/a/c/", settings, &notDepthFirst[1]);
  for (FolderRec& rec : notDepthFirst) rec.SzFiles = 2048;
  EXPECT_FALSE(PathOrderFromTree(notDepthFirst, FillRows(notDepthFirst, 0, 7, kToday).Rows, order));
  std::vector<std::string> paths;
  for (const ResultRow& row : FillRows(notDepthFirst, 0, 1, kToday).Rows) paths.push_back(row.Rec->Path());
  EXPECT_EQ(paths, (std::vector<std::string>{"/r/", "/r/a/", "/r/a/c/", "/r/b/"}));
  EXPECT_TRUE(order.empty());
}

TEST(PathOrder, AChainTwentyThousandDeepSortsWithoutRecursion) {
  ScanRules settings;
  FolderList folders;
  std::string path = "/deep/";
  folders.AddFolder(path, settings);
  folders.Tail()->SzFiles = 2048;
  for (int i = 0; i < 20000; ++i) {
    path += i % 2 == 0 ? "Level/" : "x/";
    folders.AddFolder(path, settings, folders.Tail());
    folders.Tail()->SzFiles = 2048;
    if (i == 10000) {  // a side folder that sorts before the rest of the chain: "a/" < "level/"
      folders.AddFolder(path + "a/", settings, folders.Tail());
      folders.Tail()->SzFiles = 2048;
      folders.AddFolder(path + "Level/", settings, &folders[folders.Count() - 2]);
      folders.Tail()->SzFiles = 2048;
      path += "Level/";
      ++i;
    }
  }
  const ResultRows rows = FillRows(folders, 0, 1, kToday);
  ASSERT_EQ(rows.Rows.size(), static_cast<std::size_t>(folders.Count()));
  for (std::size_t i = 0; i < rows.Rows.size(); ++i)
    ASSERT_EQ(rows.Rows[i].Rec, &folders[static_cast<std::int64_t>(i)]) << i;  // scan order is path order here
  const ResultRows descending = FillRows(folders, 0, -1, kToday);
  EXPECT_EQ(descending.Rows.front().Rec, folders.Tail());
  EXPECT_EQ(descending.Rows.back().Rec, folders.Head());
}

}  // namespace
}  // namespace orbelan
