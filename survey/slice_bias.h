#pragma once
// How far a small folder's cold calibration slices lie from its files compressed whole, the
// way the zipper compresses them. A cold 4 KiB slice loses both codecs' history at its
// start: on most text that puts its deflate/fast ratio about 0.02 below its file's, but on
// text of numbers (Perl's Unicode tables) the file's ratio lies up to 0.15 below its
// slices', and the zipper's zlib differs from the estimate's libdeflate most on just such
// text. The files of one folder are alike, so one of them tells it for the rest: its bytes
// compressed whole (the zipper's deflate) against the same bytes cut into cold slices
// (measured as the slices are).

#include <cstddef>
#include <cstdint>

#include "survey/saving_io.h"

namespace orbelan::saving {

// The bytes one file lends the measure: the whole file when it is at most this long, else
// this much of it around a uniform place (deflate's history is 32 KiB).
inline constexpr std::int64_t kBiasSpan = 32 * 1024;

// Ratios are deflate's size to the fast codec's, as the slices' are.
struct SliceBias {
  bool measured = false;
  double whole = 0;            // the bytes at once, deflated as the zipper does
  double cold = 0;             // the mean over their cold slices (the estimate's deflate)
  double coldSpread = 0;       // the spread of those slices' ratios
  std::int64_t deflated = 0;   // the zipper's deflate of the bytes
};

// Measures bytes (at least one slice of kSmallSlice) as above. Not measured when they
// hold less than a slice.
SliceBias MeasureSliceBias(Workspace& ws, const unsigned char* bytes, std::size_t size);

}  // namespace orbelan::saving
