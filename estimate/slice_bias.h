#pragma once
// How far a small folder's cold calibration slices lie from its files compressed whole. A
// cold 4 KiB slice loses both codecs' history at its start: on most text that puts its
// deflate/fast ratio about 0.02 below its file's, but on text of numbers (Perl's Unicode
// tables) a file's ratio lies up to 0.15 off its slices', and their ratio changes from the
// start of such a file to its end, so that four slices that happen on its later parts are
// far off while agreeing with one another. The files of one folder are alike, so one of
// them tells it for the rest: its bytes deflated at once against the same bytes cut into
// cold slices, whose spread also tells how much the slices vary by place.

#include <cstddef>
#include <cstdint>

#include "estimate/disk_saving.h"
#include "estimate/saving_io.h"

namespace orbelan::saving {

// The bytes one file lends the measure: the whole file when it is at most this long, else
// this much of it around a uniform place. Each measure deflates it twice (at once with zlib,
// at about twice libdeflate's cost, and as cold slices), a little more than the four
// calibration slices cost; 32 KiB in every small folder made /usr/lib's estimate take 60%
// more processor time.
inline constexpr std::int64_t kBiasSpan = 8 * 1024;

// Folders of few blocks are not measured: one block of their archive is more than the
// measure can pin, and those whose block count stays open are deflated again as the
// zipper does anyway (estimate/saving_settle.h).
inline bool WantsSliceBias(std::int64_t allocated) { return allocated > kFewBlocks; }

// Where a file of the folder measures the slices' bias, the calibration slices and that
// file's cold slices are deflated at this level rather than at the zipper's: the figure
// takes only the difference between the two (R = whole + w (slices - cold)), in which the
// level's own offset cancels, and level 1 takes 18 us on a 4 KiB slice where level 6 takes
// 43. Folders of few blocks, which add a mean bias instead, keep level 6.
inline constexpr int kMeasuredSliceLevel = 1;

// Ratios are deflate's size to the fast codec's, as the slices' are.
struct SliceBias {
  bool measured = false;
  double whole = 0;            // the bytes deflated at once
  double cold = 0;             // the mean over their cold slices
  double coldSpread = 0;       // the spread of those slices' ratios
  int tiles = 0;               // how many slices
  std::int64_t deflated = 0;   // the bytes deflated at once
};

// Measures bytes (at least one slice of kSmallSlice) as above. Not measured when they
// hold less than a slice. fast: their fast-codec size when already known (a whole file's),
// else negative.
SliceBias MeasureSliceBias(Workspace& ws, const unsigned char* bytes, std::size_t size, std::int64_t fast = -1);

}  // namespace orbelan::saving
