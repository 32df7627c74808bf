#include "survey/results.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "scan/scan_rules.h"
#include "survey/figure_text.h"
#include "scan/folder_list.h"
#include "survey/saving_table.h"

namespace orbelan {
namespace {

constexpr double kToday = 46000.0;

class ResultsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetThousandsSeparator(","); }
  void TearDown() override { ResetThousandsSeparator(); }

  FolderRec& Add(const std::string& path, std::int64_t files, std::int64_t zips = 0,
                 double recent = kToday) {
    folders.AddFolder(path, settings);
    FolderRec& rec = *folders.Tail();
    rec.SzFiles = files;
    rec.SzZips = zips;
    rec.Recent = recent;
    return rec;
  }

  std::vector<std::string> Column(const ResultRows& rows, int column,
                                  const SavingTable* savings = nullptr) const {
    std::vector<std::string> out;
    for (const ResultRow& row : rows.Rows) out.push_back(CellText(row, column, kToday, savings));
    return out;
  }

  std::vector<std::string> Paths(int sortColumn) const {
    return Column(FillRows(folders, 0, sortColumn, kToday), 1);
  }

  ScanRules settings;
  FolderList folders;
};

using Texts = std::vector<std::string>;

// --- Filling --------------------------------------------------------------------------

TEST_F(ResultsTest, RowsOnlyForFoldersAboveTheMinimumSize) {
  Add("/a/", 1023);
  const FolderRec& b = Add("/b/", 1024);
  Add("/c/", 103423);
  Add("/d/", 103424);
  ResultRows rows = FillRows(folders, 0, 1, kToday);
  EXPECT_EQ(Column(rows, 1), (Texts{"/b/", "/c/", "/d/"}));
  EXPECT_EQ(rows.Rows[0].Rec, &b);
  EXPECT_EQ(Column(FillRows(folders, 100, 1, kToday), 1), (Texts{"/d/"}));
}

TEST_F(ResultsTest, CellTextsOfEveryColumn) {
  Add("/Data/", 1200000 + 3000, 3000, kToday - 11.5);
  Add("/Zips/", 2048, 2048, kToday + 0.3);
  ResultRows rows = FillRows(folders, 0, 1, kToday);
  ASSERT_EQ(rows.Rows.size(), 2u);
  const ResultRow& data = rows.Rows[0];
  EXPECT_EQ(CellText(data, 1, kToday), "/Data/");
  EXPECT_EQ(CellText(data, 2, kToday), "   1,200,000");
  EXPECT_EQ(CellText(data, 3, kToday), "       3,000");
  EXPECT_EQ(CellText(data, 4, kToday), "0%");
  EXPECT_EQ(CellText(data, 5, kToday), "12 days ago");
  EXPECT_EQ(CellText(data, 6, kToday), "62");
  EXPECT_EQ(CellText(data, 7, kToday), "");
  // A folder of archives only.
  EXPECT_EQ(CellText(rows.Rows[1], 4, kToday), "100%");
  EXPECT_EQ(CellText(rows.Rows[1], 6, kToday), "0");
  EXPECT_EQ(CellText(rows.Rows[1], 5, kToday), "today");
}

TEST_F(ResultsTest, PathTextKeepsItsRealCaseAndIsTrimmed) {
  Add(" \t/Home/Ann/Ä Docs/\n", 2000);
  Add("/x/\x7f", 2000);  // DEL is not below 33
  ResultRows rows = FillRows(folders, 0, 1, kToday);
  EXPECT_EQ(Column(rows, 1), (Texts{"/Home/Ann/Ä Docs/", "/x/\x7f"}));
  EXPECT_EQ(rows.Rows[0].Rec->Path(), " \t/Home/Ann/Ä Docs/\n");
}

TEST_F(ResultsTest, FoldersDifferingOnlyInCaseAreTwoRowsSortedTogether) {
  // Scan order: photos/ first, then Photos/, between a/ and z/ whatever their case.
  Add("/z/", 2000);
  Add("/photos/", 2000);
  Add("/A/", 2000);
  Add("/Photos/", 2000);
  EXPECT_EQ(Paths(1), (Texts{"/A/", "/photos/", "/Photos/", "/z/"}));
  EXPECT_EQ(Paths(-1), (Texts{"/z/", "/Photos/", "/photos/", "/A/"}));
}

