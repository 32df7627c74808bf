#include "platform/day_number.h"

#include <time.h>

namespace orbelan {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Day number of 1970-01-01: days from 1899-12-30.
constexpr std::int64_t kUnixEpochDay = 25569;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

double DayNumberOfLocal(std::int64_t localSeconds) {
  const std::int64_t days = FloorDiv(localSeconds, kSecondsPerDay);
  const std::int64_t secondOfDay = localSeconds - days * kSecondsPerDay;
  return static_cast<double>(days + kUnixEpochDay) +
         static_cast<double>(secondOfDay) / static_cast<double>(kSecondsPerDay);
}

std::int32_t UtcOffsetAt(std::int64_t unixSeconds) {
  const time_t t = static_cast<time_t>(unixSeconds);
  struct tm local {};
  if (localtime_r(&t, &local) == nullptr) return 0;
  return static_cast<std::int32_t>(local.tm_gmtoff);
}

LocalDayClock::LocalDayClock() : slots_(kSlots) { tzset(); }

std::int32_t LocalDayClock::OffsetOfBucket(std::int64_t bucket) {
  Slot& slot = slots_[static_cast<std::size_t>(bucket) % kSlots];
  if (slot.bucket != bucket) {
    const std::int64_t first = bucket * kBucketSeconds;
    const std::int32_t atStart = UtcOffsetAt(first);
    const std::int32_t atEnd = UtcOffsetAt(first + kBucketSeconds - 1);
    slot.bucket = bucket;
    slot.offset = atStart == atEnd ? atStart : kMixed;
  }
  return slot.offset;
}

double LocalDayClock::DayNumber(std::int64_t unixSeconds) {
  std::int32_t offset = OffsetOfBucket(FloorDiv(unixSeconds, kBucketSeconds));
  if (offset == kMixed) offset = UtcOffsetAt(unixSeconds);
  return DayNumberOfLocal(unixSeconds + offset);
}

double TodayDayNumber() {
  const std::int64_t now = static_cast<std::int64_t>(time(nullptr));
  return static_cast<double>(FloorDiv(now + UtcOffsetAt(now), kSecondsPerDay) + kUnixEpochDay);
}

}  // namespace orbelan
