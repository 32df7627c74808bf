#include "survey/small_yardstick.h"

#include <lz4.h>

#include <memory>
#include <vector>

namespace orbelan::saving {

namespace {

// lz4's state and output, kept per thread rather than set up on every call.
struct Yardstick {
  std::unique_ptr<char[]> state{new char[static_cast<std::size_t>(LZ4_sizeofState())]};
  std::vector<char> out;
};

}  // namespace

std::int64_t YardstickSize(const unsigned char* data, std::size_t size) {
  const auto whole = static_cast<std::int64_t>(size);
  if (size == 0 || size > static_cast<std::size_t>(LZ4_MAX_INPUT_SIZE)) return whole;
  static thread_local Yardstick y;
  const int n = static_cast<int>(size);
  const auto bound = static_cast<std::size_t>(LZ4_compressBound(n));
  if (y.out.size() < bound) y.out.resize(bound);
  const int written = LZ4_compress_fast_extState(y.state.get(), reinterpret_cast<const char*>(data), y.out.data(), n,
                                                 static_cast<int>(y.out.size()), kYardstickAcceleration);
  return written > 0 ? written : whole;
}

}  // namespace orbelan::saving
