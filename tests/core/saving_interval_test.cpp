// The interval's arithmetic, pinned to numbers worked by hand: a term dropped or changed
// moves an end by a known amount, which a test that only checks coverage would not see.

#include "estimate/saving_interval.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace orbelan {
namespace {

// 16 readable draws of mean 0.5, variance 0.04, over 1,000,000 bytes of which 500,000 were
// never seen: t(15) = 2.131, sampling = 2.131 * 0.2 / 4 = 0.10655; rule of three caps the
// unseen share at 3/16 = 0.1875 (of the 0.5 unseen).
DrawSums SixteenDraws() {
  DrawSums d;
  for (int i = 0; i < 16; ++i) d.Readable(0.5);
  d.draws = 16;
  d.variance = 0.04;
  d.total = 1'000'000;
  d.unseen = 500'000;
  d.read = 4096;
  return d;
}

TEST(SavingInterval, EndsFollowFromEachTerm) {
  const SavingEstimate e = SampledInterval(SixteenDraws());
  ASSERT_TRUE(e.Known);
  EXPECT_EQ(e.Saving, 500'000);
  // low = 0.5 - 0.10655 - 0.5 * 0.1875 - 0.005 = 0.294700
  EXPECT_EQ(e.Low, 294'700);
  // high = 0.5 + 0.10655 + 0.5 * 0.1875 + 0.005 = 0.705300
  EXPECT_EQ(e.High, 705'300);
  EXPECT_EQ(e.Sampled, 4096);
}

TEST(SavingInterval, UnseenShareFollowsTheRuleOfThree) {
  // With plenty unseen the cap is 3/m; with 48 draws it is 1/16 = 0.0625.
  DrawSums d = SixteenDraws();
  d.draws = 48;
  d.readable = 0;
  d.sum = 0;
  for (int i = 0; i < 48; ++i) d.Readable(0.5);
  d.variance = 0;  // isolates the unseen term
  const SavingEstimate e = SampledInterval(d);
  // low = 0.5 - 0.5 * 0.0625 - 0.005 = 0.46375; high = 0.5 + 0.03125 + 0.005 = 0.53625
  EXPECT_EQ(e.Low, 463'750);
  EXPECT_EQ(e.High, 536'250);
  // Less unseen than the cap: the unseen share itself (0.01).
  d.unseen = 10'000;
  const SavingEstimate small = SampledInterval(d);
  EXPECT_EQ(small.Low, 1'000'000 * (0.5 - 0.005 - 0.005));
  EXPECT_EQ(small.High, 1'000'000 * (0.5 + 0.005 + 0.005));
}

TEST(SavingInterval, UnreadableDrawsCountAsNothingBelowAndAllAbove) {
  DrawSums d;
  for (int i = 0; i < 12; ++i) d.Readable(0.6);
  d.draws = 16;  // 4 unreadable: q = 0.25
  d.unreadableDraws = 4;
  d.variance = 0;
  d.total = 2'000'000;
  d.unseen = 0;
  d.unreadableBytes = 300'000;
  const SavingEstimate e = SampledInterval(d);
  // low = 0.75 * 0.6 - 0.005 = 0.445; high = 0.75 * 0.6 + 0.25 + 0.005 = 0.705
  EXPECT_EQ(e.Low, 890'000);
  EXPECT_EQ(e.High, 1'410'000);
  EXPECT_EQ(e.Saving, 1'200'000);
  EXPECT_EQ(e.Unreadable, 300'000);
}

TEST(SavingInterval, BlockAllowanceWidensUpwardsOnlyByTheBias) {
  DrawSums d = SixteenDraws();
  d.unseen = 0;
  d.variance = 0;
  d.biasUp = PrimingBias(0, 2048);  // cold 2 KiB blocks: 0.11
  const SavingEstimate e = SampledInterval(d);
  EXPECT_EQ(e.Low, 495'000);
  EXPECT_EQ(e.High, 610'000);
}

TEST(SavingInterval, EndsAreClippedAndNothingReadableIsUnknown) {
  DrawSums d;
  d.Readable(1.0);
  d.draws = 1;
  d.variance = 0.25;
  d.total = 1000;
  d.unseen = 1000;
  const SavingEstimate one = SampledInterval(d);
  EXPECT_EQ(one.Low, 0);
  EXPECT_EQ(one.High, 1000);
  EXPECT_EQ(one.Saving, 1000);

  DrawSums none;
  none.draws = 4;
  none.unreadableDraws = 4;
  none.total = 1000;
  none.read = 0;
  none.unreadableBytes = 1000;
  const SavingEstimate unknown = SampledInterval(none);
  EXPECT_FALSE(unknown.Known);
  EXPECT_EQ(unknown.Unreadable, 1000);
}

TEST(SavingInterval, StudentQuantilesAndBiasSteps) {
  EXPECT_DOUBLE_EQ(TwoSided95(0), 12.706);
  EXPECT_DOUBLE_EQ(TwoSided95(3), 3.182);
  EXPECT_DOUBLE_EQ(TwoSided95(29), 2.045);
  EXPECT_NEAR(TwoSided95(30), 2.04, 1e-12);
  EXPECT_NEAR(TwoSided95(1000), 1.9624, 1e-12);
  EXPECT_DOUBLE_EQ(PrimingBias(16384, 16384), 0.005);
  EXPECT_DOUBLE_EQ(PrimingBias(8192, 8192), 0.015);
  EXPECT_DOUBLE_EQ(PrimingBias(4096, 4096), 0.025);
  EXPECT_DOUBLE_EQ(PrimingBias(0, 4096), 0.08);
  EXPECT_DOUBLE_EQ(PrimingBias(0, 2048), 0.11);
  EXPECT_EQ(ToBytes(-1), 0);
  EXPECT_EQ(ToBytes(std::nan("")), 0);
  EXPECT_EQ(ToBytes(1e19), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(ToBytes(2.5), 3);
}

}  // namespace
}  // namespace orbelan
