#pragma once
// What one open file's extents are, as FIEMAP tells any user: how many of its bytes lie in
// extents stored compressed (encoded), in extents shared with other files or snapshots, and
// inline in the metadata.

#include <cstdint>

namespace orbelan {

struct ExtentCensus {
  std::int64_t Data = 0;     // logical bytes in written extents (holes and preallocation not)
  std::int64_t Encoded = 0;  // of them, in extents stored compressed (inline ones not: no
                             // rewrite moves those)
  std::int64_t Shared = 0;   // of them, in extents shared with other files or snapshots
  std::int64_t Inline = 0;   // of them, kept inline in the metadata
  bool AllEncoded() const { return Encoded > 0 && Encoded + Inline >= Data; }
  bool InlineOnly() const { return Data > 0 && Inline >= Data; }
};

// The census of the regular file open at fd, its dirty pages written out first when sync
// says so. False (errno set) when FIEMAP is refused.
bool TakeExtentCensus(int fd, bool sync, ExtentCensus& census);

}  // namespace orbelan
