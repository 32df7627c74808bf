#pragma once
// The arithmetic every 95% interval of the engine shares: the estimate's samples and the
// extents' samples alike.

#include <cstdint>

namespace orbelan {

// The 97.5% quantile of Student's t with df degrees of freedom (1.96 + 2.4/df from 30 on).
double TwoSided95(int df);

// A non-negative double rounded to bytes, saturating at the largest int64.
std::int64_t ToBytes(double v);

}  // namespace orbelan
