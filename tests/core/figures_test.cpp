#include "scan/folder_figures.h"
#include "survey/figure_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

#include "scan/scan_rules.h"
#include "scan/folder_list.h"

namespace orbelan {
namespace {

// Fills a list without EntryList::Append, which lives in another file.
void SetList(EntryList& list, std::initializer_list<const char*> entries) {
  list.Count = 0;
  for (const char* e : entries) list.Items[list.Count++] = e;
}

FolderRec Sized(std::int64_t files, std::int64_t zips) {
  FolderRec rec;
  rec.SzFiles = files;
  rec.SzZips = zips;
  return rec;
}

// --- Classification -------------------------------------------------------------------

// TallyFile says which files it put into the Unzipped bytes, as IsUnzippedFile does.
TEST(Classification, TallyFileTellsWhatWentIntoUnzipped) {
  ScanRules s;
  s.ZipExts.Append(".zip");
  s.IgnoreExts.Append(".tmp");
  for (const char* name : {"notes.txt", "old.ZIP", "setup.ex_", "scratch.TMP", "readme_", "plain", "a.tar.gz"}) {
    FolderRec rec;
    const bool unzipped = TallyFile(rec, name, 100, 1.0, s);
    EXPECT_EQ(unzipped, IsUnzippedFile(name, s)) << name;
    EXPECT_EQ(unzipped, UnzippedBytes(rec) == 100) << name;
  }
}

TEST(Classification, UnderscoreMarksAnArchiveOnlyAfterADot) {
  ScanRules s;  // ZipExts empty
  FolderRec rec;
  TallyFile(rec, "setup.ex_", 100, 1.0, s);
  EXPECT_EQ(rec.NZips, 1);
  EXPECT_EQ(rec.SzZips, 100);
  TallyFile(rec, "readme_", 50, 1.0, s);  // no dot: empty extension
  EXPECT_EQ(rec.NZips, 1);
  EXPECT_EQ(rec.NFiles, 2);
  EXPECT_EQ(rec.SzFiles, 150);

  EXPECT_TRUE(IsZipExt("._", s));
  EXPECT_FALSE(IsZipExt("", s));
  EXPECT_FALSE(IsZipExt(".zip", s));
}

TEST(Classification, ZipExtsCompareTheLowerCasedExtension) {
  ScanRules s;
  SetList(s.ZipExts, {".zip", ".gz", ".RAR"});
  EXPECT_TRUE(IsZipExt(".zip", s));
  EXPECT_FALSE(IsZipExt(".ZIP", s));  // callers pass it lower-cased
  EXPECT_FALSE(IsZipExt(".rar", s));  // an upper-case entry matches nothing
  EXPECT_FALSE(IsZipExt(".zipx", s));

  FolderRec rec;
  TallyFile(rec, "BACKUP.ZIP", 10, 1.0, s);
  TallyFile(rec, "a.tar.gz", 20, 1.0, s);   // the last dot decides
  TallyFile(rec, "zip", 40, 1.0, s);        // no extension at all
  TallyFile(rec, "old.RAR", 80, 1.0, s);
  EXPECT_EQ(rec.NZips, 2);
  EXPECT_EQ(rec.SzZips, 30);
  EXPECT_EQ(rec.NFiles, 4);
}

TEST(Classification, IgnoreExtsNeedLowerCaseAndTheDot) {
  ScanRules s;
  SetList(s.IgnoreExts, {".doc"});
  EXPECT_TRUE(IsIgnoredFile("REPORT.DOC", s));
  EXPECT_TRUE(IsIgnoredFile("report.doc", s));
  EXPECT_TRUE(IsIgnoredFile(".doc", s));  // a dot file: the whole name is its extension
  EXPECT_FALSE(IsIgnoredFile("report.docx", s));
  EXPECT_FALSE(IsIgnoredFile("doc", s));

  SetList(s.IgnoreExts, {"doc", ".DOC"});
  EXPECT_FALSE(IsIgnoredFile("REPORT.DOC", s));
  EXPECT_FALSE(IsIgnoredFile("report.doc", s));
}

TEST(Classification, OnlyEntriesBelowCountTakePart) {
  ScanRules s;
  SetList(s.IgnoreExts, {".tmp", ".bak"});
  s.IgnoreExts.Count = 1;  // ".bak" is a stale slot
  EXPECT_TRUE(IsIgnoredFile("x.tmp", s));
  EXPECT_FALSE(IsIgnoredFile("x.bak", s));
}

TEST(Classification, FileInBothListsCountsOnlyAsIgnored) {
  ScanRules s;
  SetList(s.IgnoreExts, {".zip"});
  SetList(s.ZipExts, {".zip"});
  FolderRec rec;
  TallyFile(rec, "Data.Zip", 4096, 45000.5, s);
  EXPECT_EQ(rec.NIgno, 1);
  EXPECT_EQ(rec.SzIgno, 4096);
  EXPECT_EQ(rec.NFiles, 0);
  EXPECT_EQ(rec.SzFiles, 0);
  EXPECT_EQ(rec.NZips, 0);
  EXPECT_EQ(rec.SzZips, 0);
  EXPECT_EQ(rec.Recent, 0);
}

TEST(Classification, IgnoredPathsMatchWholeLowerCasedPaths) {
  ScanRules s;
  SetList(s.IgnorePaths, {"/tmp/x"});
  EXPECT_FALSE(IsIgnoredPath("/tmp/x/", s));  // no trailing slash: never matches a folder

  SetList(s.IgnorePaths, {"/usr/", "/tmp/x/"});
  EXPECT_TRUE(IsIgnoredPath("/tmp/x/", s));
  EXPECT_TRUE(IsIgnoredPath("/TMP/X/", s));
  EXPECT_TRUE(IsIgnoredPath("/Tmp/x/", s));
  EXPECT_TRUE(IsIgnoredPath("/usr/", s));
  EXPECT_FALSE(IsIgnoredPath("/tmp/x/y/", s));  // no prefix matching
  EXPECT_FALSE(IsIgnoredPath("/tmp/", s));

  SetList(s.IgnorePaths, {"/TMP/X/"});  // upper-case entries match nothing
  EXPECT_FALSE(IsIgnoredPath("/TMP/X/", s));
}

TEST(Classification, LowerCasingTouchesOnlyAsciiLetters) {
  EXPECT_EQ(LowerAscii("/Home/ÄBC_Z@[`{/"), "/home/Äbc_z@[`{/");
  ScanRules s;
  SetList(s.IgnorePaths, {"/müll/"});
  EXPECT_TRUE(IsIgnoredPath("/MüLL/", s));
  EXPECT_FALSE(IsIgnoredPath("/MÜLL/", s));
}

// --- Counting -------------------------------------------------------------------------

TEST(TallyFile, SumsSizesInSixtyFourBitsAndKeepsTheNewestTime) {
  ScanRules s;
  SetList(s.ZipExts, {".7z"});
  FolderRec rec;
  const std::int64_t big = 5LL * 1024 * 1024 * 1024;  // 5 GiB
  TallyFile(rec, "disk.img", big, 45000.25, s);
  TallyFile(rec, "disk.7z", big, 44000.0, s);  // older: Recent stays
  TallyFile(rec, "same.txt", 1, 45000.25, s);  // equal: not strictly newer
  EXPECT_EQ(rec.NFiles, 3);
  EXPECT_EQ(rec.SzFiles, 2 * big + 1);
  EXPECT_EQ(rec.SzZips, big);
  EXPECT_EQ(rec.Recent, 45000.25);
  TallyFile(rec, "new.txt", 0, 45001.0, s);
  EXPECT_EQ(rec.Recent, 45001.0);
  EXPECT_EQ(UnzippedBytes(rec), big + 1);
}

TEST(TallyFile, SparseSizesBeyondSixtyFourBitsStopAtTheLargestSum) {
  // tmpfs lets anyone make files of an apparent size of 2^63 - 1 bytes.
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  ScanRules s;
  SetList(s.ZipExts, {".7z"});
  SetList(s.IgnoreExts, {".tmp"});
  FolderRec rec;
  for (const char* name : {"a.7z", "b.7z", "c.tmp", "d.tmp"}) TallyFile(rec, name, kMax, 45000.0, s);
  TallyFile(rec, "e.txt", kMax, 45000.0, s);
  EXPECT_EQ(rec.NFiles, 3);
  EXPECT_EQ(rec.SzFiles, kMax);
  EXPECT_EQ(rec.SzZips, kMax);
  EXPECT_EQ(rec.SzIgno, kMax);
  EXPECT_TRUE(MeetsMinSize(rec, 65535));
  EXPECT_EQ(ZipPercent(rec), 100);
}

// --- Derived figures ------------------------------------------------------------------

TEST(ZipPercent, RoundsHalvesToEvenExactly) {
  EXPECT_EQ(ZipPercent(Sized(8, 1)), 12);      // 12.5
  EXPECT_EQ(ZipPercent(Sized(200, 27)), 14);   // 13.5
  EXPECT_EQ(ZipPercent(Sized(40, 23)), 58);    // 57.5, which floating point sees as 57.4999...
  EXPECT_EQ(ZipPercent(Sized(10000, 1999)), 20);
  EXPECT_EQ(ZipPercent(Sized(3, 1)), 33);
  EXPECT_EQ(ZipPercent(Sized(3, 2)), 67);
  EXPECT_EQ(ZipPercent(Sized(500, 500)), 100);
  const std::int64_t huge = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(ZipPercent(Sized(huge, huge / 2)), 50);  // no overflow in Z x 100
}

TEST(ZipPercent, BlankWithoutCountedBytes) {
  EXPECT_EQ(ZipPercent(Sized(0, 0)), 0);
  EXPECT_EQ(ZipPercent(Sized(-5, 3)), 0);
  EXPECT_EQ(PercentText(Sized(0, 0)), " ");
  EXPECT_EQ(PercentText(Sized(100, 37)), "37%");
  EXPECT_EQ(PercentText(Sized(100, 0)), "0%");
  EXPECT_EQ(PercentText(Sized(100, 100)), "100%");
}

TEST(ZipPriority, UnzippedHundredThousandsPlusFiftyOrFortyNine) {
  EXPECT_EQ(ZipPriority(Sized(1000000, 0)), 60);       // P = 0
  EXPECT_EQ(ZipPriority(Sized(1333333, 333333)), 59);  // U = 1,000,000, P = 25
  EXPECT_EQ(ZipPriority(Sized(5000, 5000)), 0);        // P = 100, U = 0
  EXPECT_EQ(ZipPriority(Sized(0, 0)), 0);
  EXPECT_EQ(ZipPriority(Sized(250000, 0)), 52);   // R = 2.5 -> 2
  EXPECT_EQ(ZipPriority(Sized(350000, 0)), 54);   // R = 3.5 -> 4
  EXPECT_EQ(ZipPriority(Sized(1250000, 0)), 62);  // R = 12.5 -> 12 (double gives 12.500000000000002)
  EXPECT_EQ(ZipPriority(Sized(149999, 0)), 51);
  EXPECT_EQ(ZipPriority(Sized(1024, 0)), 50);
  EXPECT_EQ(ZipPriority(Sized(5LL << 30, 0)), 53687 + 50);  // 5 GiB
}

TEST(ZipPriority, NegativeResultBecomesZero) {
  // Cannot come from counted files, but the rule holds for any record.
  FolderRec rec = Sized(0, 10000000);  // U = -10,000,000, P = 0: -100 + 50
  EXPECT_EQ(ZipPriority(rec), 0);
}

TEST(MinSize, KilobytesMustBeExceeded) {
  EXPECT_FALSE(MeetsMinSize(Sized(1023, 0), 0));
  EXPECT_TRUE(MeetsMinSize(Sized(1024, 0), 0));
  EXPECT_FALSE(MeetsMinSize(Sized(103423, 0), 100));
  EXPECT_TRUE(MeetsMinSize(Sized(103424, 0), 100));
  EXPECT_FALSE(MeetsMinSize(Sized(65536LL * 1024 - 1, 0), 65535));
  EXPECT_TRUE(MeetsMinSize(Sized(65536LL * 1024, 0), 65535));
  EXPECT_FALSE(MeetsMinSize(Sized(-5000, 0), 0));
  FolderRec ignoredOnly;
  ignoredOnly.SzIgno = 1 << 20;
  EXPECT_FALSE(MeetsMinSize(ignoredOnly, 0));
}

// --- Age text -------------------------------------------------------------------------

TEST(AgeText, CountsCalendarDaysToToday) {
  const double today = 46000.0;
  EXPECT_EQ(AgeText(today, today), "today");
  EXPECT_EQ(AgeText(today + 0.999, today), "today");
  EXPECT_EQ(AgeText(today - 1 + 23.0 / 24 + 59.0 / 1440, today), "yesterday");  // 23:59
  EXPECT_EQ(AgeText(today - 0.0001, today), "yesterday");
  EXPECT_EQ(AgeText(today - 3 + 0.5, today), "3 days ago");
  EXPECT_EQ(AgeText(today - 12, today), "12 days ago");
  EXPECT_EQ(AgeText(today + 2.5, today), "-2 days ago");
  EXPECT_EQ(AgeText(today + 1, today), "-1 days ago");
  EXPECT_EQ(AgeText(today - 0.5, today + 0.75), "yesterday");  // today's time of day does not count
}

TEST(AgeText, BlankWithoutCountedFiles) {
  EXPECT_EQ(AgeText(0, 46000), " ");
  EXPECT_EQ(AgeText(-3, 46000), " ");
  EXPECT_EQ(AgeText(std::nan(""), 46000), " ");
}

TEST(AgeText, TodayIsTheLocalCalendarDate) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "UTC0", 1);
  tzset();
  const std::time_t now = std::time(nullptr);
  const double today = LocalToday();
  const double expected = std::floor(static_cast<double>(now) / 86400) + 25569;  // 1970-01-01
  if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  tzset();
  EXPECT_EQ(today, expected);
  EXPECT_EQ(AgeText(LocalToday() + 0.5), "today");
  EXPECT_EQ(AgeText(LocalToday() - 3), "3 days ago");
}

