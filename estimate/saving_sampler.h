#pragma once
// Folders over the small limit: a sample of blocks drawn from their files laid end to end
// (the Sampler), or the few files the scan drew in them (EstimateFromDraws), each with its
// 95% interval. Internal to the estimate; how the sample is drawn: docs/saving-estimate.md.

#include <sys/stat.h>

#include <atomic>
#include <cstdint>

#include "estimate/estimate_options.h"
#include "estimate/saving_figures.h"
#include "estimate/saving_io.h"

namespace orbelan::saving {

// The saving rate of the length bytes at start of an open file, measured after up to prime
// bytes of the history before them; a block wholly inside a hole saves all but what deflate
// leaves of zeros and reads nothing. -1 when the file has shrunk below the block. read
// grows by the bytes read.
double BlockRate(int fd, const struct stat& st, std::int64_t start, std::int64_t length,
                 std::int64_t prime, Workspace& ws, std::int64_t& read);

// Samples a listed folder (its files are reordered). stop is polled between draws; a stopped
// run returns an estimate that is not Known.
SavingEstimate SampleListedFolder(int dirFd, Listing& listing, const EstimateOptions& options,
                                  const std::atomic<bool>* stop, Workspace& ws);

// A folder whose files the scan drew (FileDraws): those files alone are read. False, having
// read what it read, when the folder has changed since the scan (a drawn file gone, resized
// or no longer a regular file): it is then listed and sampled afresh.
bool EstimateFromDraws(int dirFd, const FileDraws& draws, const EstimateOptions& options,
                       const std::atomic<bool>* stop, Workspace& ws, SavingEstimate& out);

}  // namespace orbelan::saving
