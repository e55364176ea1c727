// The broadcast delay calibration: a broadcast is applied, then a reply to the calibration
// request arrives; the delay added to later broadcasts follows from the two offsets.
#include "engine/clock_discipline.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "tests/testutil/fake_clock.h"

namespace chron {
namespace {

constexpr int64_t kMs = 1'000'000;
constexpr int64_t kUs = 1'000;
constexpr int64_t kStart = 1'000'000 * kMs;

TEST(ClockDisciplineTest, BroadcastDelayComesFromTheCalibrationReply) {
  // The broadcast's true delay is 80 us, the reply's round trip 100 us (half: 50 us).
  struct Case {
    const char* what;
    int64_t broadcast_offset;  // as measured, without delay
    int64_t corrected;         // what the discipline moved the clock by until the reply
    int64_t reply_after;       // from the broadcast to the reply, on the clock before the step
    int64_t expected;
  };
  const Case cases[] = {
      {"stepped", 750 * kMs, 750 * kMs, 1 * kMs, 80 * kUs},
      // 200 us slewed at 500 ppm: 50 us paid off after 100 ms.
      {"slewing", 200 * kUs, 50 * kUs, 100 * kMs, 80 * kUs},
      {"slew paid off", 200 * kUs, 200 * kUs, 1000 * kMs, 80 * kUs},
      {"reply too late", 200 * kUs, 200 * kUs, 3000 * kMs, 50 * kUs},
      {"delay below zero", 200 * kUs, 400 * kUs, 100 * kMs, 50 * kUs},
  };
  for (const Case& c : cases) {
    testing::FakeClock clock;
    clock.EnableDiscipline();
    ClockDiscipline discipline(clock, 0);
    EXPECT_EQ(discipline.BroadcastDelayNs(), 0) << c.what;
    ASSERT_TRUE(discipline.Apply({c.broadcast_offset, -1, kStart}, "Broadcast", "192.0.2.1").ClockSet()) << c.what;
    const int64_t step = c.broadcast_offset >= 128 * kMs ? c.broadcast_offset : 0;
    const int64_t true_offset = c.broadcast_offset + 80 * kUs - c.corrected;
    discipline.NoteReply(100 * kUs, true_offset, kStart + step + c.reply_after);
    EXPECT_EQ(discipline.BroadcastDelayNs(), c.expected) << c.what;
  }
}

TEST(ClockDisciplineTest, MedianMeasuredDelayCountsElseHalfTheLeastRoundTrip) {
  testing::FakeClock clock;
  clock.EnableDiscipline();
  ClockDiscipline discipline(clock, 0);
  discipline.NoteReply(300 * kUs, 0, kStart);  // no broadcast to calibrate against
  discipline.NoteReply(120 * kUs, 0, kStart);
  discipline.NoteReply(-1, 0, kStart);  // unknown round trip: ignored
  EXPECT_EQ(discipline.BroadcastDelayNs(), 60 * kUs);
  // Broadcasts 1 ms apart, each slewed (but not yet paid off) and calibrated at once.
  for (const int64_t delay : {90 * kUs, 70 * kUs, 130 * kUs, 110 * kUs, 80 * kUs}) {
    const int64_t offset = 100 * kUs - discipline.BroadcastDelayNs();
    ASSERT_TRUE(discipline.Apply({100 * kUs, -1, kStart}, "Broadcast", "192.0.2.1").ClockSet());
    discipline.NoteReply(200 * kUs, offset + delay, kStart);
  }
  EXPECT_EQ(discipline.BroadcastDelayNs(), 95 * kUs);  // of the last four: (80 + 110) / 2
}

}  // namespace
}  // namespace chron
