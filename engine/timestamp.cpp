#include "engine/timestamp.h"

#include <bit>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <random>

namespace chron {

namespace {

// Seconds from 1900-01-01 (NTP epoch) to 1970-01-01 (Unix epoch).
constexpr int64_t kNtpToUnixSeconds = 2208988800;
// Seconds of one NTP era (2^32).
constexpr int64_t kNtpEraSeconds = int64_t{1} << 32;
constexpr int64_t kNanosecondsPerSecond = 1000000000;
// Day count of 1970-01-01 by the day formula of UnixFromCalendar.
constexpr int64_t kDaysTo1970 = 719499;
// Julian Day Number of 1970-01-01.
constexpr int64_t kJulianDay1970 = 2440588;

// Division rounded towards minus infinity (b > 0), so that times before 1970 split correctly.
int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if (a % b != 0 && a < 0) --q;
  return q;
}

int64_t FloorMod(int64_t a, int64_t b) { return a - FloorDiv(a, b) * b; }

}  // namespace

void CopyTimestamp(NtpTimestamp* destination, const NtpTimestamp& source) {
  destination->seconds = source.seconds;
  destination->fraction = source.fraction;
}

bool TimestampsEqual(const NtpTimestamp& a, const NtpTimestamp& b) {
  return a.seconds == b.seconds && a.fraction == b.fraction;
}

void ClearTimestamp(NtpTimestamp* t) {
  t->seconds = 0;
  t->fraction = 0;
}

uint64_t TimestampToUint64(const NtpTimestamp& t) { return (uint64_t{t.seconds} << 32) | t.fraction; }

NtpTimestamp TimestampFromUint64(uint64_t value) {
  return NtpTimestamp{static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value)};
}

uint32_t WholeSecondsBetween(const NtpTimestamp& later, const NtpTimestamp& earlier) {
  const uint64_t difference = TimestampToUint64(later) - TimestampToUint64(earlier);  // mod 2^64
  return static_cast<uint32_t>(difference >> 32);
}

// Era 0 covers NTP seconds 2^31 .. 2^32-1 (1968-01-20 03:14:08 to 2036-02-07 06:28:15 UTC),
// era 1 covers 0 .. 2^31-1 (2036-02-07 06:28:16 to 2104-02-26 09:42:23 UTC).
int64_t NtpSecondsToUnix(uint32_t ntp_seconds) {
  int64_t seconds = ntp_seconds;
  if ((ntp_seconds & 0x80000000u) == 0) seconds += kNtpEraSeconds;
  return seconds - kNtpToUnixSeconds;
}

uint32_t UnixToNtpSeconds(int64_t unix_seconds) {
  return static_cast<uint32_t>(static_cast<uint64_t>(unix_seconds) + static_cast<uint64_t>(kNtpToUnixSeconds));
}

// March is month 1 of the shifted year, so that the leap day is the last day of a year;
// (m * 367) / 12 then counts the days of the months before m (plus a constant).
int64_t UnixFromCalendar(int year, int month, int day, int hour, int minute, int second) {
  int64_t y = year;
  int64_t m = int64_t{month} - 2;
  if (m <= 0) {
    m += 12;
    y -= 1;
  }
  const int64_t days =
      FloorDiv(y, 400) - FloorDiv(y, 100) + y * 365 + (m * 367) / 12 + day + FloorDiv(y, 4) - kDaysTo1970;
  const int64_t hours = days * 24 + hour;
  const int64_t minutes = hours * 60 + minute;
  return minutes * 60 + second;
}

CalendarTime CalendarFromUnix(int64_t unix_seconds) {
  CalendarTime c;
  c.second = static_cast<int>(FloorMod(unix_seconds, 60));
  const int64_t minutes = FloorDiv(unix_seconds, 60);
  c.minute = static_cast<int>(FloorMod(minutes, 60));
  const int64_t hours = FloorDiv(minutes, 60);
  c.hour = static_cast<int>(FloorMod(hours, 24));
  const int64_t days = FloorDiv(hours, 24);
  CalendarFromJulianDay(days + kJulianDay1970, &c.year, &c.month, &c.day);
  return c;
}

