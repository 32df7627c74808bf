#include "estimate/small_yardstick.h"

#include <lz4.h>

#include "estimate/saving_io.h"

namespace orbelan::saving {

std::int64_t YardstickSize(Workspace& ws, const unsigned char* data, std::size_t size) {
  const auto whole = static_cast<std::int64_t>(size);
  if (ws.lz4 == nullptr || size == 0 || size > static_cast<std::size_t>(LZ4_MAX_INPUT_SIZE)) return whole;
  const int n = static_cast<int>(size);
  const auto bound = static_cast<std::size_t>(LZ4_compressBound(n));
  if (ws.out.size() < bound) ws.out.resize(bound);
  // The workspace's lz4 stream serves as the state: each call starts it afresh.
  const int written = LZ4_compress_fast_extState(ws.lz4, reinterpret_cast<const char*>(data),
                                                 reinterpret_cast<char*>(ws.out.data()), n,
                                                 static_cast<int>(ws.out.size()), kYardstickAcceleration);
  return written > 0 ? written : whole;
}

}  // namespace orbelan::saving
