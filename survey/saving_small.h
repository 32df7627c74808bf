#pragma once
// Folders of up to a megabyte or so, most folders of a real tree: every file is read, but
// deflating every byte at the zipper's level would cost several times a plain read of them.
// Files of at most kSmallExactFile bytes are deflated exactly (they hold few bytes). A larger
// file is compressed whole with a fast codec (zstd at its fastest level, several times
// quicker than deflate), whose size deflate's follows closely: on compressible data deflate
// at level 6 gives 0.70-0.80 of it, on data the fast codec cannot shrink it saves nothing
// either. A few 4 KiB slices, drawn with probability proportional to the files' fast-codec
// sizes, are compressed with both; the mean ratio of the two (Hansen-Hurwitz under those
// draws, so unbiased for the folder's own ratio) turns the fast sizes into deflate sizes.
// The arithmetic lives here, apart from the reading, so that it can be checked by numbers.

#include <cstdint>
#include <vector>

#include "survey/saving_estimate.h"

namespace orbelan {

// Files up to this size are deflated exactly.
inline constexpr std::int64_t kSmallExactFile = 4096;
// Files are read this far at first, in one read: a compressed format is told from its start
// and not read further; most files end within it.
inline constexpr std::int64_t kSmallHead = 64 * 1024;
// The calibration slice, and how many are drawn in a folder.
inline constexpr std::int64_t kSmallSlice = 4096;
inline constexpr int kSmallCalibrationDraws = 4;
// A file whose fast-codec size is at least this share of its bytes does not compress: deflate
// takes at most 3% more off it (measured on /usr/share/doc, /usr/include and locales: such
// files deflate to 0.994-1.000 of the fast codec's size).
inline constexpr double kIncompressibleShare = 0.98;
inline constexpr double kIncompressibleSlack = 0.03;
// A cold 4 KiB slice gives a deflate/fast ratio 0.023 below its whole file's (both codecs
// lose their history at its start; mean over 2,300 files of 32 KiB or more); one file's ratio
// spreads about 0.04 around its folder's, the least spread the interval assumes.
inline constexpr double kSliceRatioBias = 0.023;
inline constexpr double kRatioSpread = 0.04;
// With no readable calibration slice: the ratio measured over those files, with its range.
inline constexpr double kPriorRatio = 0.765;
inline constexpr double kPriorRatioRange = 0.15;

// What reading a small folder found.
struct SmallSums {
  std::int64_t exactBytes = 0, exactSaving = 0;  // files deflated exactly
  std::int64_t modelBytes = 0, modelFast = 0;    // compressible larger files: sizes, fast sizes
  std::int64_t storedBytes = 0, storedFast = 0;  // larger files the fast codec did not shrink
  std::int64_t missing = 0;                      // listed bytes that could not be read
  std::vector<double> ratios;                    // deflate / fast of each calibration slice
  int unreadableDraws = 0;                       // slices that could not be read
};

// Point estimate and 95% interval of the byte saving:
//   exact part: exactSaving, exact;
//   compressible part: modelBytes - R modelFast, R = mean(ratios) + kSliceRatioBias,
//     +- t(n-1) max(s, kRatioSpread)/sqrt(n) modelFast, plus half a point of modelBytes for
//     deflate's implementations (the zipper's zlib and libdeflate differ by about that);
//   incompressible part: 0, up to kIncompressibleSlack of its bytes;
//   missing bytes: up to all of them saved; unreadable slices widen as a share of the draws.
// Each part is clipped to [0, its bytes]. Not Known when nothing could be read.
SavingEstimate SmallFolderInterval(const SmallSums& s);

}  // namespace orbelan
