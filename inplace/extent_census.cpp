#include "inplace/extent_census.h"

#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace orbelan {

bool TakeExtentCensus(int fd, bool sync, ExtentCensus& census) {
  census = ExtentCensus{};
  constexpr unsigned kBatch = 256;
  const std::size_t bytes = sizeof(fiemap) + kBatch * sizeof(fiemap_extent);
  std::unique_ptr<char[]> buffer(new char[bytes]);
  auto* map = reinterpret_cast<fiemap*>(buffer.get());
  std::uint64_t from = 0;
  for (;;) {
    std::memset(buffer.get(), 0, bytes);
    map->fm_start = from;
    map->fm_length = ~0ULL - from;
    map->fm_flags = sync ? FIEMAP_FLAG_SYNC : 0;
    map->fm_extent_count = kBatch;
    if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0) return false;
    if (map->fm_mapped_extents == 0) return true;
    bool last = false;
    for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
      const fiemap_extent& e = map->fm_extents[i];
      last = last || (e.fe_flags & FIEMAP_EXTENT_LAST);
      from = e.fe_logical + e.fe_length;
      if (e.fe_flags & FIEMAP_EXTENT_UNWRITTEN) continue;  // preallocated: reads as zeros
      const auto length = static_cast<std::int64_t>(e.fe_length);
      census.Data += length;
      if (e.fe_flags & FIEMAP_EXTENT_SHARED) census.Shared += length;
      if (e.fe_flags & FIEMAP_EXTENT_DATA_INLINE)
        census.Inline += length;
      else if (e.fe_flags & FIEMAP_EXTENT_ENCODED)
        census.Encoded += length;
    }
    sync = false;  // written out once is enough
    if (last) return true;
  }
}

}  // namespace orbelan
