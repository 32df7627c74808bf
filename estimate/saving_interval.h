#pragma once
// The 95% confidence interval of a sampled saving estimate, apart from the reading and
// compressing that feed it, so that its arithmetic can be checked number by number.
// docs/saving-estimate.md tells where each term comes from.

#include <cstdint>

#include "estimate/saving_figures.h"
#include "numbers/interval_math.h"

namespace orbelan {

// What measuring blocks instead of whole files may miss, either way: half a point of the
// bytes (priming leaves about that of the cold-block bias; a file's deflate stream has
// block headers the blocks do not).
inline constexpr double kBlockError = 0.005;

// The zipper deflates with zlib, the estimate with libdeflate (about twice as fast) at the
// same level 6. Their streams differ: a folder's zlib bytes came to 0.969-1.072 of
// libdeflate's (the 0.5% and 99.5% points over 2,147 folders of /usr/share/perl, /usr/share/doc,
// /usr/include, icons, /usr/lib/python3.11 and Qt's plugins; median 1.000, a few of Perl's
// Unicode tables 1.23: short runs of numbers, where libdeflate's parsing wins most).
inline constexpr double kZlibLow = 0.965;
inline constexpr double kZlibHigh = 1.075;

// est, whose byte saving libdeflate measured, widened to what the zipper's zlib may make of
// the deflated bytes of its files (the bytes those files take deflated, or any figure above).
void WidenForTheZipper(SavingEstimate& est, std::int64_t deflated, double low = kZlibLow, double high = kZlibHigh);

// What deflate leaves of a hole's zeros: zlib at level 6 writes 1 byte for 1,029 of them,
// so a sparse file's holes still take a little of the archive.
inline constexpr double kHoleRate = 1.0 - 1.0 / 1029.0;

// How far below the whole-file saving a block primed with prime bytes of history may
// measure (the bench's bias mode, largest shortfall rounded up): 16 KiB 0.5 point, 8 KiB
// 1.2, 4 KiB 2.1; a cold block of 4 KiB or more 6.7, of 2 KiB 10.1.
double PrimingBias(std::int64_t prime, std::int64_t block);

// What the draws of a sampled folder found.
struct DrawSums {
  int draws = 0, readable = 0, unreadableDraws = 0;
  double sum = 0;          // of the readable draws' rates
  double variance = 0;     // of one draw's rate
  std::int64_t total = 0;  // the regular bytes drawn from
  std::int64_t unseen = 0, read = 0, unreadableBytes = 0;
  double biasUp = kBlockError;  // what measuring blocks may leave below the truth

  void Readable(double rate) {
    ++readable;
    sum += rate;
  }
};

// Point estimate and interval of the rates drawn, in bytes of d.total:
//   low  = (1 - q)(mean - t s/sqrt(r)) - mean * d - kBlockError
//   high = (1 - q)(mean + t s/sqrt(r)) + q + (1 - mean) * d + biasUp
// q the unreadable share of the draws, d = min(unseen, 3 total / draws) / total (the rule
// of three for bytes no draw saw), both ends clipped to [0, 1]. Not Known when no draw
// was readable.
SavingEstimate SampledInterval(const DrawSums& d);

}  // namespace orbelan
