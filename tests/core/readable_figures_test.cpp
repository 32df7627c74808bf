#include "survey/readable_figures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "scan/folder_list.h"
#include "survey/results.h"
#include "survey/saving_table.h"

namespace orbelan {
namespace {

class ReadableFiguresTest : public ::testing::Test {
 protected:
  void SetUp() override { SetDecimalMark("."); }
  void TearDown() override { ResetDecimalMark(); }
};

TEST_F(ReadableFiguresTest, SizesKeepThreeSignificantDigits) {
  EXPECT_EQ(ReadableSizeText(0), "0 bytes");
  EXPECT_EQ(ReadableSizeText(1), "1 byte");
  EXPECT_EQ(ReadableSizeText(999), "999 bytes");
  EXPECT_EQ(ReadableSizeText(1000), "1.00 KB");
  EXPECT_EQ(ReadableSizeText(1234), "1.23 KB");
  EXPECT_EQ(ReadableSizeText(1235), "1.24 KB");  // halves round up
  EXPECT_EQ(ReadableSizeText(12'345), "12.3 KB");
  EXPECT_EQ(ReadableSizeText(629'147'600), "629 MB");
  EXPECT_EQ(ReadableSizeText(1'234'567'890), "1.23 GB");
  EXPECT_EQ(ReadableSizeText(5'000'000'000'000), "5.00 TB");
  EXPECT_EQ(ReadableSizeText(std::numeric_limits<std::int64_t>::max()), "9.22 EB");
}

TEST_F(ReadableFiguresTest, RoundingUpMovesToTheNextDigitOrUnitNeverFourDigits) {
  EXPECT_EQ(ReadableSizeText(9'994), "9.99 KB");
  EXPECT_EQ(ReadableSizeText(9'995), "10.0 KB");
  EXPECT_EQ(ReadableSizeText(99'949), "99.9 KB");
  EXPECT_EQ(ReadableSizeText(99'950), "100 KB");
  EXPECT_EQ(ReadableSizeText(999'499), "999 KB");
  EXPECT_EQ(ReadableSizeText(999'500), "1.00 MB");
  EXPECT_EQ(ReadableSizeText(1'005), "1.01 KB");  // 1.005 exactly: no binary fraction below it
}

TEST_F(ReadableFiguresTest, DecimalMarkIsTheLocales) {
  SetDecimalMark(",");
  EXPECT_EQ(ReadableSizeText(1'234'567), "1,23 MB");
  EXPECT_EQ(ReadableSizeText(629'147'600), "629 MB");
}

TEST_F(ReadableFiguresTest, AgesBeyondSixtyDaysInMonthsThenYears) {
  const double today = 46000;
  EXPECT_EQ(ReadableAgeText(0, today), " ");
  EXPECT_EQ(ReadableAgeText(today + 0.7, today), "today");
  EXPECT_EQ(ReadableAgeText(today - 1, today), "yesterday");
  EXPECT_EQ(ReadableAgeText(today - 60, today), "60 days ago");
  EXPECT_EQ(ReadableAgeText(today - 61, today), "2 months ago");
  EXPECT_EQ(ReadableAgeText(today - 365, today), "11 months ago");  // 11.99 months
  EXPECT_EQ(ReadableAgeText(today - 366, today), "12 months ago");
  EXPECT_EQ(ReadableAgeText(today - 730, today), "23 months ago");
  EXPECT_EQ(ReadableAgeText(today - 731, today), "2 years ago");
  EXPECT_EQ(ReadableAgeText(today - 3838, today), "10 years ago");
  EXPECT_EQ(ReadableAgeText(today + 3, today), "-3 days ago");  // as the exact form
}

TEST_F(ReadableFiguresTest, CellsOfTheSizeAndAgeColumnsOthersAsTheExactForm) {
  const double today = 46000;
  FolderRec rec("/Data/");
  rec.SzFiles = 629'147'600 + 2'500;
  rec.SzZips = 2'500;
  rec.Recent = today - 3838;
  SavingTable savings;
  SavingEstimate estimate;
  estimate.Known = true;
  estimate.Disk = 314'000'000;  // the column shows the disk figure
  savings.Set(rec, estimate);
  const ResultRow row{&rec};
  EXPECT_EQ(ReadableCellText(row, 1, today, &savings), "/Data/");
  EXPECT_EQ(ReadableCellText(row, 2, today, &savings), "629 MB");
  EXPECT_EQ(ReadableCellText(row, 3, today, &savings), "2.50 KB");
  EXPECT_EQ(ReadableCellText(row, 4, today, &savings), CellText(row, 4, today, &savings));
  EXPECT_EQ(ReadableCellText(row, 5, today, &savings), "10 years ago");
  EXPECT_EQ(ReadableCellText(row, 6, today, &savings), CellText(row, 6, today, &savings));
  EXPECT_EQ(ReadableCellText(row, 7, today, &savings), "314 MB");
  EXPECT_EQ(ReadableCellText(row, 7, today, nullptr), "");
}

}  // namespace
}  // namespace orbelan
