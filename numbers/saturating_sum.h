#pragma once
// Sums of sizes that cannot wrap.

#include <cstdint>
#include <limits>

namespace orbelan {

// Sizes are never negative; apparent sizes of sparse files (up to 2^63 - 1 each on tmpfs)
// can still add up past 64 bits, so a sum stops at the largest value instead of wrapping.
inline void AddSize(std::int64_t& sum, std::int64_t size) {
  if (__builtin_add_overflow(sum, size, &sum)) sum = std::numeric_limits<std::int64_t>::max();
}

}  // namespace orbelan