TEST_F(ResultsTest, GaugeTruncatesTheOverallShare) {
  Add("/a/", 3000, 1000);
  Add("/b/", 7000, 0);
  Add("/small/", 1000, 1000);  // below the minimum: not in the sums
  EXPECT_EQ(FillRows(folders, 0, 1, kToday).GaugePercent, 10);

  folders.ResetFolderList();
  Add("/c/", 10000, 1999);
  ResultRows rows = FillRows(folders, 0, 1, kToday);
  EXPECT_EQ(rows.GaugePercent, 19);
  EXPECT_EQ(CellText(rows.Rows[0], 4, kToday), "20%");

  folders.ResetFolderList();
  Add("/d/", 10000, 2900);  // 29%: floating point would give 28.999...
  EXPECT_EQ(FillRows(folders, 0, 1, kToday).GaugePercent, 29);
}

TEST_F(ResultsTest, GaugeSumsBeyondFourGigabytes) {
  for (int i = 0; i < 3; ++i) Add("/big" + std::to_string(i) + "/", 2LL << 30, 1LL << 30);
  Add("/e/", 6LL << 30, 0);
  EXPECT_EQ(FillRows(folders, 0, 1, kToday).GaugePercent, 25);
}

TEST_F(ResultsTest, GaugeSumsBeyondSixtyFourBits) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  Add("/a/", kMax, kMax);
  Add("/b/", kMax, 0);
  Add("/c/", kMax, 0);
  EXPECT_EQ(FillRows(folders, 0, 1, kToday).GaugePercent, 33);
}

TEST_F(ResultsTest, NoRowsMeansGaugeZero) {
  EXPECT_TRUE(FillRows(folders, 0, 1, kToday).Rows.empty());
  Add("/a/", 500, 500);
  ResultRows rows = FillRows(folders, 0, 1, kToday);
  EXPECT_TRUE(rows.Rows.empty());
  EXPECT_EQ(rows.GaugePercent, 0);
}

// --- Sorting --------------------------------------------------------------------------

TEST_F(ResultsTest, NumericColumnsSortByValue) {
  Add("/g/", 1000000000);
  Add("/m/", 1000000);
  Add("/k/", 999999);
  EXPECT_EQ(Paths(2), (Texts{"/k/", "/m/", "/g/"}));
  EXPECT_EQ(Paths(-2), (Texts{"/g/", "/m/", "/k/"}));

  folders.ResetFolderList();
  Add("/p100/", 5000000);
  Add("/p99/", 4900000);
  Add("/p55/", 500000);
  EXPECT_EQ(Column(FillRows(folders, 0, 6, kToday), 6), (Texts{"55", "99", "100"}));

  folders.ResetFolderList();
  Add("/hundred/", 2000, 2000);
  Add("/ten/", 10000, 1000);
  Add("/five/", 10000, 500);
  EXPECT_EQ(Column(FillRows(folders, 0, 4, kToday), 4), (Texts{"5%", "10%", "100%"}));
  EXPECT_EQ(Column(FillRows(folders, 0, 3, kToday), 1), (Texts{"/five/", "/ten/", "/hundred/"}));
}

TEST_F(ResultsTest, MostRecentSortsFromNewestToOldest) {
  Add("/old/", 2000, 0, kToday - 12);
  Add("/three/", 2000, 0, kToday - 3);
  Add("/yesterday/", 2000, 0, kToday - 0.2);
  Add("/today/", 2000, 0, kToday + 0.9);
  Add("/future/", 2000, 0, kToday + 2);  // "-2 days ago" sorts as 2
  Add("/two/", 2000, 0, kToday - 2);
  EXPECT_EQ(Paths(5), (Texts{"/today/", "/yesterday/", "/future/", "/two/", "/three/", "/old/"}));
  EXPECT_EQ(Paths(-5), (Texts{"/old/", "/three/", "/two/", "/future/", "/yesterday/", "/today/"}));
}

TEST_F(ResultsTest, PathsSortByUnsignedBytesPrefixFirst) {
  Add("/b/", 2000);
  Add("/a/ü/", 2000);
  Add("/a/", 2000);
  Add("/a/z/", 2000);
  Add("/A/", 2000);  // sorts as "/a/" does, after it (scan order)
  EXPECT_EQ(Paths(1), (Texts{"/a/", "/A/", "/a/z/", "/a/ü/", "/b/"}));
}

TEST_F(ResultsTest, EqualRowsKeepScanOrderAscendingAndReverseDescending) {
  const FolderRec& first = Add("/first/", 2000);
  const FolderRec& second = Add("/second/", 2000);
  ResultRows up = FillRows(folders, 0, 2, kToday);
  EXPECT_EQ(up.Rows[0].Rec, &first);
  EXPECT_EQ(up.Rows[1].Rec, &second);
  ResultRows down = FillRows(folders, 0, -2, kToday);
  EXPECT_EQ(down.Rows[0].Rec, &second);
  EXPECT_EQ(down.Rows[1].Rec, &first);
}

