#include "survey/saving_settle.h"

#include <algorithm>
#include <numeric>

#include "survey/settled_blocks.h"

namespace orbelan::saving {
namespace {

// What the zipper saves on the files deflated so far, and the bytes of those still left.
struct ZipperTally {
  std::int64_t saving = 0, deflated = 0, left = 0, read = 0;

  bool Settled(const DiskUse& use) const { return ArchiveBlocksSettled(use, saving, saving + left); }

  SavingEstimate Result(std::int64_t bytes) const {
    SavingEstimate est;
    est.Known = true;
    est.AsZipped = true;
    est.Sampled = read;
    est.Low = saving;
    est.High = saving + left;
    // The files left at the rate of those deflated: only the byte figure, which the blocks
    // no longer depend on.
    const double rate = deflated > 0 ? static_cast<double>(saving) / static_cast<double>(deflated) : 0.5;
    est.Saving = saving + static_cast<std::int64_t>(rate * static_cast<double>(left));
    est.Bytes = bytes;
    return est;
  }
};

// The zipper's saving on size bytes of data.
std::int64_t ZipperSaving(Workspace& ws, const unsigned char* data, std::int64_t size) {
  return std::max<std::int64_t>(0, size - ws.ZipperSize(data, static_cast<std::size_t>(size)));
}

}  // namespace

SavingEstimate SettleFewBlocks(int dirFd, const Listing& listing, const DiskUse& use,
                               const std::atomic<bool>* stop, Workspace& ws) {
  if (listing.regularBytes > 2 * kFewBlocks) return {};
  std::vector<std::size_t> order(listing.files.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return listing.files[a].size > listing.files[b].size; });
  ZipperTally tally;
  for (const FileEntry& file : listing.files) tally.left += file.size;
  bool noAtimeRefused = false;  // in this folder (OpenForReading)
  for (const std::size_t i : order) {
    const FileEntry& file = listing.files[i];
    if (Stopped(stop)) return {};
    if (file.size == 0) break;  // largest first: the rest is empty too
    if (tally.Settled(use)) break;
    const WholeFile whole =
        CompressWhole(dirFd, listing.names.c_str() + file.nameOffset, file.size, ws, Deflater::kZipper, &noAtimeRefused);
    if (whole.read != file.size) return {};  // shrunk or unreadable since it was listed
    tally.saving += whole.saving;
    tally.deflated += file.size;
    tally.left -= file.size;
    tally.read += whole.read;
  }
  return FinishOthers(tally.Result(0), listing);
}

SavingEstimate SettleHeld(std::vector<HeldFile> files, std::int64_t bytes, const DiskUse& use, Workspace& ws) {
  std::stable_sort(files.begin(), files.end(), [](const HeldFile& a, const HeldFile& b) { return a.size > b.size; });
  ZipperTally tally;
  for (const HeldFile& file : files) tally.left += file.size;
  for (const HeldFile& file : files) {
    if (file.size == 0 || tally.Settled(use)) break;
    tally.saving += ZipperSaving(ws, file.data, file.size);
    tally.deflated += file.size;
    tally.left -= file.size;
  }
  return tally.Result(bytes);
}

}  // namespace orbelan::saving