// Fliegel and Van Flandern (1968), valid for Julian Day Numbers from 0 (4713 BC) on.
void CalendarFromJulianDay(int64_t julian_day, int* year, int* month, int* day) {
  int64_t l = julian_day + 68569;
  const int64_t n = (4 * l) / 146097;
  l = l - (146097 * n + 3) / 4;
  const int64_t i = (4000 * (l + 1)) / 1461001;
  l = l - (1461 * i) / 4 + 31;
  const int64_t j = (80 * l) / 2447;
  *day = static_cast<int>(l - (2447 * j) / 80);
  const int64_t k = j / 11;
  *month = static_cast<int>(j + 2 - 12 * k);
  *year = static_cast<int>(100 * (n - 49) + i + k);
}

// fraction = nanoseconds * 2^32 / 10^9 rounded to nearest; nanoseconds * 2^32 < 2^62, so the
// sum fits 64 bits. A carry out of the fraction moves into the seconds through the 64-bit sum.
NtpTimestamp NtpFromNanoseconds(int64_t unix_ns) {
  const int64_t seconds = FloorDiv(unix_ns, kNanosecondsPerSecond);
  const uint64_t nanoseconds = static_cast<uint64_t>(unix_ns - seconds * kNanosecondsPerSecond);
  const uint64_t fraction = ((nanoseconds << 32) + kNanosecondsPerSecond / 2) / kNanosecondsPerSecond;
  return TimestampFromUint64((uint64_t{UnixToNtpSeconds(seconds)} << 32) + fraction);
}

// nanoseconds = fraction * 10^9 / 2^32 rounded to nearest (fraction * 10^9 < 2^62); a result of
// 10^9 carries into the seconds by the plain sum.
int64_t NanosecondsFromNtp(const NtpTimestamp& t) {
  const uint64_t nanoseconds = (uint64_t{t.fraction} * kNanosecondsPerSecond + (uint64_t{1} << 31)) >> 32;
  return NtpSecondsToUnix(t.seconds) * kNanosecondsPerSecond + static_cast<int64_t>(nanoseconds);
}

NtpTimestamp NtpNow(platform::Clock& clock) { return NtpFromNanoseconds(clock.NowNanoseconds()); }

// The fraction bits worth less than the clock's resolution: the widest b with 2^b units of
// 2^-32 s not above one resolution step (1 ns: 4.29 units, 2 bits; 100 ns: 429 units, 8 bits).
NtpTimestamp NtpNowWithRandomLowBits(platform::Clock& clock) {
  const NtpTimestamp now = NtpNow(clock);
  const int64_t resolution = clock.ResolutionNanoseconds();
  const uint64_t units = resolution <= 0 ? 0
                         : resolution >= kNanosecondsPerSecond
                             ? uint64_t{1} << 32
                             : (static_cast<uint64_t>(resolution) << 32) / kNanosecondsPerSecond;
  const int bits = units == 0 ? 0 : std::bit_width(units) - 1;
  if (bits == 0) return now;
  const uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : (uint32_t{1} << bits) - 1;
  // The system's entropy source, not a seeded sequence; one for the process, since a
  // thread_local one would be destroyed after its storage with the MinGW runtime.
  static std::mutex random_mutex;
  static std::random_device random;
  uint32_t noise = 0;
  {
    std::lock_guard lock(random_mutex);
    noise = static_cast<uint32_t>(random());
  }
  return NtpTimestamp{now.seconds, (now.fraction & ~mask) | (noise & mask)};
}

std::string FormatTimestamp(const NtpTimestamp& t) {
  static const std::string kBefore1970 = "0000-00-00 00:00:00.000";
  static_assert(sizeof(std::time_t) >= 8, "times after 2038 need a 64-bit time_t");
  const uint64_t milliseconds = (uint64_t{t.fraction} * 1000) >> 32;  // 0 to 999, rounded down
  const int64_t unix_seconds = NtpSecondsToUnix(t.seconds);
  if (unix_seconds < 0) return kBefore1970;
  const std::time_t time = static_cast<std::time_t>(unix_seconds);
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr) return kBefore1970;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(milliseconds));
  return text;
}

}  // namespace chron
