// The table of saving estimates and the sentence the properties dialog makes of one.

#include "survey/saving_table.h"

#include <gtest/gtest.h>

#include "survey/figures.h"
#include "survey/folder_list.h"

namespace orbelan {
namespace {

class SavingTableTest : public ::testing::Test {
 protected:
  void SetUp() override { SetThousandsSeparator(","); }
  void TearDown() override { ResetThousandsSeparator(); }

  static SavingEstimate Estimate(std::int64_t saving, std::int64_t low, std::int64_t high) {
    SavingEstimate e;
    e.Known = true;
    e.Saving = saving;
    e.Low = low;
    e.High = high;
    return e;
  }
  static std::string Sentence(std::int64_t saving, std::int64_t low, std::int64_t high,
                              std::int64_t unzipped) {
    const SavingEstimate e = Estimate(saving, low, high);
    return SavingSentence(&e, unzipped);
  }
};

TEST_F(SavingTableTest, EntriesAreFoundByTheirRecordUntilCleared) {
  FolderRec a, b;
  SavingTable table;
  EXPECT_EQ(table.Find(a), nullptr);
  table.Set(a, Estimate(10, 5, 15));
  table.Set(a, Estimate(12, 12, 12));  // a later result replaces the earlier
  table.Set(b, SavingEstimate{});
  ASSERT_NE(table.Find(a), nullptr);
  EXPECT_EQ(table.Find(a)->Saving, 12);
  EXPECT_TRUE(table.Find(a)->Exact());
  ASSERT_NE(table.Find(b), nullptr);
  EXPECT_FALSE(table.Find(b)->Known);
  EXPECT_EQ(table.Size(), 2u);
  table.Erase(b);
  EXPECT_EQ(table.Find(b), nullptr);
  EXPECT_NE(table.Find(a), nullptr);
  table.Clear();
  EXPECT_EQ(table.Find(a), nullptr);
  EXPECT_EQ(table.Size(), 0u);
}

TEST_F(SavingTableTest, SentenceForEveryState) {
  EXPECT_EQ(SavingSentence(nullptr, 1000), "Not estimated yet");
  SavingEstimate unreadable;
  EXPECT_EQ(SavingSentence(&unreadable, 1000), "Not estimated: none of its files could be read");
  EXPECT_EQ(SavingSentence(&unreadable, 0), "Not estimated: none of its files could be read");

  // Sampled: 30% of 614,400,000 with a margin of 3 points.
  EXPECT_EQ(Sentence(184'320'000, 165'888'000, 202'752'000, 614'400'000),
            "Zipping would free about 184,320,000 bytes (30% \u00b1 3%)");
  // The wider side of a lopsided interval is the margin; halves round up.
  EXPECT_EQ(Sentence(500, 450, 625, 1000),
            "Zipping would free about 500 bytes (50% \u00b1 13%)");
  // A wide interval that "±" would carry past 0% or 100% is given by its ends.
  EXPECT_EQ(Sentence(73'000, 16'000, 100'000, 100'000),
            "Zipping would free about 73,000 bytes (73%, between 16% and 100%)");
  EXPECT_EQ(Sentence(20'000, 0, 45'000, 100'000),
            "Zipping would free about 20,000 bytes (20%, between 0% and 45%)");
  // A narrow interval never reads as an exact figure.
  EXPECT_EQ(Sentence(40'000'000, 39'999'999, 40'000'001, 100'000'000),
            "Zipping would free about 40,000,000 bytes (40% \u00b1 1%)");
  // Exact (compressed whole): no "about", no margin.
  EXPECT_EQ(Sentence(1234, 1234, 1234, 4000),
            "Zipping would free 1,234 bytes (31%)");
  // Nothing measured, but a sample that leaves room above it says how much.
  EXPECT_EQ(Sentence(0, 0, 2000, 100'000),
            "Zipping would free nothing measurable (at most 2%)");
  EXPECT_EQ(Sentence(0, 0, 40'090, 100'000),
            "Zipping would free nothing measurable (at most 40%)");
  EXPECT_EQ(Sentence(0, 0, 400, 100'000),
            "Zipping would free nothing measurable");
  EXPECT_EQ(Sentence(0, 0, 0, 100'000),
            "Zipping would free nothing measurable");
  // The share is of the bytes the estimate found when it tells them.
  SavingEstimate grown = Estimate(300, 300, 300);
  grown.Bytes = 3000;
  EXPECT_EQ(SavingSentence(&grown, 1000), "Zipping would free 300 bytes (10%)");
  // No Unzipped bytes to relate to: the bytes alone.
  EXPECT_EQ(Sentence(10, 10, 10, 0),
            "Zipping would free 10 bytes");
}

TEST_F(SavingTableTest, GroupedNumbersHaveNoPadding) {
  EXPECT_EQ(GroupedNumber(0), "0");
  EXPECT_EQ(GroupedNumber(14'921), "14,921");
  EXPECT_EQ(GroupedNumber(1'234'567'890'123), "1,234,567,890,123");
}

}  // namespace
}  // namespace orbelan
