#pragma once
// Folders of up to a megabyte or so, most folders of a real tree: every file is read, but
// deflating every byte at the zipper's level would cost several times a plain read of them.
// Files of at most kSmallExactFile bytes are deflated exactly (they hold few bytes). A larger
// file is compressed whole with a fast codec (the yardstick, estimate/small_yardstick.h, many
// times quicker than deflate), whose size deflate's follows closely: on compressible data
// deflate at level 6 gives 0.55-0.65 of it, on data the fast codec cannot shrink it saves
// nothing either. A few 4 KiB slices, drawn with probability proportional to the files' fast-codec
// sizes, are compressed with both; the mean ratio of the two (Hansen-Hurwitz under those
// draws, so unbiased for the folder's own ratio) turns the fast sizes into deflate sizes.
// Cold slices lie off their whole files by an amount that depends on the text, so one more
// file, drawn the same way, is deflated whole as the zipper does and against its own cold
// slices: it carries the ratio as far as the slices say the folder's files are alike.
// The arithmetic lives here, apart from the reading, so that it can be checked by numbers.

#include <cstdint>
#include <utility>
#include <vector>

#include "estimate/saving_estimate.h"
#include "estimate/saving_small_larger.h"

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

// What the unread short files save: point and 95% interval (see below). fallbackRate is
// their point's rate when the sample cannot tell (fewer than two read).
struct UnreadShortPart {
  double point = 0, low = 0, high = 0;
};
UnreadShortPart UnreadShortSaving(const SmallSums& s, double fallbackRate);
// With at least this many read, of more than one size, a line through their savings against
// their sizes (the regression estimator) stands for the rest: deflate's saving is a share of
// a file less what coding any file costs, so a short file saves a smaller share than a
// longer one, and the ratio through nothing that a sample of the smaller ones gives put
// folders of a hundred notes up to 12 points of their bytes low, the truth outside the
// interval for one short files' sample in eight (awscli's examples: 21 of 115 folders at
// one seed). Fewer tell a line's spread with too few degrees of freedom: the ratio.
inline constexpr int kShortLine = 4;
// A small folder whose unread short files leave an interval wider than this share of the
// folder's allocated bytes has them read after all.
inline constexpr double kShortWidthShare = 0.06;
// Whether the short files read can stand for those left unread: not when the unread ones'
// mean size is over kShortSizeGap times the read ones' or under its inverse. Deflate's
// share grows with a file's size (a file of 200 bytes saves some 35%, one of 3 KiB 70%),
// so a sample of the smallest cannot speak for the largest: the line fitted to a few of
// them (or the ratio, with fewer than kShortLine) would be carried far past the sizes it
// saw. Such folders have their short files read after all. A sample none of whose files
// shrank (noise, compressed data) shows no such trend and stands for any sizes; text so
// short that it saves nothing (under some 60 bytes) is then taken for noise too, as it was
// before this rule.
inline constexpr double kShortSizeGap = 2.0;
bool ShortSampleStandsForUnread(const SmallSums& s);

// How many of the scan's sample of short files to read (its first ones, lowest name hashes
// first): the fewest whose interval, were the short files alike (spread kShortSpread of
// their mean size), would be within kShortReadShare of the folder's allocated bytes; none
// when all their bytes are within it (they save between nothing and all of them); a
// sample that holds every short file is read whole unless that leaves at least two of
// them unread (one open is not worth an exact figure). Each
// short file takes a whole block however it compresses, so in a folder of a few larger
// files their bytes are a sliver of its disk space, and opening them cost more than the
// rest of its estimate. files and bytes: all its short files, read or not.
inline constexpr double kShortReadShare = 0.01;
int ShortSampleToRead(std::int64_t files, std::int64_t bytes, int sampled, double allocated);

// Point estimate and 95% interval of the byte saving:
//   exact part: exactSaving, exact;
//   compressible part: modelBytes - R modelFast, plus or minus half a point of modelBytes
//     for deflate's implementations (the zipper's zlib and libdeflate differ by about that);
//     with a file of the folder measured (biasMeasured): R = whole + w (mean(ratios) - cold),
//     the slices' spread S = max(s, coldSpread, kRatioSpread), the files' F^2 = max(S^2 -
//     coldSpread^2, kFileRatioSpread^2), w = F^2 / (F^2 + S^2/n), +- hypot(t(n-1)
//     sqrt(w^2 S^2/n + (1 - w)^2 F^2), 1.96 kBiasSpread); without, R = mean(ratios) +
//     kSliceRatioBias +- t(n-1) max(s, kRatioSpread)/sqrt(n);
//   incompressible part: 0, up to kIncompressibleSlack of its bytes;
//   missing bytes: up to all of them saved; unreadable slices widen as a share of the draws;
//   unread short files: with n >= kShortLine read of more than one size, b X_u + a M for the
//     line a + b x fitted to the sample's savings y against sizes x (b within [0, 1]), X_u
//     and M their bytes and count, +- t(n-2) N sqrt(1 - n/N) sqrt(1/n + (X - x)^2/Sxx)
//     max(s_e, kShortSpread * x), X the mean size of all N short files read and unread, x the
//     sample's, s_e the spread about the line; else their bytes times the sample's ratio of
//     saving to bytes, +- t(n-1) N sqrt((1 - n/N)/n) max(s_e, kShortSpread * x), s_e the
//     spread about that ratio; with fewer than two read, between nothing and all of them;
//   unread larger files: UnreadLargerSaving with the calibrated ratio and its range.
// Each part is clipped to [0, its bytes]. Not Known when nothing could be read.
SavingEstimate SmallFolderInterval(const SmallSums& s);

}  // namespace orbelan
