#pragma once
// The larger files (over kShortFile bytes) of a small folder that holds many of them: a
// simple random sample of them is read and the rest estimated from it. Opening a file
// costs more than reading and compressing its few kilobytes, and a tree of downloads or
// caches has thousands of folders of dozens of such files. The scan keeps every larger
// file's name hash and size (FileDraws::Larger, lowest hash first), so any first few of
// them are a simple random sample whose sizes, and the sizes of the files it stands for,
// are known without opening them. What the unread ones save is the ratio estimator over
// the sample (saving per byte, by size), with the finite-population correction, and a
// least spread the sample may not show (it may miss the one file unlike the others). A
// sample that finds its files unlike each other is not trusted: the folder reads the rest.

#include <cstdint>
#include <utility>
#include <vector>

#include "estimate/small_sums.h"

namespace orbelan {

// A file more than this many times the mean size of the folder's larger files is read
// whole whatever the sample: a sample cannot stand for a file that holds a good share of
// the folder's bytes (a Perl table of 400 KB beside thirty of 5-60 KB).
inline constexpr double kLargerCensus = 2.0;
// The other larger files: folders of fewer read them all; a sample is at least this many.
inline constexpr int kLargerSampleFrom = 8;
inline constexpr int kLargerSampleLeast = 4;
// The least spread of a file's saving about the sample's ratio, as a share of the root
// mean square of their sizes (a file's saving spreads with its size; the files of one
// folder are alike, but the sample may miss the one that is not).
inline constexpr double kLargerSpread = 0.05;
// The sample's half-width, at most this share of the folder's allocated bytes: planned with
// the least spread, and the folder reads the rest when the sample shows more than that.
// Well within the three points a small folder is to be within: a sample that agrees this
// well seldom misses by more.
inline constexpr double kLargerReadShare = 0.02;

// Which of the folder's larger files (the scan's, lowest hash first) to read: every file
// over kLargerCensus times their mean size (over census bytes), and the first sampled of
// the others: the fewest, from kLargerSampleLeast on, whose half-width with the least
// spread is within kLargerReadShare of allocated and that leave at least a quarter of them
// unread; all of them when there is no such sample, or fewer than kLargerSampleFrom.
struct LargerPlan {
  std::int64_t census = 0;
  int sampled = 0;
  int others = 0;  // the files the sample is drawn from
};
LargerPlan PlanLargerSample(const std::vector<std::pair<std::uint64_t, std::int64_t>>& larger, double allocated);

// Whether the sample of larger files may stand for the unread ones: none of its files
// shrinks (noise, compressed formats: the fast codec kept them whole, and none was deflated
// exactly) and its half-width is within kLargerReadShare of allocated. Where files shrink,
// the points of a small folder are earned file by file: on folders nobody here wrote
// (Python caches, Perl modules) samples of them that met the half-width still moved two or
// three folders more than three points, so such folders read every file.
bool LargerSampleTrusted(const SmallSums& s, double allocated);

// What the unread larger files save: point, 95% interval, and the half-width of sampling
// alone. ratio and ratioHalf turn the sample's fast sizes into deflate sizes (the folder's
// calibration): the low end takes ratio + ratioHalf, the high end ratio - ratioHalf, the
// files the fast codec did not shrink up to kIncompressibleSlack and unreadable bytes all
// saved; each end then widened by the sampling half-width and clipped to [0, unread bytes].
struct UnreadLargerPart {
  double point = 0, low = 0, high = 0, half = 0;
};
UnreadLargerPart UnreadLargerSaving(const SmallSums& s, double ratio, double ratioHalf);

}  // namespace orbelan
