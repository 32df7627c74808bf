#include "platform/day_number.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace orbelan {
namespace {

// Sets TZ for one test and restores the previous zone afterwards.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (saved_) setenv("TZ", saved_->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

// The day number the C library's own conversion gives, built from its calendar fields.
double ExpectedDayNumber(long long t) {
  const time_t tt = static_cast<time_t>(t);
  tm local{};
  if (localtime_r(&tt, &local) == nullptr) ADD_FAILURE() << "localtime_r failed for " << t;
  const long long days = DaysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                                       static_cast<unsigned>(local.tm_mday)) + 25569;
  const long long seconds = local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec;
  return static_cast<double>(days) + static_cast<double>(seconds) / 86400.0;
}

// Every instant at which the zone's offset changes between the two years.
std::vector<long long> OffsetChanges(int fromYear, int toYear) {
  std::vector<long long> changes;
  const long long start = DaysFromCivil(fromYear, 1, 1) * 86400;
  const long long end = DaysFromCivil(toYear + 1, 1, 1) * 86400;
  constexpr long long kStep = 600;
  long long previous = UtcOffsetAt(start);
  for (long long t = start + kStep; t < end; t += kStep) {
    const long long now = UtcOffsetAt(t);
    if (now != previous) changes.push_back(t);
    previous = now;
  }
  return changes;
}

void CheckZone(const char* zone, int expectedChangesPerYear) {
  ZoneGuard guard(zone);
  LocalDayClock clock;

  const std::vector<long long> changes = OffsetChanges(2019, 2024);
  EXPECT_EQ(changes.size(), static_cast<std::size_t>(expectedChangesPerYear * 6)) << zone;
  // Every second around each change, in both directions, so that times on either side
  // of it meet a cache filled from the other side.
  for (long long change : changes) {
    for (long long t = change - 3600; t <= change + 3600; ++t)
      ASSERT_EQ(clock.DayNumber(t), ExpectedDayNumber(t)) << zone << " at " << t;
    for (long long t = change + 3600; t >= change - 3600; t -= 7)
      ASSERT_EQ(clock.DayNumber(t), ExpectedDayNumber(t)) << zone << " at " << t;
  }

  // Scattered times from 1812 to 2128, the cache slots colliding freely.
  std::mt19937_64 random(20240331);
  std::uniform_int_distribution<long long> spread(-5'000'000'000LL, 5'000'000'000LL);
  for (int i = 0; i < 20000; ++i) {
    const long long t = spread(random);
    ASSERT_EQ(clock.DayNumber(t), ExpectedDayNumber(t)) << zone << " at " << t;
  }

  // Odd file times: the epoch, just before it, 1900, the 32-bit limit and beyond.
  for (long long t : {0LL, -1LL, -315619200LL, -2208988800LL, 2147483647LL, 2147483648LL,
                      4102444800LL, 253402300799LL})
    EXPECT_EQ(clock.DayNumber(t), ExpectedDayNumber(t)) << zone << " at " << t;
}

TEST(DayNumber, CountsDaysFrom1899AndTheTimeOfDayAsFraction) {
  EXPECT_EQ(DayNumberOfLocal(0), 25569.0);                 // 1970-01-01 00:00
  EXPECT_EQ(DayNumberOfLocal(-25569LL * 86400), 0.0);       // 1899-12-30 00:00
  EXPECT_EQ(DayNumberOfLocal(43200), 25569.5);              // noon
  EXPECT_EQ(DayNumberOfLocal(-1), 25568.0 + 86399.0 / 86400.0);  // the last second of 1969
  EXPECT_EQ(DayNumberOfLocal(-25570LL * 86400 + 21600), -0.75);  // before 1899-12-30
}

TEST(DayNumber, MatchesTheCLibraryInZonesWithoutDaylightSaving) {
  CheckZone("UTC0", 0);
  CheckZone("<+0530>-5:30", 0);  // a half-hour offset
}

TEST(DayNumber, MatchesTheCLibraryAcrossDaylightSavingChanges) {
  // POSIX rules need no time-zone database: Central Europe, US Eastern, and Lord Howe
  // Island, whose clocks move by half an hour.
  CheckZone("CET-1CEST,M3.5.0,M10.5.0/3", 2);
  CheckZone("EST5EDT,M3.2.0,M11.1.0", 2);
  CheckZone("<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", 2);
  // Offsets and changes at odd seconds (as the local mean times of the nineteenth
  // century had them).
  CheckZone("<+0053>-0:53:28<+0153>-1:53:28,M3.5.0/2:07:31,M10.5.0/3:03:11", 2);
}

TEST(DayNumber, MatchesTheCLibraryInNamedZonesWithTheirHistory) {
  for (const char* zone : {"Europe/Berlin", "America/New_York"}) {
    if (access((std::string("/usr/share/zoneinfo/") + zone).c_str(), R_OK) != 0)
      GTEST_SKIP() << "no time-zone database";
    CheckZone(zone, 2);
  }
}

TEST(DayNumber, FileTimesAtTheEndsOfSixtyFourBitsStayFarAway) {
  // tmpfs keeps whatever time a file is given, the extremes of 64 bits included.
  ZoneGuard guard("<+14>-14");
  LocalDayClock clock;
  const double last = clock.DayNumber(std::numeric_limits<std::int64_t>::max());
  const double first = clock.DayNumber(std::numeric_limits<std::int64_t>::min());
  EXPECT_GT(last, 1e13);
  EXPECT_LT(first, -1e13);
  EXPECT_LE(clock.DayNumber(std::numeric_limits<std::int64_t>::max() - 86400), last);
  EXPECT_GE(clock.DayNumber(std::numeric_limits<std::int64_t>::min() + 86400), first);
}

TEST(DayNumber, TodayIsTheWholeLocalDate) {
  ZoneGuard guard("<-14>14");  // far east: the local date often differs from UTC's
  const time_t now = time(nullptr);
  const double today = TodayDayNumber();
  EXPECT_EQ(today, static_cast<double>(static_cast<long long>(ExpectedDayNumber(now))));
}

}  // namespace
}  // namespace orbelan
