#include "engine/broadcast_replay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace chron {
namespace {

constexpr ReplayVerdict kTaken = ReplayVerdict::kTaken;
constexpr ReplayVerdict kReplayed = ReplayVerdict::kReplayed;
constexpr ReplayVerdict kNewLine = ReplayVerdict::kNewTimeLine;

// One broadcast: its key, when it was sent (seconds after the case's base on the sender's clock)
// and when it arrived (seconds on the steady clock).
struct Step {
  uint32_t key;
  double sent;
  double arrived;
  ReplayVerdict verdict;
};

constexpr uint64_t k2024 = 0xE9A0'0000'0000'0000;    // an NTP timestamp in 2024
constexpr uint64_t kEraEnd = 0xFFFF'FF00'0000'0000;  // 256 s before the NTP era ends (2036)

// The broadcaster sends every 64 s, an hour later than the captures sent half-way between.
std::vector<Step> RealBroadcasterWithCapturesBetween() {
  std::vector<Step> steps;
  for (int k = 0; k < 24; ++k) {
    steps.push_back({1, 3600.0 + 64 * k, 64.0 * k, kTaken});
    steps.push_back({1, 64.0 * k + 32, 64.0 * k + 32, kReplayed});
  }
  return steps;
}

TEST(BroadcastReplayTest, TakesOnlyBroadcastsLaterThanTheLastTakenOrAnEarlierLineThatKeptOn) {
  struct Case {
    const char* name;
    uint64_t base;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"a capture sent again 2.1 s and 12 s later",
       k2024,
       {{1, 0, 0, kTaken},
        {1, 0, 2.1, kReplayed},
        {1, 0, 12, kReplayed},
        {1, -0.001, 13, kReplayed},
        {1, 0.001, 14, kTaken},
        {1, 0, 15, kReplayed}}},
      {"keys are independent",
       k2024,
       {{1, 100, 100, kTaken}, {2, 0, 101, kTaken}, {2, 0, 103, kReplayed}, {1, 50, 104, kReplayed}}},
      {"across the end of the NTP era",
       kEraEnd,
       {{1, 0, 0, kTaken}, {1, 320, 64, kTaken}, {1, 0, 128, kReplayed}, {1, 255, 192, kReplayed}}},
      // Arriving 0.12 s later each time than sent: within 0.1 s + 1/1000 of 64 s.
      {"a broadcaster set back an hour is followed after four intervals",
       k2024,
       {{1, 3600, 0, kTaken},
        {1, 64, 64, kReplayed},
        {1, 128, 128.12, kReplayed},
        {1, 192, 192.24, kReplayed},
        {1, 256, 256.36, kReplayed},
        {1, 320, 320.48, kNewLine},
        {1, 384, 384.6, kTaken},
        {1, 3600, 390, kReplayed},  // a capture of the old line: later, but out of step
        {1, 448, 448.72, kTaken}}},
      {"a broadcast on the old line or out of step starts the count anew",
       k2024,
       {{1, 3600, 0, kTaken},
        {1, 64, 64, kReplayed},
        {1, 128, 128, kReplayed},
        {1, 192, 192, kReplayed},
        {1, 3856, 256, kTaken},
        {1, 256, 256.5, kReplayed},
        {1, 320, 320.5, kReplayed},
        {1, 384, 384.5, kReplayed},
        {1, 448, 448.8, kReplayed},  // 0.3 s off its line: the count starts here
        {1, 512, 512.8, kReplayed},
        {1, 576, 576.8, kReplayed},
        {1, 640, 640.8, kReplayed},
        {1, 704, 704.8, kNewLine}}},
      {"a burst of captures keeps to no line",
       k2024,
       {{1, 3600, 0, kTaken},
        {1, 0, 10, kReplayed},
        {1, 64, 10.1, kReplayed},
        {1, 128, 10.2, kReplayed},
        {1, 192, 10.3, kReplayed},
        {1, 256, 10.4, kReplayed},
        {1, 320, 10.5, kReplayed}}},
      {"captures in step with their arrival, the broadcaster sending between them", k2024,
       RealBroadcasterWithCapturesBetween()},
  };
  for (const Case& c : cases) {
    BroadcastReplay replay;
    int index = 0;
    for (const Step& step : c.steps) {
      const auto sent = static_cast<int64_t>(std::llround(step.sent * 4294967296.0));
      const auto arrived = static_cast<int64_t>(std::llround(step.arrived * 1e9));
      EXPECT_EQ(replay.Judge(step.key, c.base + static_cast<uint64_t>(sent), arrived), step.verdict)
          << c.name << ", broadcast " << index << " sent at " << step.sent << " s, arrived at " << step.arrived << " s";
      ++index;
    }
  }
}

}  // namespace
}  // namespace chron
