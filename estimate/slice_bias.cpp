#include "estimate/slice_bias.h"

#include <algorithm>
#include <cmath>

#include "estimate/small_sums.h"
#include "estimate/small_yardstick.h"

namespace orbelan::saving {

SliceBias MeasureSliceBias(Workspace& ws, const unsigned char* bytes, std::size_t size, std::int64_t fast) {
  SliceBias b;
  const auto slice = static_cast<std::size_t>(kSmallSlice);
  if (bytes == nullptr || size < slice) return b;
  // Slices tile the bytes, the last one ending with them (overlapping the one before), so
  // that the end of a file weighs in as the uniform places of the slices let it.
  const std::size_t count = (size + slice - 1) / slice;
  double sum = 0, squares = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t at = std::min(k * slice, size - slice);
    const double r = static_cast<double>(ws.Compressed(bytes + at, slice, kMeasuredSliceLevel)) /
                     static_cast<double>(std::max<std::int64_t>(YardstickSize(ws, bytes + at, slice), 1));
    sum += r;
    squares += r * r;
  }
  const double n = static_cast<double>(count);
  b.coldSpread = count > 1 ? std::sqrt(std::max(0.0, (squares - sum * sum / n) / (n - 1))) : 0;
  b.cold = sum / n;
  b.tiles = static_cast<int>(count);
  b.deflated = ws.ZipperSize(bytes, size);
  if (fast < 0) fast = YardstickSize(ws, bytes, size);
  b.whole = static_cast<double>(b.deflated) / static_cast<double>(std::max<std::int64_t>(fast, 1));
  b.measured = true;
  return b;
}

}  // namespace orbelan::saving
