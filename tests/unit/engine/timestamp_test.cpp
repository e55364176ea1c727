#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <utility>

#include "engine/timestamp.h"
#include "tests/testutil/fake_clock.h"

namespace chron {
namespace {

constexpr int64_t kSecond = 1000000000;
constexpr int64_t kMillisecond = 1000000;

// 1998-08-06 15:29:38 UTC and 2040-01-01 00:00:00 UTC in seconds since 1970.
constexpr int64_t k1998 = 902417378;
constexpr int64_t k2040 = 2208988800;

NtpTimestamp At(int64_t unix_ns) {
  testing::FakeClock clock(unix_ns);
  return NtpNow(clock);
}

void ExpectCalendar(const CalendarTime& c, int year, int month, int day, int hour, int minute, int second) {
  EXPECT_EQ(c.year, year);
  EXPECT_EQ(c.month, month);
  EXPECT_EQ(c.day, day);
  EXPECT_EQ(c.hour, hour);
  EXPECT_EQ(c.minute, minute);
  EXPECT_EQ(c.second, second);
}

TEST(TimestampTest, CopyCompareClear) {
  const NtpTimestamp t{0x12345678, 0x9ABCDEF0};
  NtpTimestamp u{1, 1};
  CopyTimestamp(&u, t);
  EXPECT_TRUE(TimestampsEqual(u, t));
  EXPECT_FALSE(TimestampsEqual(u, NtpTimestamp{0x12345678, 0x9ABCDEF1}));
  EXPECT_FALSE(TimestampsEqual(u, NtpTimestamp{0x12345679, 0x9ABCDEF0}));
  ClearTimestamp(&u);
  EXPECT_TRUE(TimestampsEqual(u, ZeroTimestamp));
}

TEST(TimestampTest, WidenedValueHasSecondsOnTop) {
  EXPECT_EQ(TimestampToUint64(NtpTimestamp{0x12345678, 0x9ABCDEF0}), 0x123456789ABCDEF0u);
  const NtpTimestamp t = TimestampFromUint64(0xFEDCBA9876543210u);
  EXPECT_EQ(t.seconds, 0xFEDCBA98u);
  EXPECT_EQ(t.fraction, 0x76543210u);
}

TEST(TimestampTest, WholeSecondsBetweenRoundsDown) {
  const NtpTimestamp earlier = At(k1998 * kSecond);
  EXPECT_EQ(WholeSecondsBetween(At(k1998 * kSecond + 1900 * kMillisecond), earlier), 1u);
  EXPECT_EQ(WholeSecondsBetween(At((k1998 + 2) * kSecond), earlier), 2u);
  EXPECT_EQ(WholeSecondsBetween(At(k1998 * kSecond - 100 * kMillisecond), earlier), 0xFFFFFFFFu);
  EXPECT_EQ(WholeSecondsBetween(earlier, earlier), 0u);
  // Across the end of era 0: the difference is taken modulo 2^64.
  EXPECT_EQ(WholeSecondsBetween(NtpTimestamp{1, 0}, NtpTimestamp{0xFFFFFFFF, 0}), 2u);
}

TEST(TimestampTest, NtpSecondsToUnixReadsTheEraFromTheTopBit) {
  EXPECT_EQ(NtpSecondsToUnix(2208988800u), 0);
  EXPECT_EQ(NtpSecondsToUnix(0xB9744A62u), k1998);
  EXPECT_EQ(NtpSecondsToUnix(2208988799u), -1);
  EXPECT_EQ(NtpSecondsToUnix(0x80000000u), -61505152);   // 1968-01-20 03:14:08, first of era 0
  EXPECT_EQ(NtpSecondsToUnix(0xFFFFFFFFu), 2085978495);  // 2036-02-07 06:28:15, last of era 0
  EXPECT_EQ(NtpSecondsToUnix(0u), 2085978496);           // 2036-02-07 06:28:16, first of era 1
  EXPECT_EQ(NtpSecondsToUnix(61505152u), 2147483648);    // 2038-01-19 03:14:08
  EXPECT_EQ(NtpSecondsToUnix(0x7FFFFFFFu), 4233462143);  // 2104-02-26 09:42:23, last of era 1
  for (int64_t unix_seconds :
       {int64_t{-61505152}, int64_t{-1}, int64_t{0}, k1998, int64_t{2085978495}, int64_t{2085978496},
        int64_t{2147483647}, int64_t{2147483648}, k2040, int64_t{4233462143}}) {
    EXPECT_EQ(NtpSecondsToUnix(UnixToNtpSeconds(unix_seconds)), unix_seconds) << unix_seconds;
  }
}

TEST(TimestampTest, UnixFromCalendar) {
  EXPECT_EQ(UnixFromCalendar(1970, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(UnixFromCalendar(1998, 8, 6, 15, 29, 38), k1998);
  EXPECT_EQ(UnixFromCalendar(2000, 2, 29, 12, 0, 0), 951825600);
  EXPECT_EQ(UnixFromCalendar(2000, 3, 1, 0, 0, 0), 951868800);
  EXPECT_EQ(UnixFromCalendar(2036, 2, 7, 6, 28, 16), 2085978496);
  EXPECT_EQ(UnixToNtpSeconds(UnixFromCalendar(2036, 2, 7, 6, 28, 16)), 0u);
  EXPECT_EQ(UnixFromCalendar(2038, 1, 19, 3, 14, 7), 2147483647);
  EXPECT_EQ(UnixFromCalendar(2038, 1, 19, 3, 14, 8), 2147483648);
  EXPECT_EQ(UnixFromCalendar(2040, 1, 1, 0, 0, 0), k2040);
  EXPECT_EQ(UnixFromCalendar(2100, 3, 1, 0, 0, 0), 4107542400);  // 2100 is no leap year
  EXPECT_EQ(UnixFromCalendar(1969, 12, 31, 23, 59, 59), -1);
  EXPECT_EQ(UnixFromCalendar(1968, 1, 20, 3, 14, 8), -61505152);
}

TEST(TimestampTest, CalendarFromUnix) {
  ExpectCalendar(CalendarFromUnix(k1998), 1998, 8, 6, 15, 29, 38);
  ExpectCalendar(CalendarFromUnix(951825600), 2000, 2, 29, 12, 0, 0);
  ExpectCalendar(CalendarFromUnix(0), 1970, 1, 1, 0, 0, 0);
  ExpectCalendar(CalendarFromUnix(-1), 1969, 12, 31, 23, 59, 59);
  ExpectCalendar(CalendarFromUnix(2085978496), 2036, 2, 7, 6, 28, 16);
  ExpectCalendar(CalendarFromUnix(2147483647), 2038, 1, 19, 3, 14, 7);
  ExpectCalendar(CalendarFromUnix(2147483648), 2038, 1, 19, 3, 14, 8);
  ExpectCalendar(CalendarFromUnix(k2040), 2040, 1, 1, 0, 0, 0);
  ExpectCalendar(CalendarFromUnix(4233462143), 2104, 2, 26, 9, 42, 23);
}

TEST(TimestampTest, CalendarAgreesWithGmtimeAcrossBothEras) {
  // Every 7919 s + 1 day step from 1968 to 2105 (all times of day, every month and leap rule).
  for (int64_t t = -61505152; t < 4300000000; t += 86400 + 7919) {
    std::time_t time = static_cast<std::time_t>(t);
    std::tm expected{};
    ASSERT_NE(gmtime_r(&time, &expected), nullptr);
    const CalendarTime c = CalendarFromUnix(t);
    ASSERT_EQ(c.year, expected.tm_year + 1900) << t;
    ASSERT_EQ(c.month, expected.tm_mon + 1) << t;
    ASSERT_EQ(c.day, expected.tm_mday) << t;
    ASSERT_EQ(c.hour, expected.tm_hour) << t;
    ASSERT_EQ(c.minute, expected.tm_min) << t;
    ASSERT_EQ(c.second, expected.tm_sec) << t;
    ASSERT_EQ(UnixFromCalendar(c.year, c.month, c.day, c.hour, c.minute, c.second), t);
  }
}

TEST(TimestampTest, CalendarFromJulianDay) {
  int year = 0, month = 0, day = 0;
  CalendarFromJulianDay(2440588, &year, &month, &day);
  EXPECT_EQ(year * 10000 + month * 100 + day, 19700101);
  CalendarFromJulianDay(2451545, &year, &month, &day);
  EXPECT_EQ(year * 10000 + month * 100 + day, 20000101);
  CalendarFromJulianDay(2451604, &year, &month, &day);
  EXPECT_EQ(year * 10000 + month * 100 + day, 20000229);
  CalendarFromJulianDay(2465060, &year, &month, &day);
  EXPECT_EQ(year * 10000 + month * 100 + day, 20370101);
}

TEST(TimestampTest, NtpNowAtTheDesignatedInstant) {
  const NtpTimestamp t = At(k1998 * kSecond + 500 * kMillisecond);
  EXPECT_EQ(t.seconds, 3111406178u);
  EXPECT_EQ(t.seconds, 0xB9744A62u);
  EXPECT_EQ(t.fraction, 0x80000000u);
}

TEST(TimestampTest, NtpNowKeepsNanosecondsRoundedToNearestFraction) {
  EXPECT_EQ(At(k1998 * kSecond + 1).fraction, 4u);                   // 4.29 units
  EXPECT_EQ(At(k1998 * kSecond + 3).fraction, 13u);                  // 12.88 units
  EXPECT_EQ(At(k1998 * kSecond + kMillisecond).fraction, 4294967u);  // 4294967.296 units
  EXPECT_EQ(At(k1998 * kSecond + 999999999).fraction, 4294967292u);  // no carry into the seconds
  // Before 1970 the second is still the one that began before the instant.
  const NtpTimestamp before = At(-250 * kMillisecond);
  EXPECT_EQ(before.seconds, 2208988799u);
  EXPECT_EQ(before.fraction, 0xC0000000u);
}

TEST(TimestampTest, NtpNowAfter2036And2038) {
  const NtpTimestamp era1 = At(2085978496 * kSecond);
  EXPECT_EQ(era1.seconds, 0u);
  const NtpTimestamp y2038 = At(2147483648 * kSecond + kMillisecond);
  EXPECT_EQ(y2038.seconds, 61505152u);
  EXPECT_EQ(y2038.fraction, 4294967u);

  const NtpTimestamp t = At(k2040 * kSecond + 250 * kMillisecond);
  EXPECT_EQ(t.seconds, 123010304u);  // (2040-01-01 in NTP seconds) modulo 2^32
  EXPECT_EQ(t.fraction, 0x40000000u);
  ExpectCalendar(CalendarFromUnix(NtpSecondsToUnix(t.seconds)), 2040, 1, 1, 0, 0, 0);
}

// Nanoseconds come back exactly; a timestamp comes back within 1 ns (4.29 units), also on both
// sides of the era boundary (2036-02-07 06:28:16 UTC) and before 1970.
TEST(TimestampTest, NanosecondsToFractionAndBack) {
  constexpr int64_t kEra1 = 2085978496 * kSecond;
  for (const int64_t ns :
       {k1998 * kSecond, k1998 * kSecond + 1, k1998 * kSecond + 999999999, kEra1 - 1, kEra1, kEra1 + 1,
        kEra1 + 123456789, int64_t{-1}, -250 * kMillisecond, k2040 * kSecond + 987654321}) {
    EXPECT_EQ(NanosecondsFromNtp(NtpFromNanoseconds(ns)), ns) << ns;
  }
  for (const uint64_t value : {0x00000000FFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, 0x0000000000000001ull,
                               0xB9744A62FFFFFFFEull, 0x80000000DEADBEEFull, 0x7FFFFFFF00000003ull}) {
    const uint64_t back = TimestampToUint64(NtpFromNanoseconds(NanosecondsFromNtp(TimestampFromUint64(value))));
    const int64_t error = static_cast<int64_t>(back - value);  // modulo 2^64
    EXPECT_LE(error < 0 ? -error : error, 4) << std::hex << value;
  }
  // The largest fraction carries into the next second, across the era boundary too.
  EXPECT_EQ(NanosecondsFromNtp(NtpTimestamp{0xFFFFFFFFu, 0xFFFFFFFFu}), kEra1);
}

// The trace keeps whole milliseconds, rounded down from the full time.
TEST(TimestampTest, MillisecondsShownAreTheTimeRoundedDown) {
  for (int64_t ms = 0; ms < 1000; ++ms) {
    const NtpTimestamp after = At(k1998 * kSecond + ms * kMillisecond + 1);
    EXPECT_EQ((uint64_t{after.fraction} * 1000) >> 32, static_cast<uint64_t>(ms)) << ms;
    const NtpTimestamp before = At(k1998 * kSecond + ms * kMillisecond - 1);
    EXPECT_EQ((uint64_t{before.fraction} * 1000) >> 32, static_cast<uint64_t>(ms == 0 ? 999 : ms - 1)) << ms;
  }
}

// Only the bits below one resolution step are random: 2 bits for 1 ns, 8 bits for 100 ns.
TEST(TimestampTest, RandomLowBitsStayBelowTheResolution) {
  for (const auto& [resolution, mask] : {std::pair<int64_t, uint32_t>{1, 0x3}, {100, 0xFF}, {1000, 0xFFF}}) {
    testing::FakeClock clock(k1998 * kSecond + 123456789);
    clock.SetResolution(resolution);
    const NtpTimestamp now = NtpNow(clock);
    uint32_t seen_or = 0;
    uint32_t seen_and = 0xFFFFFFFFu;
    for (int i = 0; i < 64; ++i) {
      const NtpTimestamp t = NtpNowWithRandomLowBits(clock);
      EXPECT_EQ(t.seconds, now.seconds);
      EXPECT_EQ(t.fraction & ~mask, now.fraction & ~mask) << resolution;
      seen_or |= t.fraction;
      seen_and &= t.fraction;
    }
    // Every random bit was 1 once and 0 once (each fails to with chance 2^-63).
    EXPECT_EQ((seen_or & ~seen_and) & mask, mask) << resolution;
  }
}

class FormatTimestampTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) old_tz_ = tz;
  }
  void TearDown() override {
    if (old_tz_) {
      setenv("TZ", old_tz_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void UseZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  static std::string Format(int64_t unix_ns) { return FormatTimestamp(At(unix_ns)); }

 private:
  std::optional<std::string> old_tz_;
};

TEST_F(FormatTimestampTest, Utc) {
  UseZone("UTC0");
  EXPECT_EQ(Format(k1998 * kSecond + 500 * kMillisecond), "1998-08-06 15:29:38.500");
  EXPECT_EQ(Format(k1998 * kSecond), "1998-08-06 15:29:38.000");
  EXPECT_EQ(Format(k1998 * kSecond + 999 * kMillisecond), "1998-08-06 15:29:38.999");
  EXPECT_EQ(FormatTimestamp(ZeroTimestamp), "2036-02-07 06:28:16.000");
  EXPECT_EQ(FormatTimestamp(NtpTimestamp{2208988800u, 0}), "1970-01-01 00:00:00.000");
  EXPECT_EQ(FormatTimestamp(NtpTimestamp{0xFFFFFFFFu, 0xFFFFFFFFu}), "2036-02-07 06:28:15.999");
  EXPECT_EQ(Format(2147483648 * kSecond), "2038-01-19 03:14:08.000");
  EXPECT_EQ(Format(k2040 * kSecond + 250 * kMillisecond), "2040-01-01 00:00:00.250");
  EXPECT_EQ(FormatTimestamp(NtpTimestamp{0x7FFFFFFFu, 0}), "2104-02-26 09:42:23.000");
}

TEST_F(FormatTimestampTest, Before1970IsAllZeros) {
  UseZone("UTC0");
  EXPECT_EQ(FormatTimestamp(NtpTimestamp{2208988799u, 0xFFFFFFFFu}), "0000-00-00 00:00:00.000");
  EXPECT_EQ(FormatTimestamp(NtpTimestamp{0x80000000u, 0}), "0000-00-00 00:00:00.000");
}

TEST_F(FormatTimestampTest, CentralEuropeanTimeWithDaylightSaving) {
  UseZone("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(Format(k1998 * kSecond + 500 * kMillisecond), "1998-08-06 17:29:38.500");  // CEST
  EXPECT_EQ(FormatTimestamp(NtpTimestamp{2208988800u, 0}), "1970-01-01 01:00:00.000");
  EXPECT_EQ(FormatTimestamp(ZeroTimestamp), "2036-02-07 07:28:16.000");
  EXPECT_EQ(Format(k2040 * kSecond + 250 * kMillisecond), "2040-01-01 01:00:00.250");
  EXPECT_EQ(Format(UnixFromCalendar(2040, 7, 1, 10, 0, 0) * kSecond), "2040-07-01 12:00:00.000");
  // Local time before 1970 UTC is still before 1970 UTC: no text for it, whatever the zone.
  EXPECT_EQ(FormatTimestamp(NtpTimestamp{2208988799u, 0}), "0000-00-00 00:00:00.000");
}

}  // namespace
}  // namespace chron
