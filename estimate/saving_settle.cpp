#include "estimate/saving_settle.h"

namespace orbelan::saving {

SavingEstimate SettleFewBlocks(int dirFd, const Listing& listing, const std::atomic<bool>* stop,
                               Workspace& ws) {
  if (listing.regularBytes > 2 * kFewBlocks) return {};
  SavingEstimate est;
  est.Known = true;
  bool noAtimeRefused = false;  // in this folder (OpenForReading)
  for (const FileEntry& file : listing.files) {
    if (Stopped(stop)) return {};
    if (file.size == 0) continue;
    const WholeFile whole =
        CompressWhole(dirFd, listing.names.c_str() + file.nameOffset, file.size, ws, Deflater::kZipper, &noAtimeRefused);
    if (whole.read != file.size) return {};  // shrunk or unreadable since it was listed
    est.Saving += whole.saving;
    est.Sampled += whole.read;
  }
  est.Low = est.High = est.Saving;
  return FinishOthers(est, listing);
}

}  // namespace orbelan::saving
