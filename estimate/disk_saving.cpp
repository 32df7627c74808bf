#include "estimate/disk_saving.h"

#include <algorithm>
#include <limits>

#include "estimate/saving_interval.h"
#include "numbers/saturating_sum.h"

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
  const double text = 80.0 + 11.0 * static_cast<double>(members) + 0.15 * static_cast<double>(nameBytes);
  return Sum(kZipMemberBytes + 2 * kManifestNameBytes, static_cast<std::int64_t>(std::min(text, 4e18)));
}

std::int64_t ManifestSlack(std::int64_t members, std::int64_t nameBytes) {
  if (members <= 0) return 0;
  return static_cast<std::int64_t>(std::min(64.0 + 3.0 * static_cast<double>(members) + 0.15 * static_cast<double>(nameBytes), 4e18));
}

std::int64_t RoundUpToBlock(std::int64_t bytes, std::int64_t block) {
  if (block <= 0) block = 4096;
  if (bytes <= 0) return 0;
  const std::int64_t whole = bytes / block + (bytes % block != 0 ? 1 : 0);
  return whole > std::numeric_limits<std::int64_t>::max() / block ? std::numeric_limits<std::int64_t>::max()
                                                                   : whole * block;
}

namespace {

// The archive's bytes for a given byte saving of the regular files.
std::int64_t ArchiveFor(const DiskUse& use, std::int64_t saving) {
  const std::int64_t data = std::max<std::int64_t>(use.Bytes - std::clamp<std::int64_t>(saving, 0, use.Bytes), 0);
  return ZipArchiveBytes(use.Members, use.NameBytes, data);
}

// The byte saving's interval as the zipper may make it: a figure libdeflate measured whole
// (exact) is widened by how far zlib's stream may lie from it; files it did not shrink are
// stored, by the zipper as well.
SavingEstimate AsTheZipperMay(const DiskUse& use, SavingEstimate est) {
  if (est.Exact() && !est.AsZipped && est.Saving > 0) WidenForTheZipper(est, use.Bytes - est.Saving);
  return est;
}

}  // namespace

bool ArchiveBlocksInDoubt(const DiskUse& use, const SavingEstimate& estimate) {
  // Nothing to save (noise, compressed formats) is left as it is: deflating it exactly would
  // cost the most and change the least. Unreadable bytes stay unknown however it is read.
  if (!estimate.Known || estimate.AsZipped || estimate.Saving <= 0 || estimate.Unreadable > 0) return false;
  if (use.Members <= 0 || use.Allocated > kFewBlocks) return false;
  SavingEstimate est = estimate;
  if (estimate.Exact()) {
    WidenForTheZipper(est, use.Bytes - est.Saving, kDoubtZlibLow, kDoubtZlibHigh);
  } else {
    const auto part = [](std::int64_t span) {
      return std::min(span, std::max(static_cast<std::int64_t>(kDoubtShare * static_cast<double>(span)), kDoubtBytes));
    };
    est.Low = est.Saving - part(est.Saving - est.Low);
    est.High = est.Saving + part(est.High - est.Saving);
  }
  return RoundUpToBlock(ArchiveFor(use, est.Low), use.BlockSize) !=
         RoundUpToBlock(ArchiveFor(use, est.High), use.BlockSize);
}

void AddDiskFigures(const DiskUse& use, SavingEstimate& est, bool belowNothing) {
  est.Allocated = use.Allocated;
  est.Held = use.Held;
  if (!est.Known) return;
  // The files' space now: allocated blocks, less what other names and shared extents keep,
  // with the extents the file system compresses at what they are estimated to really take.
  // Extents the folder's own files share may go with it (nothing outside sharing them).
  const std::int64_t own = std::max<std::int64_t>(use.Allocated - use.Held, 0);
  const std::int64_t unshared = own - std::clamp<std::int64_t>(est.Shared, 0, own);
  const std::int64_t base = unshared - std::min(est.FsCompressed, unshared);
  // Inline data a snapshot may share: off the low end, and off the point where most of the
  // rest is shared.
  const std::int64_t nowLow = std::max<std::int64_t>(base + est.FsStoredLow - std::max<std::int64_t>(est.InlineUnsure, 0), 0);
  const std::int64_t now = std::max(base + est.FsStored - std::max<std::int64_t>(est.InlineShared, 0), nowLow);
  const std::int64_t nowHigh = Sum(base + est.FsStoredHigh, std::clamp<std::int64_t>(est.SharedWithin, 0, own - unshared));
  // What the archive takes for a given byte saving of the regular files, its manifest
  // taken at most (slack 1) or least (-1) as large as it may be.
  const std::int64_t slack = ManifestSlack(use.Members, use.NameBytes);
  auto archive = [&](std::int64_t saving, int side) {
    const std::int64_t bytes = ArchiveFor(use, saving);
    return RoundUpToBlock(side > 0 ? Sum(bytes, slack) : side < 0 ? std::max<std::int64_t>(bytes - slack, 1) : bytes,
                          use.BlockSize);
  };
  const std::int64_t least = belowNothing ? std::numeric_limits<std::int64_t>::min() : 0;
  const SavingEstimate zipped = AsTheZipperMay(use, est);
  est.Disk = std::max<std::int64_t>(least, now - archive(est.Saving, 0));
  est.DiskLow = std::max<std::int64_t>(least, nowLow - archive(zipped.Low, 1));
  est.DiskHigh = std::max<std::int64_t>(least, nowHigh - archive(zipped.High, -1));
  est.Disk = std::clamp(est.Disk, est.DiskLow, est.DiskHigh);
}

}  // namespace orbelan
