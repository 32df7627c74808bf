#pragma once
// What one folder's estimate says: the bytes zipping it would save and the disk it would
// give back, each with its 95% interval, and what the file system does with its blocks.
// Apart from the estimate's interface, so that its inner parts can fill one without
// including the whole of it.

#include <cstdint>
#include <memory>
#include <vector>

#include "fsfacts/folder_extents.h"

namespace orbelan {

struct SavingEstimate {
  bool Known = false;          // false: none of the folder's bytes could be read (or not run)
  std::int64_t Saving = 0;     // point estimate, bytes
  std::int64_t Low = 0;        // the true saving lies in [Low, High] with 95% confidence
  std::int64_t High = 0;
  std::int64_t Sampled = 0;    // bytes actually read and compressed
  std::int64_t Unreadable = 0; // bytes of files that could not be read (inside the interval)
  std::int64_t Bytes = 0;      // the folder's unzipped bytes as the estimate found them
  bool Exact() const { return Known && Low == High; }
  // Exact with the zipper's own deflate (zlib), to the byte. Other exact figures come from
  // libdeflate, whose streams differ a little from zlib's: their disk figures allow for it.
  bool AsZipped = false;

  // The same in disk space given back by zipping, once the originals are gone from the
  // disk (the trash emptied): what the files take now less what the archive will take.
  // Never below 0 (a zip that would cost space gives back nothing).
  std::int64_t Disk = 0, DiskLow = 0, DiskHigh = 0;
  std::int64_t Allocated = 0;     // the zipped files' allocated bytes now, each inode once
  std::int64_t Held = 0;          // of those, what other names outside the folder keep
  // Bytes of those files in extents the file system already compresses, and what they are
  // estimated to take on disk (with a 95% interval).
  std::int64_t FsCompressed = 0;
  std::int64_t FsStored = 0, FsStoredLow = 0, FsStoredHigh = 0;
  std::int64_t FsUnmeasured = 0;  // of FsCompressed, what FIEMAP or reading refused to tell
  // Allocated bytes of the zipped files in extents they share with other files or snapshots
  // (reflinked copies): still in use when they go. Of those, the extents two or more of the
  // folder's own files share, once each: given back if nothing outside shares them too.
  std::int64_t Shared = 0, SharedWithin = 0;
  std::shared_ptr<const std::vector<SharedPlace>> SharedPlaces;  // by place, for subtrees
  // Bytes kept inline in the metadata whose sharing cannot be told; of them, taken as shared.
  std::int64_t InlineUnsure = 0, InlineShared = 0;
};

}  // namespace orbelan
