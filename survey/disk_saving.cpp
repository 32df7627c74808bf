#include "survey/disk_saving.h"

#include <algorithm>
#include <limits>

#include "survey/figures.h"

namespace orbelan {
namespace {

std::int64_t Sum(std::int64_t a, std::int64_t b) {
  AddSize(a, b);
  return a;
}

}  // namespace

std::int64_t ZipArchiveBytes(std::int64_t members, std::int64_t nameBytes, std::int64_t dataBytes) {
  if (members <= 0) return 0;  // nothing to zip: no archive
  std::int64_t bytes = Sum(dataBytes, kZipEndBytes);
  if (members >= 0xffff) bytes = Sum(bytes, 56 + 20);  // Zip64 end record and its locator
  bytes = Sum(bytes, members > std::numeric_limits<std::int64_t>::max() / kZipMemberBytes
                         ? std::numeric_limits<std::int64_t>::max()
                         : members * kZipMemberBytes);
  bytes = Sum(bytes, nameBytes > std::numeric_limits<std::int64_t>::max() / 2
                         ? std::numeric_limits<std::int64_t>::max()
                         : 2 * nameBytes);
  return Sum(bytes, ManifestMemberBytes(members, nameBytes));
}

std::int64_t ManifestMemberBytes(std::int64_t members, std::int64_t nameBytes) {
  if (members <= 0) return 0;
  constexpr std::int64_t kHeaderAndFolder = 23 + 8 + 64, kPerMember = 38;
  const std::int64_t text =
      members > std::numeric_limits<std::int64_t>::max() / (4 * kPerMember)
          ? std::numeric_limits<std::int64_t>::max() / 4
          : Sum(kHeaderAndFolder + members * kPerMember, std::min(nameBytes, std::numeric_limits<std::int64_t>::max() / 4));
  return kZipMemberBytes + 2 * kManifestNameBytes + text / 2;
}

std::int64_t RoundUpToBlock(std::int64_t bytes, std::int64_t block) {
  if (block <= 0) block = 4096;
  if (bytes <= 0) return 0;
  const std::int64_t whole = bytes / block + (bytes % block != 0 ? 1 : 0);
  return whole > std::numeric_limits<std::int64_t>::max() / block ? std::numeric_limits<std::int64_t>::max()
                                                                   : whole * block;
}

void AddDiskFigures(const DiskUse& use, SavingEstimate& est) {
  est.Allocated = use.Allocated;
  est.Held = use.Held;
  if (!est.Known) return;
  // The files' space now: allocated blocks, less what other names keep, with the extents
  // the file system compresses at what they are estimated to really take.
  const std::int64_t base = use.Allocated - use.Held - std::min(est.FsCompressed, use.Allocated);
  const std::int64_t nowLow = base + est.FsStoredLow, now = base + est.FsStored, nowHigh = base + est.FsStoredHigh;
  // What the archive takes for a given byte saving of the regular files.
  auto archive = [&](std::int64_t saving) {
    const std::int64_t data = std::max<std::int64_t>(use.Bytes - std::clamp<std::int64_t>(saving, 0, use.Bytes), 0);
    return RoundUpToBlock(ZipArchiveBytes(use.Members, use.NameBytes, data), use.BlockSize);
  };
  est.Disk = std::max<std::int64_t>(0, now - archive(est.Saving));
  est.DiskLow = std::max<std::int64_t>(0, nowLow - archive(est.Low));
  est.DiskHigh = std::max<std::int64_t>(0, nowHigh - archive(est.High));
  est.Disk = std::clamp(est.Disk, est.DiskLow, est.DiskHigh);
}

}  // namespace orbelan
