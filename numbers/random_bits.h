#pragma once
// The few pseudo-random and hashing steps the estimate, the scan's file draws and the
// extents' samples share, so that all draw from one source and a seed means the same in each.

#include <cstdint>

namespace orbelan {

// SplitMix64: the next 64 random bits of the sequence that state walks.
inline std::uint64_t SplitMix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A uniform number in [0, 1) from 64 random bits.
inline double UnitInterval(std::uint64_t bits) { return static_cast<double>(bits >> 11) * 0x1.0p-53; }

// FNV-1a: a hash started from seed, then each value (a byte, a size) folded in.
inline std::uint64_t FnvStart(std::uint64_t seed) { return 1469598103934665603ull ^ seed; }
inline std::uint64_t FnvAdd(std::uint64_t hash, std::uint64_t value) { return (hash ^ value) * 1099511628211ull; }

}  // namespace orbelan
