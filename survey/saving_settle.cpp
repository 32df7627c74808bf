#include "survey/saving_settle.h"

#include <sys/stat.h>

namespace orbelan::saving {

SavingEstimate SettleFewBlocks(int dirFd, const Listing& listing, const std::atomic<bool>* stop,
                               Workspace& ws) {
  if (listing.regularBytes > 2 * kFewBlocks) return {};
  SavingEstimate est;
  est.Known = true;
  for (const FileEntry& file : listing.files) {
    if (Stopped(stop)) return {};
    if (file.size == 0) continue;
    struct stat st;
    Fd fd(OpenRegular(dirFd, listing.names.c_str() + file.nameOffset, st));
    if (fd.get() < 0) return {};
    if (ws.in.size() < static_cast<std::size_t>(file.size)) ws.in.resize(static_cast<std::size_t>(file.size));
    const std::int64_t got = ReadAt(fd.get(), ws.in.data(), file.size, 0);
    if (got != file.size) return {};  // shrunk or unreadable since it was listed
    est.Saving += got - ws.ZipperSize(ws.in.data(), static_cast<std::size_t>(got));
    est.Sampled += got;
  }
  est.Low = est.High = est.Saving;
  return FinishOthers(est, listing);
}

}  // namespace orbelan::saving
