#pragma once
// The yardstick of a small folder: every byte of its larger files goes through it, and a few
// slices compressed both ways turn its sizes into deflate's (estimate/saving_small.h). So it is
// the cheapest codec whose size deflate's follows closely: lz4 (Debian: liblz4-dev).

#include <cstddef>
#include <cstdint>

namespace orbelan::saving {

struct Workspace;

// lz4 skips ahead this many times faster where it finds no match. Over the compressible
// files of over 4 KiB in /usr's small folders (24,000 files) it took 1.1 ns a byte where
// zstd at -4 took 1.6, and deflate's size follows it at least as closely: deflate/yardstick
// of one file spreads 0.025 about its folder's (zstd -4: 0.027), and a file's whole ratio
// lies 0.043 about its cold 4 KiB slices' (zstd -4: 0.058). Acceleration 8 spread 0.032.
inline constexpr int kYardstickAcceleration = 4;

// The yardstick's size of data: what lz4 makes of it, or size when it cannot.
std::int64_t YardstickSize(Workspace& ws, const unsigned char* data, std::size_t size);

}  // namespace orbelan::saving