// --- Size text ------------------------------------------------------------------------

class SizeTextTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetThousandsSeparator(); }
};

TEST_F(SizeTextTest, RightAlignedInTwelveWithCommas) {
  SetThousandsSeparator(",");
  EXPECT_EQ(SizeText(1200000), "   1,200,000");
  EXPECT_EQ(SizeText(0), "           0");
  EXPECT_EQ(SizeText(999), "         999");
  EXPECT_EQ(SizeText(1000), "       1,000");
  EXPECT_EQ(SizeText(999999999), " 999,999,999");
  EXPECT_EQ(SizeText(1000000000), "1,000,000,000");  // wider: not cut
  EXPECT_EQ(SizeText(std::numeric_limits<std::int64_t>::max()), "9,223,372,036,854,775,807");
}

TEST_F(SizeTextTest, NegativeNumbersKeepTheirSign) {
  SetThousandsSeparator(",");
  EXPECT_EQ(SizeText(-1234), "      -1,234");
  EXPECT_EQ(SizeText(-999), "        -999");
  EXPECT_EQ(SizeText(std::numeric_limits<std::int64_t>::min()), "-9,223,372,036,854,775,808");
}

TEST_F(SizeTextTest, OtherSeparatorsAndTheirWidth) {
  SetThousandsSeparator(".");
  EXPECT_EQ(SizeText(1200000), "   1.200.000");
  SetThousandsSeparator("");  // a locale without one falls back to a comma
  EXPECT_EQ(SizeText(1200000), "   1,200,000");
  // U+202F, three bytes: the width counts it as one character.
  SetThousandsSeparator("\u202f");
  EXPECT_EQ(SizeText(1200000), "   1\u202f200\u202f000");
  EXPECT_EQ(SizeText(1000), "       1\u202f000");
  EXPECT_EQ(SizeText(999999999), " 999\u202f999\u202f999");
}

TEST_F(SizeTextTest, CLocaleHasNoSeparatorSoACommaIsUsed) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  std::setlocale(LC_NUMERIC, "C");
  ResetThousandsSeparator();
  EXPECT_EQ(ThousandsSeparator(), ",");
  EXPECT_EQ(SizeText(1234567), "   1,234,567");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

}  // namespace
}  // namespace orbelan
