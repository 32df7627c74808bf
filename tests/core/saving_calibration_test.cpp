// The two-phase mean, pinned to numbers worked by hand: the slope, the shift the cheap draws
// give the mean, and each variance term, which a test that only checks coverage would not see.

#include "estimate/saving_calibration.h"

#include <gtest/gtest.h>

namespace orbelan {
namespace {

RateDraw Deflated(double at, double fast, double rate) { return {at, fast, rate, true}; }
RateDraw FastOnly(double at, double fast) { return {at, fast, 0.0, false}; }

// Four deflated draws at x = 0.2, 0.4, 0.6, 0.8 (given out of position order), four more
// measured only with the fast codec at x = 0.9: xbar1 = (2.0 + 3.6) / 8 = 0.7, xbar2 = 0.5.
// All eight in position order have x = 0.2, 0.9, 0.4, 0.9, 0.6, 0.9, 0.8, 0.9: successive
// differences 0.7, 0.5, 0.5, 0.3, 0.3, 0.1, 0.1, Sx^2 = 1.19 / 14 = 0.085.
std::vector<RateDraw> Draws(double y02, double y04, double y06, double y08) {
  return {Deflated(0.5, 0.6, y06), FastOnly(0.2, 0.9), Deflated(0.1, 0.2, y02), FastOnly(0.4, 0.9),
          Deflated(0.7, 0.8, y08), FastOnly(0.6, 0.9), Deflated(0.3, 0.4, y04), FastOnly(0.8, 0.9)};
}

TEST(CalibratedMean, AnExactLineLeavesOnlyTheFirstPhaseVariance) {
  // y = x + 0.1: b = 1, mean = 0.6 + 1 * (0.7 - 0.5) = 0.8; residuals all 0.1, so only
  // b^2 Sx^2 / n1 = 0.085 / 8 remains.
  const TwoPhaseMean m = CalibratedMean(Draws(0.3, 0.5, 0.7, 0.9));
  EXPECT_NEAR(m.slope, 1.0, 1e-12);
  EXPECT_NEAR(m.mean, 0.8, 1e-12);
  EXPECT_NEAR(m.variance, 0.010625, 1e-12);
  EXPECT_EQ(m.calibrated, 4);
}

TEST(CalibratedMean, ResidualsAddTheSecondPhaseTerm) {
  // y = 0.3, 0.55, 0.65, 0.9: Sxy = 0.19, Sxx = 0.2, b = 0.95; mean = 0.6 + 0.95 * 0.2 = 0.79.
  // Residuals y - 0.95 x in position order 0.11, 0.17, 0.08, 0.14: Se^2 = 0.0153 / 6 = 0.00255.
  // var = 0.9025 * 0.085 / 8 + 0.00255 / 4 = 0.0095890625 + 0.0006375, and the slope's own
  // error Se^2 (xbar1 - xbar2)^2 / Sxx = 0.00255 * 0.04 / 0.2 = 0.00051.
  const TwoPhaseMean m = CalibratedMean(Draws(0.3, 0.55, 0.65, 0.9));
  EXPECT_NEAR(m.slope, 0.95, 1e-12);
  EXPECT_NEAR(m.mean, 0.79, 1e-12);
  EXPECT_NEAR(m.variance, 0.0107365625, 1e-12);
}

TEST(CalibratedMean, FallingOrUnfoundSlopesLeaveThePlainMean) {
  // A saving that falls as the fast codec's rises: the slope is clipped to 0, the mean is
  // the deflated draws' 0.6 whatever the cheap draws say, and the variance Se^2 / n2 with
  // e = y: in position order 0.9, 0.7, 0.5, 0.3, Se^2 = 3 * 0.04 / 6 = 0.02, over 4.
  const TwoPhaseMean falling = CalibratedMean(Draws(0.9, 0.7, 0.5, 0.3));
  EXPECT_EQ(falling.slope, 0.0);
  EXPECT_NEAR(falling.mean, 0.6, 1e-12);
  EXPECT_NEAR(falling.variance, 0.005, 1e-12);

  // Three deflated draws fit no slope: mean (0.3 + 0.5 + 0.7) / 3, Sy^2 = 0.08 / 4 over 3.
  std::vector<RateDraw> three = {Deflated(0.1, 0.2, 0.3), Deflated(0.3, 0.4, 0.5), Deflated(0.5, 0.6, 0.7),
                                 FastOnly(0.7, 0.9)};
  const TwoPhaseMean few = CalibratedMean(three);
  EXPECT_EQ(few.slope, 0.0);
  EXPECT_NEAR(few.mean, 0.5, 1e-12);
  EXPECT_NEAR(few.variance, 0.02 / 3, 1e-12);

  // A slope steeper than kSteepestSlope is held there: y = 3x - 0.9 gives b = 2, and the
  // residuals y - 2x = x - 0.9 keep what the clip left out.
  const TwoPhaseMean steep = CalibratedMean(Draws(-0.3, 0.3, 0.9, 1.5));
  EXPECT_EQ(steep.slope, kSteepestSlope);
  EXPECT_NEAR(steep.mean, 1.0, 1e-12);  // 0.6 + 2 * 0.2 = 1.0, within [0, 1]
}

TEST(CalibratedMean, WithoutDeflatedDrawsNothingIsKnown) {
  const TwoPhaseMean none = CalibratedMean({FastOnly(0.1, 0.5), FastOnly(0.6, 0.7)});
  EXPECT_EQ(none.calibrated, 0);
  EXPECT_EQ(none.variance, 0.25);
  const TwoPhaseMean one = CalibratedMean({Deflated(0.1, 0.5, 0.4), FastOnly(0.6, 0.7)});
  EXPECT_EQ(one.calibrated, 1);
  EXPECT_NEAR(one.mean, 0.4, 1e-12);
  EXPECT_EQ(one.variance, 0.25);  // one rate tells nothing of the spread
}

}  // namespace
}  // namespace orbelan
