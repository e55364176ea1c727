#include "platform/simulated_clock_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace chron::platform {
namespace {

constexpr int64_t kSecond = 1000000000;
constexpr int64_t kAnchor = 1700000000 * kSecond;

struct TimeCase {
  const char* name;
  double frequency_ppm;
  double correction_ppm;
  int64_t slew_ns;
  int64_t elapsed_ns;        // real time since the anchor
  int64_t expected_gain_ns;  // simulated minus real, beyond the offset of 7 ns
};

TEST(SimulatedClockStateTest, TimeFollowsRateAndBoundedSlew) {
  const TimeCase cases[] = {
      {"still", 0, 0, 0, 10 * kSecond, 0},
      {"fast oscillator", 50, 0, 0, 10 * kSecond, 500000},
      {"slow, fractional", -12.5, 0, 0, 2 * kSecond, -25000},
      {"corrected", 50, -50, 0, 10 * kSecond, 0},
      {"slew half paid at 500 ppm", 0, 0, 1000000, 1 * kSecond, 500000},
      {"slew paid off", 0, 0, -1000000, 3 * kSecond, -1000000},
      {"slew and drift", 20, 0, 100000, 1 * kSecond, 100000 + 20000},
  };
  for (const TimeCase& c : cases) {
    SimulatedClockState state;
    state.offset_ns = 7;
    state.anchor_ns = kAnchor;
    state.frequency_ppm = c.frequency_ppm;
    state.correction_ppm = c.correction_ppm;
    state.slew_ns = c.slew_ns;
    EXPECT_EQ(state.TimeAt(kAnchor + c.elapsed_ns) - (kAnchor + c.elapsed_ns), 7 + c.expected_gain_ns) << c.name;
    // Re-anchoring anywhere keeps the time, now and later.
    const SimulatedClockState moved = state.AnchoredAt(kAnchor + c.elapsed_ns / 3);
    EXPECT_NEAR(static_cast<double>(moved.TimeAt(kAnchor + c.elapsed_ns)),
                static_cast<double>(state.TimeAt(kAnchor + c.elapsed_ns)), 2.0)
        << c.name;
  }
}

TEST(SimulatedClockStateTest, SlewingNeverGoesBackwards) {
  SimulatedClockState state;
  state.anchor_ns = kAnchor;
  state.frequency_ppm = -100;
  state.slew_ns = -5000000;
  int64_t last = state.TimeAt(kAnchor);
  for (int64_t t = 1; t < 20 * kSecond; t += kSecond / 7) {
    const int64_t now = state.TimeAt(kAnchor + t);
    ASSERT_GT(now, last) << t;
    last = now;
  }
}

TEST(SimulatedClockStateTest, BothFormsAreReadAndWritten) {
  const auto short_form = ParseSimulatedClockState(" -1250000000 \n");
  ASSERT_TRUE(short_form);
  EXPECT_FALSE(short_form->long_form);
  EXPECT_EQ(short_form->offset_ns, -1250000000);
  EXPECT_EQ(FormatSimulatedClockState(*short_form), "-1250000000\n");

  SimulatedClockState state;
  state.offset_ns = -3;
  state.anchor_ns = kAnchor;
  state.frequency_ppm = 50.25;
  state.correction_ppm = -49.5;
  state.slew_ns = 1234;
  const std::string text = FormatSimulatedClockState(state);
  const auto back = ParseSimulatedClockState(text);
  ASSERT_TRUE(back) << text;
  EXPECT_TRUE(back->long_form);
  EXPECT_EQ(FormatSimulatedClockState(*back), text);
  EXPECT_EQ(back->TimeAt(kAnchor + kSecond), state.TimeAt(kAnchor + kSecond));

  for (const char* bad : {"", "5.0", "offset_ns 1\n", "offset_ns 1\nanchor_ns 2\nspeed 3\n",
                          "offset_ns 1\nanchor_ns 2\ncorrection_ppm 501\n", "offset_ns x\nanchor_ns 2\n"}) {
    EXPECT_FALSE(ParseSimulatedClockState(bad)) << bad;
  }
}

}  // namespace
}  // namespace chron::platform
