#include "engine/client_math.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

namespace chron {
namespace {

constexpr uint64_t kSecond = uint64_t{1} << 32;
constexpr int64_t kSigned = static_cast<int64_t>(kSecond);
constexpr uint64_t kT1 = 0xE9F0'0000'4000'0000;  // an arbitrary 2024 time

TEST(ClockOffsetTest, ReplyIsHalfTheSumOfBothDifferences) {
  // T2 = T3 = T1 + 0.75 s, T4 = T1 + 0.25 s: (0.75 + 0.5) / 2 = 0.625 s.
  EXPECT_EQ(ClockOffset(kT1, kT1 + 3 * kSecond / 4, kT1 + 3 * kSecond / 4, kT1 + kSecond / 4, false), 5 * kSigned / 8);
  // Server behind: T2 = T1 - 10 s, T3 = T2 + 1 ms, T4 = T1 + 2 ms.
  const uint64_t ms = kSecond / 1000;
  EXPECT_EQ(ClockOffset(kT1, kT1 - 10 * kSecond, kT1 - 10 * kSecond + ms, kT1 + 2 * ms, false),
            (-20 * kSigned - static_cast<int64_t>(ms)) / 2);
}

TEST(ClockOffsetTest, ReplyHalvingTruncatesTowardZero) {
  EXPECT_EQ(ClockOffset(kT1, kT1, kT1 + 1, kT1 + 2, false), 0);  // sum -1
  EXPECT_EQ(ClockOffset(kT1, kT1, kT1 + 3, kT1, false), 1);      // sum 3
  EXPECT_EQ(ClockOffset(kT1, kT1, kT1, kT1 + 3, false), -1);     // sum -3
}

TEST(ClockOffsetTest, BroadcastIsNotHalved) {
  EXPECT_EQ(ClockOffset(0, 0, kT1 + 5 * kSecond, kT1, true), 5 * kSigned);
  EXPECT_EQ(ClockOffset(0, 0, kT1, kT1 + 5 * kSecond, true), -5 * kSigned);
}

TEST(ClockOffsetTest, WrapsAcrossTheEraBoundary) {
  // Server just after the 2036 rollover (seconds word 0), client just before it.
  const uint64_t before = 0xFFFF'FFFF'8000'0000;  // 0.5 s before the rollover
  EXPECT_EQ(ClockOffset(0, 0, kSecond / 2, before, true), kSigned);
}

TEST(RoundTripDelayTest, UsesFullDifferences) {
  const uint64_t ms = kSecond / 1000;
  // T4 - T1 = 0.25 s, T3 - T2 = 0: the plain case.
  EXPECT_EQ(RoundTripDelay(kT1, kT1 + 3 * kSecond / 4, kT1 + 3 * kSecond / 4, kT1 + kSecond / 4), kSigned / 4);
  // Differences beyond half a second, where a fraction-only difference goes wrong:
  // T4 - T1 = 1.5 s, T3 - T2 = 0.2 s -> 1.3 s.
  EXPECT_EQ(RoundTripDelay(kT1, kT1 + 7 * kSecond, kT1 + 7 * kSecond + 200 * ms, kT1 + 3 * kSecond / 2),
            static_cast<int64_t>(3 * kSecond / 2 - 200 * ms));
  // The server's processing exceeds the measured round trip: negative.
  EXPECT_EQ(RoundTripDelay(kT1, kT1 + kSecond, kT1 + kSecond + 3 * ms, kT1 + 2 * ms), -static_cast<int64_t>(ms));
}

// The stamped departure is T1 only between the request's own reading and the reply's arrival.
TEST(RequestDepartureTest, StampCountsOnlyBetweenTheReadingAndTheArrival) {
  const uint64_t t4 = kT1 + kSecond / 100;
  const struct {
    std::optional<uint64_t> departure;
    uint64_t expected;
  } cases[] = {
      {std::nullopt, kT1},                 // no stamp: the reading
      {kT1 + 300'000, kT1 + 300'000},      // 70 µs after the reading
      {kT1 - 4, kT1 - 4},                  // below the reading by no more than its random bits
      {kT1 - 5, kT1},                      // earlier: another datagram's
      {kT1 - kSecond, kT1},                // the request before
      {t4, t4},                            // at the arrival
      {t4 + 1, kT1},                       // after the arrival: a later request's
      {kT1 + kSecond * 0x80000000u, kT1},  // half an era away
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RequestDeparture(kT1, c.departure, t4, 4), c.expected) << (c.departure ? *c.departure - kT1 : 0);
  }
}

TEST(DisplaySecondsTest, SignIsCarriedByTheWholeSeconds) {
  auto shown = [](int64_t value) {
    const DisplaySeconds d = ToDisplaySeconds(value);
    return std::pair<int, int>(d.seconds, d.milliseconds);
  };
  EXPECT_EQ(shown(5 * kSigned / 8), std::make_pair(0, 625));
  EXPECT_EQ(shown(-kSigned / 2), std::make_pair(0, 500));
  EXPECT_EQ(shown(kSigned / 2), std::make_pair(0, 500));
  EXPECT_EQ(shown(-3 * kSigned / 2), std::make_pair(-1, 500));
  EXPECT_EQ(shown(-181 * kSigned - kSigned / 2), std::make_pair(-181, 500));
  EXPECT_EQ(shown(0), std::make_pair(0, 0));
  // Milliseconds round down: 0.999999 s -> 0.999, one unit below a second -> 0.999.
  EXPECT_EQ(shown(kSigned - 1), std::make_pair(0, 999));
  EXPECT_EQ(shown(-(kSigned - 1)), std::make_pair(0, 999));
}

TEST(DisplaySecondsTest, LargeOffsetsKeepTheirMilliseconds) {
  // 2^30 s + 0.75 s: a 64-bit product of the value and 1000 would overflow here.
  EXPECT_EQ(ToDisplaySeconds((int64_t{1} << 62) + 3 * kSigned / 4).seconds, 1 << 30);
  EXPECT_EQ(ToDisplaySeconds((int64_t{1} << 62) + 3 * kSigned / 4).milliseconds, 750);
  EXPECT_EQ(ToDisplaySeconds(-(int64_t{1} << 62) - kSigned / 4).seconds, -(1 << 30));
  EXPECT_EQ(ToDisplaySeconds(-(int64_t{1} << 62) - kSigned / 4).milliseconds, 250);
  EXPECT_EQ(ToDisplaySeconds(INT64_MIN).seconds, INT32_MIN);
  EXPECT_EQ(ToDisplaySeconds(INT64_MIN).milliseconds, 0);
}

TEST(DeviationLimitTest, OnlyWholeSecondsCount) {
  EXPECT_FALSE(ExceedsDeviationLimit({180, 999}, true, 180));
  EXPECT_TRUE(ExceedsDeviationLimit({181, 0}, true, 180));
  EXPECT_TRUE(ExceedsDeviationLimit({-181, 500}, true, 180));
  EXPECT_FALSE(ExceedsDeviationLimit({-180, 999}, true, 180));
  EXPECT_FALSE(ExceedsDeviationLimit({0, 999}, true, 0));
  EXPECT_TRUE(ExceedsDeviationLimit({-1, 0}, true, 0));
}

TEST(DeviationLimitTest, InactiveLimitNeverRefuses) {
  EXPECT_FALSE(ExceedsDeviationLimit({INT32_MAX, 999}, false, 0));
  EXPECT_FALSE(ExceedsDeviationLimit({INT32_MIN, 999}, false, 180));
}

TEST(DeviationLimitTest, LargeLimitsAreNotReadAsNegative) {
  EXPECT_FALSE(ExceedsDeviationLimit({INT32_MIN, 0}, true, 0xFFFFFFFFu));
  EXPECT_TRUE(ExceedsDeviationLimit({INT32_MIN, 0}, true, 0x7FFFFFFFu));
}

TEST(NanosecondsTest, ConvertsAndRoundsToNearest) {
  EXPECT_EQ(NtpUnitsToNanoseconds(5 * kSigned / 8), 625'000'000);
  EXPECT_EQ(NtpUnitsToNanoseconds(-5 * kSigned / 8), -625'000'000);
  EXPECT_EQ(NtpUnitsToNanoseconds(181 * kSigned), 181'000'000'000);
  EXPECT_EQ(NtpUnitsToNanoseconds(0), 0);
  EXPECT_EQ(NtpUnitsToNanoseconds(1), 0);                // 0.23 ns
  EXPECT_EQ(NtpUnitsToNanoseconds(3), 1);                // 0.70 ns
  EXPECT_EQ(NtpUnitsToNanoseconds(-1), 0);               // -0.23 ns
  EXPECT_EQ(NtpUnitsToNanoseconds(-3), -1);              // -0.70 ns
  EXPECT_EQ(NtpUnitsToNanoseconds(4294967), 1'000'000);  // 999999.9 ns
  EXPECT_EQ(NtpUnitsToNanoseconds(-4294967), -1'000'000);
  // Extremes of the 64-bit offset: +-2^31 s.
  EXPECT_EQ(NtpUnitsToNanoseconds(INT64_MIN), -(int64_t{1} << 31) * 1'000'000'000);
  EXPECT_EQ(NtpUnitsToNanoseconds(INT64_MAX), (int64_t{1} << 31) * 1'000'000'000);
  // Back to 2^-32 s, truncated, beyond a second bounded to it.
  EXPECT_EQ(NanosecondsToNtpUnits(625'000'000), 5 * kSigned / 8);
  EXPECT_EQ(NanosecondsToNtpUnits(-1'000'000), -4294967);
  EXPECT_EQ(NanosecondsToNtpUnits(5'000'000'000), kSigned);
}

}  // namespace
}  // namespace chron
