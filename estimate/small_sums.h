#pragma once
// How a small folder is read (estimate/saving_small.h tells why): the sizes and shares its
// reading goes by, and the sums it keeps of what it found, apart from the arithmetic that
// turns them into an estimate, so that the short and the larger files' parts can share them.

#include <cstdint>
#include <utility>
#include <vector>

namespace orbelan {

// Files up to this size are deflated exactly.
inline constexpr std::int64_t kSmallExactFile = 4096;
// Files are read this far at first, in one read: a compressed format is told from its start
// and not read further; most files end within it.
inline constexpr std::int64_t kSmallHead = 64 * 1024;
// The calibration slice, and how many are drawn in a folder: three, with the slices' bias
// measured in the folder, hold its figure as close as four did for a quarter less deflating.
inline constexpr std::int64_t kSmallSlice = 4096;
inline constexpr int kSmallCalibrationDraws = 3;
// A folder whose compressible larger files come to at most this many bytes has them deflated
// whole, exactly, instead of calibrated by slices: about what the slices it spares cost
// (deflated, and compressed by the fast codec).
inline constexpr std::int64_t kSmallWholeModel = 20 * 1024;
// A file whose fast-codec size is at least this share of its bytes does not compress: deflate
// takes at most 3% more off it (measured on /usr/share/doc, /usr/include and locales: such
// files deflate to 0.994-1.000 of the fast codec's size).
inline constexpr double kIncompressibleShare = 0.98;
inline constexpr double kIncompressibleSlack = 0.03;
// A cold 4 KiB slice gives a deflate/fast ratio 0.003 above its whole file's (both codecs
// lose their history at its start; 0.007 over 4,800 files of 32 KiB or more in /usr's small
// folders, on which zstd -4's slices came 0.019 below where 2,300 others put them 0.023
// below), though one file's lies anywhere from 0.08 below to 0.08 above (2.5% and 97.5%
// of them): a folder over kFewBlocks measures its own
// (estimate/slice_bias.h); this mean stands in folders of few blocks. One file's ratio
// spreads about 0.04 around its folder's, the least spread the interval assumes.
inline constexpr double kSliceRatioBias = -0.003;
inline constexpr double kRatioSpread = 0.04;
// When one of the folder's files measures the slices' bias: the least spread of the files'
// ratios about one another the weighing of the slices assumes, and how far that file's bias
// may lie from the rest's (estimate/slice_bias.h).
inline constexpr double kFileRatioSpread = 0.02;
inline constexpr double kBiasSpread = 0.015;
// With no readable calibration slice: the ratio measured over those files, with its range
// (0.575 over the compressible files of over 4 KiB in /usr/share's small folders, 0.615 over
// /usr/lib's).
inline constexpr double kPriorRatio = 0.595;
inline constexpr double kPriorRatioRange = 0.15;

// Short files: in a folder of many, the scan picks a simple random sample of those of 1 to
// kShortFile bytes (by their names' hashes) and only those are read; the others are known by
// their count and bytes. Opening every one of thousands of short files costs more system
// calls than anything else the estimate does, and each such file gives back a whole block
// however it compresses, so the points its saving can move are few.
inline constexpr std::int64_t kShortFile = kSmallExactFile;
inline constexpr int kShortSample = 8;
// The least spread the interval assumes for a short file's saving about the sample's ratio,
// as a share of the sample's mean size: short files of one folder are alike, but the sample
// may miss the one that is not.
inline constexpr double kShortSpread = 0.05;

// What one larger file of the sample gave, in the parts the folder's sums keep (its exact
// saving, its bytes and fast size when calibrated, its bytes the fast codec did not
// shrink, and what could not be read).
struct LargerRead {
  std::int64_t size = 0;
  std::int64_t exactSaving = 0;
  std::int64_t modelBytes = 0, modelFast = 0;
  std::int64_t storedBytes = 0, storedFast = 0;
  std::int64_t missing = 0;
};

// What reading a small folder found.
struct SmallSums {
  std::int64_t exactBytes = 0, exactSaving = 0;  // files deflated exactly
  std::int64_t modelBytes = 0, modelFast = 0;    // compressible larger files: sizes, fast sizes
  std::int64_t storedBytes = 0, storedFast = 0;  // larger files the fast codec did not shrink
  std::int64_t missing = 0;                      // listed bytes that could not be read
  std::vector<double> ratios;                    // deflate / fast of each calibration slice
  int unreadableDraws = 0;                       // slices that could not be read
  // One of the compressible larger files, drawn as the slices are, measured whole with the
  // zipper's deflate and as cold slices (estimate/slice_bias.h): its whole ratio, its slices'
  // mean ratio and their spread. When it was the whole file, it is among the exact files.
  bool biasMeasured = false;
  double biasWhole = 0, biasCold = 0, biasColdSpread = 0;
  double biasCover = 1;  // the share of that file its bytes were
  int biasTiles = 1;     // how many cold slices they were cut into
  // The short files read as a sample (size, saving; part of the exact files above), and the
  // short files left unread, which the sample stands for.
  std::vector<std::pair<std::int64_t, std::int64_t>> shortSample;
  std::int64_t unreadShortFiles = 0, unreadShortBytes = 0;
  // The larger files read as a sample (each also in the parts above), and those left
  // unread, which the sample stands for (estimate/saving_small_larger.h).
  std::vector<LargerRead> largerSample;
  std::int64_t unreadLargerFiles = 0, unreadLargerBytes = 0;
  double unreadLargerSquares = 0;  // the sum of their sizes squared
};

}  // namespace orbelan
