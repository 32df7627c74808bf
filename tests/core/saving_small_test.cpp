// The small folders' interval, pinned to numbers worked by hand: each term moves an end by a
// known amount, which a test that only checks coverage would not see.

#include "estimate/saving_small.h"
#include "estimate/saving_small_larger.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "estimate/noise_screen.h"
#include "estimate/saving_interval.h"
#include "estimate/saving_io.h"
#include "estimate/small_yardstick.h"
#include "tests/core/file_helpers.h"

namespace orbelan {
namespace {

// 3,000 bytes deflated exactly (1,000 saved) and 100,000 bytes the fast codec took to
// 50,000, four slices with ratios 0.70, 0.74, 0.72, 0.76: mean 0.73, their spread 0.0258 is
// below the least assumed (0.04), so the half-width is t(3) 0.04 / 2 = 3.182 * 0.02 = 0.06364;
// R = 0.73 - 0.003 = 0.727.
SmallSums Calibrated() {
  SmallSums s;
  s.exactBytes = 3000;
  s.exactSaving = 1000;
  s.modelBytes = 100'000;
  s.modelFast = 50'000;
  s.ratios = {0.70, 0.74, 0.72, 0.76};
  return s;
}

TEST(SmallFolderInterval, EndsFollowFromEachTerm) {
  const SavingEstimate e = SmallFolderInterval(Calibrated());
  ASSERT_TRUE(e.Known);
  // 1,000 + 100,000 - 0.727 * 50,000
  EXPECT_EQ(e.Saving, 64'650);
  // 1,000 + 100,000 - (0.727 + 0.06364) * 50,000 - 0.005 * 100,000
  EXPECT_EQ(e.Low, 60'968);
  // 1,000 + 100,000 - (0.727 - 0.06364) * 50,000 + 0.005 * 100,000
  EXPECT_EQ(e.High, 68'332);
  // The width: about 7 points of the folder's bytes, where four draws of the plain sampler
  // gave several tens.
  EXPECT_LT(static_cast<double>(e.High - e.Low) / 103'000, 0.075);
}

TEST(SmallFolderInterval, SpreadOfTheSlicesWidensIt) {
  SmallSums s = Calibrated();
  s.ratios = {0.5, 0.9, 0.6, 0.8};  // mean 0.7, spread 0.18257: half 3.182 * 0.18257 / 2 = 0.29047
  const SavingEstimate e = SmallFolderInterval(s);
  EXPECT_EQ(e.Saving, 1000 + 100'000 - 34'850);                 // R = 0.697
  EXPECT_EQ(e.Low, 1000 + 100'000 - 49'374 - 500);              // (0.697 + 0.29047) * 50,000
  EXPECT_EQ(e.High, 1000 + 100'000 - 20'326 + 500);             // (0.697 - 0.29047) * 50,000
}

// One of the folder's files measured whole (ratio 0.62) and cut into cold slices (mean 0.60,
// spread 0.05 from place to place): the folder's files differ by at least 0.02, the slices
// by max(0.0258, 0.05, 0.04) = 0.05, so the slices weigh w = 0.0004 / (0.0004 + 0.0025 / 4)
// = 0.39024 and R = 0.62 + 0.39024 (0.73 - 0.60) = 0.67073, give or take
// hypot(3.182 sqrt(w^2 0.0025 / 4 + (1 - w)^2 0.0004), 1.96 * 0.015) = 0.05774. Slices
// that happened on unlike places of alike files hardly move it; slices that differ far more
// than one file's places do (w = 0.79806 below) carry the figure instead.
TEST(SmallFolderInterval, AFileMeasuredWholeCarriesTheRatioAsFarAsTheSlicesAgree) {
  SmallSums s = Calibrated();
  s.biasMeasured = true;
  s.biasWhole = 0.62;
  s.biasCold = 0.60;
  s.biasColdSpread = 0.05;
  SavingEstimate e = SmallFolderInterval(s);
  EXPECT_NEAR(e.Saving, 1000 + 100'000 - 33'537, 1);         // 0.67073 * 50,000
  EXPECT_NEAR(e.Low, 1000 + 100'000 - 36'424 - 500, 1);      // (0.67073 + 0.05774) * 50,000
  EXPECT_NEAR(e.High, 1000 + 100'000 - 30'650 + 500, 1);     // (0.67073 - 0.05774) * 50,000
  // Files unlike one another (slices 0.5-0.9), one file's places alike (spread 0.02):
  // R = 0.62 + 0.79806 (0.7 - 0.6) = 0.69981, give or take 0.26115.
  s.ratios = {0.5, 0.9, 0.6, 0.8};
  s.biasColdSpread = 0.02;
  e = SmallFolderInterval(s);
  EXPECT_NEAR(e.Saving, 1000 + 100'000 - 34'990, 1);
  EXPECT_NEAR(e.Low, 1000 + 100'000 - 48'048 - 500, 1);
  EXPECT_NEAR(e.High, 1000 + 100'000 - 21'933 + 500, 1);
}

TEST(SmallFolderInterval, IncompressibleFilesAndMissingBytesWidenOnlyUpwards) {
  SmallSums s = Calibrated();
  s.storedBytes = 10'000;
  s.storedFast = 9'990;  // at most 10,000 - 0.97 * 9,990 = 309.7 more
  s.missing = 5'000;     // between nothing and all of it; the point gives it the rate read
  const SavingEstimate e = SmallFolderInterval(s);
  EXPECT_EQ(e.Low, 60'968);
  EXPECT_EQ(e.High, 68'332 + 310 + 5'000);
  // 64,650 read out of 113,000, then 5,000 more at that rate
  EXPECT_EQ(e.Saving, 64'650 + 2'861);
  EXPECT_EQ(e.Unreadable, 5'000);
}

TEST(SmallFolderInterval, WithoutSlicesThePriorRatioAndItsWholeRange) {
  SmallSums s = Calibrated();
  s.ratios.clear();
  s.unreadableDraws = 4;
  const SavingEstimate e = SmallFolderInterval(s);
  EXPECT_EQ(e.Saving, 1000 + 100'000 - 29'750);         // 0.595
  EXPECT_EQ(e.Low, 1000 + 100'000 - 37'250 - 500);      // 0.745
  EXPECT_EQ(e.High, 1000 + 100'000 - 22'250 + 500);     // 0.445
}

TEST(SmallFolderInterval, EndsStayWithinTheBytes) {
  SmallSums s;
  s.modelBytes = 10'000;
  s.modelFast = 100;  // nearly all saved: the high end cannot pass the bytes
  s.ratios = {0.7};
  SavingEstimate e = SmallFolderInterval(s);
  EXPECT_LE(e.High, 10'000);
  EXPECT_GE(e.Low, 0);
  s.modelFast = 20'000;  // a ratio that would cost bytes: nothing saved, never below 0
  e = SmallFolderInterval(s);
  EXPECT_EQ(e.Saving, 0);
  EXPECT_EQ(e.Low, 0);
  // Nothing readable at all: not known.
  SmallSums none;
  none.missing = 4'000;
  EXPECT_FALSE(SmallFolderInterval(none).Known);
}

// How much of the short files' sample a folder reads, worked by hand for 20 short files of
// 30,000 bytes (mean 1,500; assumed spread 75 a file): reading k gives a width of
// 2 t(k-1) 20 sqrt((1 - k/20)/k) 75, that is 25,570 for 2, 6,871 for 3, 4,269 for 4, 3,225
// for 5, 2,634 for 6 and 2,237 for 7, against 1% of the folder's allocated bytes.
TEST(ShortSampleToRead, TheFewestWhoseWidthFitsTheFolder) {
  EXPECT_EQ(ShortSampleToRead(20, 30'000, 8, 3'000'000), 0);  // all their bytes fit: none
  EXPECT_EQ(ShortSampleToRead(20, 30'000, 8, 2'999'999), 2);
  EXPECT_EQ(ShortSampleToRead(20, 30'000, 8, 2'557'000), 3);
  EXPECT_EQ(ShortSampleToRead(20, 30'000, 8, 687'200), 3);
  EXPECT_EQ(ShortSampleToRead(20, 30'000, 8, 687'100), 4);
  EXPECT_EQ(ShortSampleToRead(20, 30'000, 8, 300'000), 6);
  EXPECT_EQ(ShortSampleToRead(20, 30'000, 8, 100'000), 8);    // the whole sample
  EXPECT_EQ(ShortSampleToRead(20, 30'000, 5, 100'000), 5);    // no more than there is
  // A sample of all seven short files: all of them, none when they are a sliver, and
  // fewer only when that leaves two unread (mean 2,571: reading 5 gives 1,194, 4 gives
  // 1,874, 3 gives 3,380).
  EXPECT_EQ(ShortSampleToRead(7, 18'000, 7, 82'000), 7);
  EXPECT_EQ(ShortSampleToRead(7, 18'000, 7, 120'000), 5);
  EXPECT_EQ(ShortSampleToRead(7, 18'000, 7, 118'000), 7);
  EXPECT_EQ(ShortSampleToRead(7, 18'000, 7, 190'000), 4);
  EXPECT_EQ(ShortSampleToRead(7, 18'000, 7, 1'800'000), 0);
  EXPECT_EQ(ShortSampleToRead(0, 0, 0, 100'000), 0);
}

// The unread short files, worked by hand. Four read, of 400, 800, 1,200 and 1,600 bytes,
// saving 100, 340, 580 and 820: the line 0.6 x - 140 through them exactly, so the spread is
// the least assumed, 5% of their mean size (50). Six unread, 9,000 bytes: 0.6 * 9,000 -
// 140 * 6 = 4,560 (the ratio through nothing, 1,840 / 4,000, would say 4,140: short files
// save a smaller share than longer ones). All ten average 1,300 bytes against the sample's
// 1,000, Sxx 800,000: +- t(2) 10 sqrt(1 - 0.4) sqrt(1/4 + 300^2 / 800,000) 50 = 1,003.
TEST(UnreadShortSaving, ALineThroughTheSampleStandsForTheRest) {
  SmallSums s;
  s.shortSample = {{400, 100}, {800, 340}, {1200, 580}, {1600, 820}};
  s.unreadShortFiles = 6;
  s.unreadShortBytes = 9000;
  UnreadShortPart part = UnreadShortSaving(s, 0.5);
  const double half = TwoSided95(2) * 10 * std::sqrt(0.6) * std::sqrt(0.25 + 90'000.0 / 800'000.0) * 50;
  EXPECT_NEAR(half, 1003, 1);
  EXPECT_NEAR(part.point, 4560, 1e-6);
  EXPECT_NEAR(part.low, 4560 - half, 1e-6);
  EXPECT_NEAR(part.high, 4560 + half, 1e-6);

  // Three read are too few to tell a line's spread: the ratio, +- t(2) 9 sqrt((1 - 3/9)/3)
  // max(spread about it, 5% of 800).
  s.shortSample = {{400, 100}, {800, 340}, {1200, 580}};
  part = UnreadShortSaving(s, 0.5);
  const double ratio = 1020.0 / 2400.0;
  double squares = 0;
  for (const auto& [size, saving] : s.shortSample) squares += std::pow(saving - ratio * size, 2);
  const double spread = std::max(std::sqrt(squares / 2), 40.0);
  EXPECT_NEAR(part.point, ratio * 9000, 1e-6);
  EXPECT_NEAR(part.high - part.point, TwoSided95(2) * 9 * std::sqrt((1 - 3.0 / 9) / 3) * spread, 1e-6);

  // A slope past what deflate can do is held within [0, 1], and the rest within their bytes.
  s.shortSample = {{400, 300}, {800, 100}, {1200, 0}, {1600, 0}};
  part = UnreadShortSaving(s, 0.5);
  EXPECT_NEAR(part.point, 6 * 100, 1e-6);  // slope 0 through their mean saving, 100
  EXPECT_GE(part.low, 0);
  s.shortSample = {{400, 0}, {800, 390}, {1200, 780}, {1600, 1170}};  // 0.975 x - 390
  s.unreadShortBytes = 1000;  // six files of 167 bytes: the line says less than nothing
  part = UnreadShortSaving(s, 0.5);
  EXPECT_EQ(part.point, 0);
  EXPECT_EQ(part.low, 0);
  EXPECT_LE(part.high, 1000);
}

// The larger files' sample, worked by hand for ten files of 20,000 bytes (root mean square
// 20,000, least spread 1,000 a file): reading k of them gives a half-width of
// t(k-1) 10 sqrt((1 - k/10)/k) 1,000, that is 12,324 for 4, 8,779 for 5, 6,638 for 6 and
// 5,066 for 7, against 2% of the folder's allocated bytes; 8 would leave fewer than a
// quarter unread.
std::vector<std::pair<std::uint64_t, std::int64_t>> Larger(std::vector<std::int64_t> sizes) {
  std::vector<std::pair<std::uint64_t, std::int64_t>> out;
  for (std::size_t i = 0; i < sizes.size(); ++i) out.emplace_back(i, sizes[i]);
  return out;
}

TEST(PlanLargerSample, TheFewestWhoseHalfWidthFitsAndNeverTheOutsizedOnes) {
  const auto ten = Larger(std::vector<std::int64_t>(10, 20'000));
  EXPECT_EQ(PlanLargerSample(ten, 616'200).sampled, 4);
  EXPECT_EQ(PlanLargerSample(ten, 616'100).sampled, 5);
  EXPECT_EQ(PlanLargerSample(ten, 439'000).sampled, 5);
  EXPECT_EQ(PlanLargerSample(ten, 438'900).sampled, 6);
  EXPECT_EQ(PlanLargerSample(ten, 332'000).sampled, 6);
  EXPECT_EQ(PlanLargerSample(ten, 331'800).sampled, 7);
  EXPECT_EQ(PlanLargerSample(ten, 253'300).sampled, 7);
  EXPECT_EQ(PlanLargerSample(ten, 253'200).sampled, 10);  // no sample that spares a quarter
  EXPECT_EQ(PlanLargerSample(ten, 253'200).others, 10);
  // A file of 100,000 beside them is over twice their mean (27,273): read whatever the
  // sample, which is drawn from the other ten as before.
  std::vector<std::int64_t> sizes(10, 20'000);
  sizes.push_back(100'000);
  const LargerPlan plan = PlanLargerSample(Larger(sizes), 616'200);
  EXPECT_EQ(plan.census, 54'545);
  EXPECT_EQ(plan.others, 10);
  EXPECT_EQ(plan.sampled, 4);
  // Seven files: too few to sample.
  EXPECT_EQ(PlanLargerSample(Larger(std::vector<std::int64_t>(7, 20'000)), 1e9).sampled, 7);
  EXPECT_EQ(PlanLargerSample({}, 1e9).sampled, 0);
}

// Four files of 10,000 bytes read out of ten: the other six (60,000 bytes) save the sample's
// saving per byte, +- t(3) 10 sqrt((1 - 4/10)/4) s = 12.3255 s, s the spread of the
// savings about that rate but at least 500 (5% of the sizes' root mean square); t(3) is
// 3.182, so 12.3248 s.
SmallSums LargerSample(std::vector<LargerRead> read) {
  SmallSums s;
  s.largerSample = std::move(read);
  s.unreadLargerFiles = 6;
  s.unreadLargerBytes = 60'000;
  s.unreadLargerSquares = 6 * 1e8;
  return s;
}

TEST(UnreadLargerSaving, TheSamplesRateWidenedByItsSpread) {
  // Noise: nothing saved, up to 3% of it, and the least spread: half 6,162.
  LargerRead noise;
  noise.size = noise.storedBytes = noise.storedFast = 10'000;
  SmallSums s = LargerSample({noise, noise, noise, noise});
  UnreadLargerPart part = UnreadLargerSaving(s, 0.75, 0.05);
  EXPECT_NEAR(part.half, 6'162, 1);
  EXPECT_EQ(part.point, 0);
  EXPECT_EQ(part.low, 0);
  EXPECT_NEAR(part.high, 1'800 + 6'162, 1);
  EXPECT_TRUE(LargerSampleTrusted(s, 6'162 / 0.02 + 100));
  EXPECT_FALSE(LargerSampleTrusted(s, 6'162 / 0.02 - 100));  // too wide for the folder

  // Calibrated files of fast sizes 5,000, 5,000, 6,000 and 4,000 at R = 0.75 save 6,250,
  // 6,250, 5,500 and 7,000: rate 0.625, residuals 0, 0, -750, 750, spread 612.37 (half
  // 7,547). The ends take R 0.80 (rate 0.6) and 0.70 (rate 0.65).
  std::vector<LargerRead> read;
  for (const std::int64_t fast : {5'000, 5'000, 6'000, 4'000}) {
    LargerRead f;
    f.size = f.modelBytes = 10'000;
    f.modelFast = fast;
    read.push_back(f);
  }
  s = LargerSample(read);
  part = UnreadLargerSaving(s, 0.75, 0.05);
  EXPECT_NEAR(part.half, 7'547, 1);
  EXPECT_NEAR(part.point, 37'500, 1);
  EXPECT_NEAR(part.low, 36'000 - 7'547, 1);
  EXPECT_NEAR(part.high, 39'000 + 7'547, 1);
  EXPECT_FALSE(LargerSampleTrusted(s, 1e9));  // its files shrink: the folder reads them all
  // Through the folder's interval: the read files' own figures plus the unread part, with
  // the slices' ratio (four of 0.753: R 0.75, half t(3) 0.04 / 2).
  s.modelBytes = 40'000;
  s.modelFast = 20'000;
  s.ratios = {0.753, 0.753, 0.753, 0.753};
  const SavingEstimate e = SmallFolderInterval(s);
  EXPECT_NEAR(e.Saving, 25'000 + 37'500, 2);
  EXPECT_NEAR(e.High - e.Low, 2 * (0.0636 * 20'000 + 200) + (0.0636 * 60'000 + 2 * 7'547), 4);

  // One file read: nothing to tell a spread by, so anything from none to all.
  part = UnreadLargerSaving(LargerSample({noise}), 0.75, 0.05);
  EXPECT_EQ(part.low, 0);
  EXPECT_EQ(part.high, 60'000);
}

// Bytes of few values (base64, hex) that the fast codec at its fastest level cannot shrink,
// yet deflate's Huffman codes take a quarter to a half off, are not noise; noise is, at any
// size, unless part of it is not.
std::string Encoded(std::size_t n, const char* alphabet, std::size_t values, unsigned seed) {
  const std::string noise = testing::Noise(n, seed);
  std::string out(n, '\0');
  for (std::size_t i = 0; i < n; ++i) out[i] = alphabet[static_cast<unsigned char>(noise[i]) % values];
  return out;
}

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

TEST(NoiseScreen, TellsNoiseFromBytesOfFewValues) {
  const char* base64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (const std::size_t n : {64u, 100u, 700u, 4096u, 5000u, 200'000u}) {
    const std::string noise = testing::Noise(n, static_cast<unsigned>(n));
    EXPECT_TRUE(saving::BytesLookLikeNoise(Bytes(noise), n)) << n;
    EXPECT_FALSE(saving::BytesLookLikeNoise(Bytes(Encoded(n, base64, 64, 1)), n)) << n;
    EXPECT_FALSE(saving::BytesLookLikeNoise(Bytes(Encoded(n, "0123456789abcdef", 16, 2)), n)) << n;
    EXPECT_FALSE(saving::BytesLookLikeNoise(Bytes(testing::Text(n)), n)) << n;
  }
  // Too few bytes to tell.
  EXPECT_FALSE(saving::BytesLookLikeNoise(Bytes(testing::Noise(63, 3)), 63));
  // Noise with text or zeros in its middle or at its end.
  for (const std::size_t at : {30'000u, 64'000u - 8'000u}) {
    std::string mixed = testing::Noise(64'000, 4);
    mixed.replace(at, 8'000, testing::Text(8'000));
    EXPECT_FALSE(saving::BytesLookLikeNoise(Bytes(mixed), mixed.size())) << at;
    mixed.replace(at, 8'000, std::string(8'000, '\0'));
    EXPECT_FALSE(saving::BytesLookLikeNoise(Bytes(mixed), mixed.size())) << at;
  }
}

TEST(NoiseScreen, NoiseIsNotDeflatedAndTheRestIsExactly) {
  saving::Workspace ws;
  const std::string noise = testing::Noise(3000, 5);
  const saving::ScreenedSaving n = saving::DeflateSaving(ws, Bytes(noise), noise.size());
  EXPECT_TRUE(n.noise);
  EXPECT_EQ(n.saving, 0);
  EXPECT_EQ(std::max<std::int64_t>(0, 3000 - ws.Compressed(Bytes(noise), noise.size())), 0);
  const std::string hex = Encoded(3000, "0123456789abcdef", 16, 6);
  const saving::ScreenedSaving h = saving::DeflateSaving(ws, Bytes(hex), hex.size());
  EXPECT_FALSE(h.noise);
  EXPECT_EQ(h.saving, 3000 - ws.Compressed(Bytes(hex), hex.size()));
  EXPECT_GT(h.saving, 1000);
  EXPECT_EQ(saving::DeflateSaving(ws, Bytes(hex), 0).saving, 0);
}

// The yardstick every byte of a small folder goes through: noise stays whole to it (so the
// folder stores it rather than modelling it), and on text deflate's size lies within the
// prior's range of it, whole or as a cold slice, so that a folder whose slices cannot be read
// still has the truth inside its interval.
TEST(SmallYardstick, KeepsNoiseWholeAndDeflateFollowsItOnText) {
  saving::Workspace ws;
  for (const std::size_t n : {5'000u, 64'000u, 900'000u}) {
    const std::string noise = testing::Noise(n, static_cast<unsigned>(n));
    EXPECT_GE(static_cast<double>(saving::YardstickSize(ws, Bytes(noise), n)), kIncompressibleShare * static_cast<double>(n)) << n;
  }
  EXPECT_EQ(saving::YardstickSize(ws, nullptr, 0), 0);
  // Lines of words and numbers, as logs and notes are.
  const char* words[] = {"disk", "folder", "saving", "zip", "block", "error", "user", "value", "line", "start",
                         "stop", "read", "write", "time", "level", "file", "space", "mount", "link", "sparse"};
  std::mt19937 gen(7);
  std::string text;
  while (text.size() < 200'000) {
    for (int w = 0; w < 8; ++w) text += std::string(words[gen() % 20]) + ' ';
    text += std::to_string(gen() % 100'000) + '\n';
  }
  for (const std::size_t n : {4'096u, 60'000u, 200'000u}) {
    const double ratio = static_cast<double>(ws.Compressed(Bytes(text), n)) / static_cast<double>(saving::YardstickSize(ws, Bytes(text), n));
    EXPECT_GT(ratio, kPriorRatio - kPriorRatioRange) << n;
    EXPECT_LT(ratio, kPriorRatio + kPriorRatioRange) << n;
  }
}

}  // namespace
}  // namespace orbelan
