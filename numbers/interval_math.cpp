#include "numbers/interval_math.h"

#include <cmath>
#include <iterator>
#include <limits>

namespace orbelan {

double TwoSided95(int df) {
  static constexpr double kT[] = {12.706, 4.303, 3.182, 2.776, 2.571, 2.447, 2.365, 2.306, 2.262, 2.228,
                                  2.201,  2.179, 2.160, 2.145, 2.131, 2.120, 2.110, 2.101, 2.093, 2.086,
                                  2.080,  2.074, 2.069, 2.064, 2.060, 2.056, 2.052, 2.048, 2.045};
  if (df < 1) return kT[0];
  if (df <= static_cast<int>(std::size(kT))) return kT[df - 1];
  return 1.96 + 2.4 / df;  // within 0.005 of the quantile from 30 on
}

std::int64_t ToBytes(double v) {
  if (!(v > 0)) return 0;
  if (v >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(std::llround(v));
}

}  // namespace orbelan
