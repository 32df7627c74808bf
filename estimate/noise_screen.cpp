#include "estimate/noise_screen.h"

#include "estimate/saving_io.h"
#include "estimate/small_sums.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace orbelan {
namespace saving {

namespace {

// The distinct values among n uniformly random bytes, on average.
double UniformDistinct(std::size_t n) { return 256.0 * (1.0 - std::pow(255.0 / 256.0, static_cast<double>(n))); }

}  // namespace

bool BytesLookLikeNoise(const unsigned char* data, std::size_t size) {
  if (size < kNoiseLeast) return false;
  const std::size_t all = kNoiseChunk * static_cast<std::size_t>(kNoiseChunks);
  const std::size_t chunks = size <= all ? (size + kNoiseChunk - 1) / kNoiseChunk : static_cast<std::size_t>(kNoiseChunks);
  const std::size_t n = std::min(kNoiseChunk, size);
  const double least = kNoiseDistinct * UniformDistinct(n);
  for (std::size_t c = 0; c < chunks; ++c) {
    // Consecutive chunks while they cover the data (the last one ending with it), else
    // spread evenly from its start to its end.
    const std::size_t at = size <= all ? std::min(c * kNoiseChunk, size - n) : (size - n) * c / (chunks - 1);
    // Stores only, no chain of dependent updates: several bytes a cycle.
    std::array<std::uint8_t, 256> seen{};
    for (std::size_t i = 0; i < n; ++i) seen[data[at + i]] = 1;
    int distinct = 0;
    for (const std::uint8_t s : seen) distinct += s;
    if (distinct < least) return false;
  }
  return true;
}

bool IsNoise(Workspace& ws, const unsigned char* data, std::size_t size) {
  return BytesLookLikeNoise(data, size) &&
         static_cast<double>(ws.FastSize(data, size)) >= kIncompressibleShare * static_cast<double>(size);
}

ScreenedSaving DeflateSaving(Workspace& ws, const unsigned char* data, std::size_t size) {
  ScreenedSaving out;
  if (size == 0) return out;
  if (IsNoise(ws, data, size)) {
    out.noise = true;
    return out;
  }
  const auto n = static_cast<std::int64_t>(size);
  out.saving = std::max<std::int64_t>(0, n - ws.Compressed(data, size));
  return out;
}

}  // namespace saving
}  // namespace orbelan
