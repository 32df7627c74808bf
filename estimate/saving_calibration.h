#pragma once
// Two-phase sampling of a folder's saving rate: every draw is measured with a fast codec
// (lz4 after the draw's history, several times cheaper than deflate), a regular subset of the
// draws with deflate as the zipper compresses (primed with the history before the block).
// The fast rate x is not the saving, but it follows it closely within one folder; the
// regression estimator of double sampling turns the many cheap x into the deflate rate y:
//   mean = ybar2 + b (xbar1 - xbar2) = b xbar1 + ebar2,  e = y - b x,
//   var(mean) = b^2 Sx^2 / n1 + Se^2 / n2,
// b the least-squares slope of y on x in the subset, n1 all readable draws, n2 the subset's
// (the residuals of a least-squares line do not covary with x); plus the slope's own error,
// Se^2 (xbar1 - xbar2)^2 / Sxx2, which few deflated draws make worth counting. Sx^2 comes
// from successive differences of all draws sorted by position, Se^2 from those of the
// subset, as for the single-phase systematic sample: neighbours lie in the same file or in
// files of similar size.
// Apart from the reading so that the arithmetic can be checked number by number.

#include <vector>

namespace orbelan {

struct RateDraw {
  double at = 0;           // position in [0, 1) of the folder's files laid end to end
  double fast = 0;         // the fast codec's saving rate of the unit drawn
  double rate = 0;         // deflate's, when calibrated
  bool calibrated = false;
};

struct TwoPhaseMean {
  double mean = 0;      // estimated deflate saving rate of the folder
  double variance = 0;  // of that mean
  int calibrated = 0;   // n2: the degrees of freedom rest on these
  double slope = 0;     // b
};

// With fewer than kFewestForSlope calibrated draws the slope is 0: the plain mean of the
// calibrated draws (a line through two or three points tells nothing of the spread). The
// slope is kept within [0, kSteepestSlope]: a saving that falls as the fast codec's rises is
// noise, and a clipped slope only gives the residuals more spread.
inline constexpr int kFewestForSlope = 4;
inline constexpr double kSteepestSlope = 2.0;

// draws holds every readable draw; at least one must be calibrated, else the mean is 0 with
// the largest variance a rate can have (0.25).
TwoPhaseMean CalibratedMean(const std::vector<RateDraw>& draws);

}  // namespace orbelan
