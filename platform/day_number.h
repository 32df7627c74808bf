#pragma once
// Local-time day numbers: days since 1899-12-30 00:00 local time, the fraction being the
// time of day. File times are converted at whole-second resolution.

#include <cstdint>
#include <ctime>
#include <vector>

namespace orbelan {

// Day number of a local wall-clock time given as seconds since 1970-01-01 00:00 local.
double DayNumberOfLocal(std::int64_t localSeconds);

// Converts file times to local day numbers without a time-zone lookup per file: the UTC
// offset is cached per day and trusted only where it is the same at both ends of that
// day (no zone in the time-zone database changes its offset and back within one day);
// times on a day that holds an offset change are converted one by one by the C library.
// Reads the time zone (tzset) when constructed, so make one per scan.
class LocalDayClock {
 public:
  LocalDayClock();

  double DayNumber(std::int64_t unixSeconds);

 private:
  static constexpr std::int64_t kBucketSeconds = 86400;
  // Direct-mapped: 22 years of file dates without two sharing a slot.
  static constexpr std::size_t kSlots = 8192;
  static constexpr std::int32_t kMixed = INT32_MIN;  // the offset changes inside the bucket

  struct Slot {
    std::int64_t bucket = INT64_MIN;  // which day this slot holds
    std::int32_t offset = 0;          // seconds east of UTC, or kMixed
  };

  std::int32_t OffsetOfBucket(std::int64_t bucket);
  std::vector<Slot> slots_;
};

// Seconds east of UTC in effect at the given instant (0 where the C library cannot tell).
std::int32_t UtcOffsetAt(std::int64_t unixSeconds);

// Today's local date as a whole day number.
double TodayDayNumber();

}  // namespace orbelan
