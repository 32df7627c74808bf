#pragma once
// The saving of several folders together (a subtree), from each folder's own estimate.
//
// How the intervals combine. Each folder's estimate carries a 95% interval [Low, High]
// around its point Saving. The sum's point is the sum of the points, and exact estimates
// (Low == High) add exactly. For the interval two rules are kept:
//  - Bounds (what is shown): the sum of the Lows and the sum of the Highs. It holds whenever
//    every folder's interval holds, whatever ties the folders' errors together. That matters
//    here: a folder's interval is not only sampling noise. It also carries the block
//    measurement's bias allowance, the unreadable files' full range and the rule-of-three
//    margin for unseen bytes; the bias in particular leans the same way in every folder, so
//    it does not shrink when folders are added up.
//  - Quadrature (kept for comparison, tighter): point minus / plus the square root of the
//    sum of the squared half-widths below / above. Right when the folders' errors are
//    independent and roughly normal (independent samples of disjoint files), as for the
//    pure sampling term; it understates a subtree whose folders share a bias, which is why
//    it is not what the program shows.
// A folder with Unzipped bytes but no estimate (not estimated yet, or none of its files
// readable) adds 0 to the point and to Low and its whole Unzipped bytes to High: zipping
// never frees more than the bytes it zips. Missing counts such folders, so that a subtree
// whose figure is incomplete can say so.

#include <cstdint>

namespace orbelan {

struct SavingEstimate;

struct SavingSum {
  std::int64_t Saving = 0;        // sum of the known point estimates
  std::int64_t Low = 0;           // sum of the bounds (see above)
  std::int64_t High = 0;
  std::int64_t Sampled = 0;       // bytes read to estimate them
  std::int64_t Estimated = 0;     // folders with a known estimate
  std::int64_t Missing = 0;       // folders with bytes but without one
  double BelowSquares = 0;        // sum of (Saving - Low)^2 of the inexact estimates
  double AboveSquares = 0;        // sum of (High - Saving)^2, missing folders included

  // One folder's estimate; unzippedBytes is its Unzipped figure, used when it is not Known.
  void AddFolder(const SavingEstimate* estimate, std::int64_t unzippedBytes);
  // Everything another sum holds (a subfolder's subtree).
  void Add(const SavingSum& other);
  // A change to the disk figures of folders already added (hard links the sum gives back).
  void AddDiskChange(std::int64_t saving, std::int64_t low, std::int64_t high);
  // Bytes that may come back too, or not: the high end only (shared extents that all go).
  void AddPossibleGain(std::int64_t bytes);

  bool Any() const { return Estimated > 0; }
  bool Complete() const { return Missing == 0; }
  bool Exact() const { return Low == High; }
  // The tighter interval for independent errors; never outside [Low, High].
  std::int64_t QuadratureLow() const;
  std::int64_t QuadratureHigh() const;
};

}  // namespace orbelan
