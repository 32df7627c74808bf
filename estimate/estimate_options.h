#pragma once
// How the estimate reads a folder: the sizes that decide which way it takes, the sampling
// unit and the budget of a sampled folder.

#include <cstdint>
#include <string>

namespace orbelan {

struct EstimateOptions {
  std::int64_t WholeLimit = 16 << 10;   // folders with at most this many bytes: compressed whole
  // Larger folders up to this many bytes are read whole: small files deflated exactly, the
  // rest sized by a fast codec that a few deflated slices calibrate (estimate/saving_small.h).
  std::int64_t SmallLimit = 1 << 20;
  // Larger folders up to this many bytes are estimated from the few files the scan drew in
  // them (FolderRec::Draws), when it drew some; larger ones are listed again and sampled.
  std::int64_t DrawnLimit = 1 << 20;
  std::uint64_t Seed = 1;             // sampling is deterministic for a given seed and folder
  // The folder the scan started from, as the user named it ("" when unknown). A record
  // below it is reopened from it without following any link on the way, so a folder
  // swapped for a link since the scan is not entered; links in Root itself are the user's.
  std::string Root;
  // The sampling unit in files larger than 16 KiB (and than this), and the history the
  // zipper's deflate is given before a deflated block. Deflating a block costs about its
  // own bytes plus a quarter of its history's, so small blocks after a long history are the
  // cheapest draws that still see what the member's stream would: 8 KiB after 24 KiB take
  // 0.6 of the time of 16 KiB after 16 KiB, and fall less short on text that repeats from
  // far back (generated code, licences).
  std::int64_t BlockBytes = 8 * 1024;
  std::int64_t PrimeBytes = 24 * 1024;
  double TargetMargin = 0.03;            // stop once the 95% margin is within this share
  // Every draw of a sampled folder is measured with a fast codec, every CalibrateEvery-th
  // also with deflate; the deflated draws calibrate the fast ones (regression estimator of
  // two-phase sampling). A byte deflated cold costs 1, a byte of history given to deflate a
  // quarter, a fast one a quarter: a sampled folder of U bytes spends at most
  // max(BudgetShare * U, MinBudget * (min(1, U / RampBytes) + clamp(U / LargeFrom - 1, 0, 1))),
  // at least enough for its fewest draws, so that a folder of a few MiB still gets some
  // hundred draws and a huge one a share that keeps its margin narrow. Folders past
  // LargeFrom stop on the budget, not on the margin (binaries and libraries, whose blocks
  // differ far more than text's), so their floor grows to twice MinBudget at twice
  // LargeFrom: that brings /usr/lib's folders over 8 MiB within 3 points from 92% to 97%.
  int CalibrateEvery = 4;
  // The fast codec measures the aligned piece of at most this many bytes (and at most a
  // block) of the unit that holds a draw, not a whole file of up to 16 KiB: the deflated
  // draws calibrate it all the same.
  std::int64_t FastBytes = 8 * 1024;
  std::int64_t MinBudget = 384 << 10;
  double BudgetShare = 0.0032;
  std::int64_t RampBytes = 2 << 20;
  std::int64_t LargeFrom = 8 << 20;
  // The block measured (cold) in a drawn file larger than it, for folders estimated from
  // the scan's draws; smaller drawn files are compressed whole.
  std::int64_t DrawnBlockBytes = 2 * 1024;
};

}  // namespace orbelan
