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

#include "estimate/saving_figures.h"
#include "estimate/small_sums.h"

namespace orbelan {

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
