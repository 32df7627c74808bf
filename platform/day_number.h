#pragma once
// Local-time day numbers: days since 1899-12-30 00:00 local time, the fraction being the
// time of day. File times are converted at whole-second resolution.

#include <cstdint>
#include <ctime>
#include <vector>

namespace orbelan {

// Day number of a local wall-clock time given as seconds since 1970-01-01 00:00 local.
double DayNumberOfLocal(std::int64_t localSeconds);

// Converts file times to local day numbers without a time-zone lookup per file. The UTC
// offset is learnt per day: a day whose two ends have the same offset keeps it throughout
// (no zone in the time-zone database changes its offset and back within one day), and
// runs of such days with one offset are merged into spans, so that a few dozen spans held
// in a small sorted table cover years of file dates. Times on a day that holds an offset
// change are converted one by one by the C library. Reads the time zone (tzset) when
// constructed, so make one per scan. The files of a folder mostly share one time (a
// package's install), so the last second's answer is kept. Each counting thread has a
// clock of its own: a cache line each, or two threads' clocks would share one that both
// write.
class alignas(64) LocalDayClock {
 public:
  LocalDayClock();

  double DayNumber(std::int64_t unixSeconds);

 private:
  static constexpr std::int32_t kMixed = INT32_MIN;  // the offset changes during the day

  struct Span {
    std::int64_t firstDay;  // UTC days since 1970, inclusive
    std::int64_t lastDay;
    std::int32_t offset;  // seconds east of UTC, or kMixed (a span of one day)
  };

  std::int32_t OffsetOfDay(std::int64_t day);
  std::int32_t LearnDay(std::int64_t day, std::size_t at);

  bool converted_ = false;  // a time converted already: the last one, and its day number
  std::int64_t lastSecond_ = 0;
  double lastDayNumber_ = 0.0;
  std::vector<Span> spans_;  // sorted, disjoint
  std::size_t last_ = 0;     // the span that answered last
};

// Seconds east of UTC in effect at the given instant (0 where the C library cannot tell).
std::int32_t UtcOffsetAt(std::int64_t unixSeconds);

// Today's local date as a whole day number.
double TodayDayNumber();

}  // namespace orbelan
