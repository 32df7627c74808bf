// The table of saving estimates and the sentence the properties dialog makes of one.

#include "survey/saving_table.h"

#include <gtest/gtest.h>

#include "survey/figure_text.h"
#include "scan/folder_list.h"

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

// An estimate in disk space, with the bytes the contents shrink by.
SavingEstimate DiskEstimate(std::int64_t disk, std::int64_t low, std::int64_t high, std::int64_t bytes) {
  SavingEstimate e;
  e.Known = true;
  e.Disk = disk;
  e.DiskLow = low;
  e.DiskHigh = high;
  e.Saving = e.Low = e.High = bytes;
  return e;
}

TEST_F(SavingTableTest, SentenceForEveryState) {
  EXPECT_EQ(SavingSentence(nullptr, 1000), "Not estimated yet");
  SavingEstimate unreadable;
  EXPECT_EQ(SavingSentence(&unreadable, 1000), "Not estimated: none of its files could be read");
  EXPECT_EQ(SavingSentence(&unreadable, 0), "Not estimated: none of its files could be read");

  auto sentence = [](const SavingEstimate& e) { return SavingSentence(&e, 0); };
  // Tiny files: the disk given back dwarfs what their contents shrink by.
  EXPECT_EQ(sentence(DiskEstimate(19'300'000, 19'300'000, 19'300'000, 1'400'000)),
            "Gives back 19.3 MB of disk (file contents shrink by 1.4 MB)");
  EXPECT_EQ(sentence(DiskEstimate(19'320'000, 18'900'000, 19'640'000, 1'400'000)),
            "Gives back about 19.3 MB of disk, between 18.9 MB and 19.6 MB (file contents shrink by 1.4 MB)");
  // Nothing comes back (a hard link elsewhere keeps the blocks), and what a sample leaves open.
  EXPECT_EQ(sentence(DiskEstimate(0, 0, 0, 970'000)),
            "Gives back no disk space (file contents shrink by 970.0 kB)");
  // ...and says why, once the blocks kept are known: other names, reflinked copies, snapshots.
  SavingEstimate kept = DiskEstimate(0, 0, 0, 970'000);
  kept.Held = 1'000'000;
  kept.Shared = 3'000'000;
  EXPECT_EQ(sentence(kept),
            "Gives back no disk space (file contents shrink by 970.0 kB; 4.0 MB stays in use by other links, "
            "copies or snapshots)");
  EXPECT_EQ(sentence(DiskEstimate(0, 0, 12'288, 5000)),
            "Gives back no disk space, at most 12.3 kB (file contents shrink by 5.0 kB)");
  // What could not be read or measured is named.
  SavingEstimate partial = DiskEstimate(8192, 4096, 40'960, 3000);
  partial.Unreadable = 20'000;
  partial.FsUnmeasured = 1'000'000;
  EXPECT_EQ(sentence(partial),
            "Gives back about 8.2 kB of disk, between 4.1 kB and 41.0 kB (file contents shrink by 3.0 kB; "
            "1.0 MB could not be measured)");
}

TEST_F(SavingTableTest, DecimalSizesReadAsADesktopShowsThem) {
  EXPECT_EQ(DecimalSize(0), "0 bytes");
  EXPECT_EQ(DecimalSize(1), "1 byte");
  EXPECT_EQ(DecimalSize(999), "999 bytes");
  EXPECT_EQ(DecimalSize(1000), "1.0 kB");
  EXPECT_EQ(DecimalSize(999'949), "999.9 kB");
  EXPECT_EQ(DecimalSize(999'950), "1.0 MB");
  EXPECT_EQ(DecimalSize(19'300'000), "19.3 MB");
  EXPECT_EQ(DecimalSize(1'234'567'890'123), "1.2 TB");
  EXPECT_EQ(DecimalSize(-5), "0 bytes");
}

TEST_F(SavingTableTest, GroupedNumbersHaveNoPadding) {
  EXPECT_EQ(GroupedNumber(0), "0");
  EXPECT_EQ(GroupedNumber(14'921), "14,921");
  EXPECT_EQ(GroupedNumber(1'234'567'890'123), "1,234,567,890,123");
}

}  // namespace
}  // namespace orbelan
