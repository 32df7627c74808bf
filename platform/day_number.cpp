#include "platform/day_number.h"

#include <time.h>

#include <algorithm>

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

LocalDayClock::LocalDayClock() { tzset(); }

std::int32_t LocalDayClock::OffsetOfDay(std::int64_t day) {
  if (last_ < spans_.size() && spans_[last_].firstDay <= day && day <= spans_[last_].lastDay)
    return spans_[last_].offset;
  // The first span that starts after day; the one before it may hold day.
  const auto after = std::upper_bound(spans_.begin(), spans_.end(), day,
                                      [](std::int64_t d, const Span& s) { return d < s.firstDay; });
  const std::size_t at = static_cast<std::size_t>(after - spans_.begin());
  if (at > 0 && day <= spans_[at - 1].lastDay) {
    last_ = at - 1;
    return spans_[last_].offset;
  }
  return LearnDay(day, at);
}

// Asks the C library about a day not yet covered, and files it before spans_[at].
std::int32_t LocalDayClock::LearnDay(std::int64_t day, std::size_t at) {
  const std::int64_t first = day * kSecondsPerDay;
  const std::int32_t atStart = UtcOffsetAt(first);
  const std::int32_t offset = atStart == UtcOffsetAt(first + kSecondsPerDay - 1) ? atStart : kMixed;

  const bool joinsBefore = offset != kMixed && at > 0 && spans_[at - 1].lastDay == day - 1 &&
                           spans_[at - 1].offset == offset;
  const bool joinsAfter = offset != kMixed && at < spans_.size() &&
                          spans_[at].firstDay == day + 1 && spans_[at].offset == offset;
  if (joinsBefore && joinsAfter) {
    spans_[at - 1].lastDay = spans_[at].lastDay;
    spans_.erase(spans_.begin() + static_cast<std::ptrdiff_t>(at));
    last_ = at - 1;
  } else if (joinsBefore) {
    spans_[at - 1].lastDay = day;
    last_ = at - 1;
  } else if (joinsAfter) {
    spans_[at].firstDay = day;
    last_ = at;
  } else {
    spans_.insert(spans_.begin() + static_cast<std::ptrdiff_t>(at), Span{day, day, offset});
    last_ = at;
  }
  return offset;
}

double LocalDayClock::DayNumber(std::int64_t unixSeconds) {
  if (converted_ && unixSeconds == lastSecond_) return lastDayNumber_;
  const std::int64_t asked = unixSeconds;
  // Some file systems (tmpfs) store any 64-bit time; beyond a hundred billion years the
  // day arithmetic below would overflow, and no day there differs in meaning anyway.
  constexpr std::int64_t kFarthest = std::int64_t{1} << 62;
  unixSeconds = std::clamp(unixSeconds, -kFarthest, kFarthest);
  std::int32_t offset = OffsetOfDay(FloorDiv(unixSeconds, kSecondsPerDay));
  if (offset == kMixed) offset = UtcOffsetAt(unixSeconds);
  const double day = DayNumberOfLocal(unixSeconds + offset);
  converted_ = true;
  lastSecond_ = asked;
  lastDayNumber_ = day;
  return day;
}

double TodayDayNumber() {
  const std::int64_t now = static_cast<std::int64_t>(time(nullptr));
  return static_cast<double>(FloorDiv(now + UtcOffsetAt(now), kSecondsPerDay) + kUnixEpochDay);
}

}  // namespace orbelan