TEST_F(ResultsTest, BlankColumnKeepsScanOrder) {
  Add("/c/", 9000);
  Add("/a/", 2000);
  Add("/b/", 5000);
  EXPECT_EQ(Paths(7), (Texts{"/c/", "/a/", "/b/"}));
  EXPECT_EQ(Paths(-7), (Texts{"/b/", "/a/", "/c/"}));
}

SavingEstimate Estimated(std::int64_t saving, std::int64_t low, std::int64_t high) {
  SavingEstimate estimate;
  estimate.Known = true;
  estimate.Disk = saving;  // the column shows the disk figures
  estimate.DiskLow = low;
  estimate.DiskHigh = high;
  return estimate;
}

TEST_F(ResultsTest, SavingColumnShowsKnownEstimatesAndSortsTheRestAfterThem) {
  Add("/none1/", 9000);
  const FolderRec& big = Add("/big/", 5000);
  const FolderRec& unreadable = Add("/unreadable/", 2000);
  const FolderRec& small = Add("/small/", 8000);
  Add("/none2/", 3000);
  const FolderRec& tie = Add("/tie/", 4000);
  SavingTable savings;
  savings.Set(big, Estimated(1'500'000, 1'400'000, 1'600'000));
  savings.Set(small, Estimated(700, 700, 700));
  savings.Set(tie, Estimated(700, 600, 800));
  savings.Set(unreadable, SavingEstimate{});  // tried, nothing could be read: no figure

  auto paths = [&](int sortColumn) {
    return Column(FillRows(folders, 0, sortColumn, kToday, &savings), 1);
  };
  // Estimates ascending, equal ones in scan order; then the rest in scan order.
  EXPECT_EQ(paths(7), (Texts{"/small/", "/tie/", "/big/", "/none1/", "/unreadable/", "/none2/"}));
  // Descending reverses each part, so rows without an estimate stay last.
  EXPECT_EQ(paths(-7), (Texts{"/big/", "/tie/", "/small/", "/none2/", "/unreadable/", "/none1/"}));
  // The other columns are unchanged by the estimates.
  EXPECT_EQ(paths(2), (Texts{"/unreadable/", "/none2/", "/tie/", "/big/", "/small/", "/none1/"}));

  ResultRows rows = FillRows(folders, 0, 7, kToday, &savings);
  EXPECT_EQ(Column(rows, 7, &savings), (Texts{"         700", "         700", "   1,500,000", "", "", ""}));
  EXPECT_EQ(CellText(rows.Rows[2], 7, kToday), "");  // without the table the column is blank
}

// --- The comparison rules on texts ----------------------------------------------------

TEST(CompareNumberText, LongerIsGreaterThenBytes) {
  EXPECT_EQ(CompareNumberText("   1,000,000", "     999,999"), 1);
  EXPECT_EQ(CompareNumberText("1,000,000,000", " 999,999,999"), 1);
  EXPECT_EQ(CompareNumberText("5%", "10%"), -1);
  EXPECT_EQ(CompareNumberText("100%", "99%"), 1);
  EXPECT_EQ(CompareNumberText(" ", "0%"), -1);
  EXPECT_EQ(CompareNumberText("7", "7"), -1);  // equal texts
  EXPECT_EQ(CompareNumberText("8", "7"), 1);
  EXPECT_EQ(CompareNumberText("9", "10"), -1);
  EXPECT_EQ(CompareNumberText("10", "9"), 1);
}

TEST(AgeKey, ReadsOnlyTheDigits) {
  EXPECT_EQ(AgeKey("today"), 0);
  EXPECT_EQ(AgeKey("yesterday"), 1);
  EXPECT_EQ(AgeKey(" "), 0);
  EXPECT_EQ(AgeKey("someday"), 0);
  EXPECT_EQ(AgeKey("12 days ago"), 12);
  EXPECT_EQ(AgeKey("-2 days ago"), 2);
  EXPECT_EQ(AgeKey("1a2b3"), 123);
  EXPECT_EQ(AgeKey(std::string(40, '9')), std::numeric_limits<std::int64_t>::max());
}

TEST(CompareRows, EqualKeysGiveMinusOneAndDescendingNegates) {
  FolderRec r1, r2;
  r1.SetPath("/a/");  // the Path column compares lower-cased texts: "/a/" before "/B/"
  r2.SetPath("/B/");
  r1.SzFiles = 5000;
  r2.SzFiles = 6000;
  ResultRow a{&r1}, b{&r2}, a2{&r1};
  EXPECT_EQ(CompareRows(a, b, 1, kToday), -1);
  EXPECT_EQ(CompareRows(b, a, 1, kToday), 1);
  EXPECT_EQ(CompareRows(b, a, -1, kToday), -1);
  EXPECT_EQ(CompareRows(a, a2, 1, kToday), -1);
  EXPECT_EQ(CompareRows(a, a2, -1, kToday), 1);
  EXPECT_EQ(CompareRows(b, a, 2, kToday), 1);
  EXPECT_EQ(CompareRows(a, b, 7, kToday), -1);
  EXPECT_EQ(CompareRows(b, a, -7, kToday), 1);
}

TEST(NextSortColumn, SecondClickReversesThirdRestores) {
  EXPECT_EQ(NextSortColumn(1, 1), -1);  // the state at start, Path clicked
  EXPECT_EQ(NextSortColumn(-1, 3), 3);  // then Zipped
  EXPECT_EQ(NextSortColumn(3, 3), -3);
  EXPECT_EQ(NextSortColumn(-3, 3), 3);
  EXPECT_EQ(NextSortColumn(-1, 1), 1);
  EXPECT_EQ(NextSortColumn(5, 7), 7);
}

// The fast sort must give exactly the order of the text rules: a stable sort in scan
// order by CompareRows, reversed as a whole when descending.
std::vector<const FolderRec*> OrderByTextRules(const ResultRows& built, int sortColumn) {
  std::vector<ResultRow> rows = built.Rows;
  const int k = sortColumn < 0 ? -sortColumn : sortColumn;
  // Put them back in scan order (records live in one deque, in scan order).
  std::sort(rows.begin(), rows.end(), [](const ResultRow& a, const ResultRow& b) {
    return a.Rec->NFiles < b.Rec->NFiles;  // NFiles holds the scan index here
  });
  std::stable_sort(rows.begin(), rows.end(), [k](const ResultRow& a, const ResultRow& b) {
    return CompareRows(b, a, k, kToday) > 0;  // b strictly after a
  });
  if (sortColumn < 0) std::reverse(rows.begin(), rows.end());
  std::vector<const FolderRec*> out;
  for (const ResultRow& r : rows) out.push_back(r.Rec);
  return out;
}

// Records of every kind: sizes below the minimum, around and above 1e9, equal keys,
// blank and future ages; paths with shared starts, case, bytes above 127, a NUL inside
// and prefixes of one another.
void AddRandomRecords(FolderList& folders, const ScanRules& settings, const std::string& start,
                      std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  auto pick = [&](std::int64_t lo, std::int64_t hi) {
    return std::uniform_int_distribution<std::int64_t>(lo, hi)(rng);
  };
  const std::string dirs[] = {"a/", "A/b/", "a/b/", "z/", "ä/", "a/b/c/", " q/",
                              std::string("a/b\0c/", 6), "a/b/cdefghijklmnop/"};
  for (int i = 0; i < 3000; ++i) {
    std::int64_t files = 0;
    switch (pick(0, 4)) {
      case 0: files = pick(0, 3000); break;
      case 1: files = pick(1024, 1100); break;
      case 2: files = pick(900000000, 1100000000); break;
      case 3: files = pick(1, 5) * 1000000000LL; break;
      default: files = pick(0, std::int64_t{1} << 40); break;
    }
    const std::int64_t zips = pick(0, 3) == 0 ? 0 : (pick(0, 1) ? files : pick(0, files));
    double recent = 0;
    switch (pick(0, 3)) {
      case 0: recent = 0; break;                               // blank age
      case 1: recent = kToday + pick(-3, 3) + 0.5; break;      // today, yesterday, future
      default: recent = kToday - pick(0, 4000) + pick(0, 9) / 10.0; break;
    }
    folders.AddFolder(start + dirs[pick(0, 8)] + std::to_string(pick(0, 50)) + "/", settings);
    FolderRec& rec = *folders.Tail();
    rec.SzFiles = files;
    rec.SzZips = zips;
    rec.Recent = recent;
    rec.NFiles = i;  // scan index, read back by OrderByTextRules
  }
}

TEST_F(ResultsTest, FastSortEqualsTheTextRulesOnRandomRecords) {
  // Under one start folder, as a scan gives them, and under several.
  for (const char* start : {"/home/Ann/Start/", "/"}) {
    folders.ResetFolderList();
    AddRandomRecords(folders, settings, start, 20261207);
    for (const char* sep : {",", ".", "\u202f", "\u00a0"}) {
      SetThousandsSeparator(sep);
      for (int column = 1; column <= kColumnCount; ++column) {
        for (int sortColumn : {column, -column}) {
          ResultRows rows = FillRows(folders, 0, sortColumn, kToday);
          std::vector<const FolderRec*> got;
          for (const ResultRow& r : rows.Rows) got.push_back(r.Rec);
          ASSERT_GT(got.size(), 1000u);
          EXPECT_EQ(got, OrderByTextRules(rows, sortColumn))
              << "start " << start << ", separator " << sep << ", sort column " << sortColumn;
        }
      }
    }
  }
}

}  // namespace
}  // namespace orbelan
