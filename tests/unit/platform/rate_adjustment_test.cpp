// The Windows clock rate's rules: which adjustment read at start is a learnt correction, and what
// rate a stop leaves in force.
#include "platform/rate_adjustment.h"

#include <gtest/gtest.h>

#include <optional>

#include "platform/clock.h"

namespace chron::platform {
namespace {

struct LearntCase {
  const char* what;
  uint64_t adjustment, increment;
  bool disabled;
  double learnt_ppm;
};

class LearntCorrectionTest : public ::testing::TestWithParam<LearntCase> {};

TEST_P(LearntCorrectionTest, AdjustmentReadAtStart) {
  const LearntCase& c = GetParam();
  EXPECT_NEAR(LearntCorrectionPpm(c.adjustment, c.increment, c.disabled), c.learnt_ppm, 1e-6) << c.what;
}

// 156250: the 15.625 ms clock period in 100 ns units, where one unit is 6.4 ppm.
INSTANTIATE_TEST_SUITE_P(Adjustments, LearntCorrectionTest,
                         ::testing::Values(LearntCase{"nominal", 156250, 156250, false, 0.0},
                                           LearntCase{"a learnt +64 ppm", 156260, 156250, false, 64.0},
                                           LearntCase{"a learnt -32 ppm", 156245, 156250, false, -32.0},
                                           LearntCase{"the system adjusts by itself", 156260, 156250, true, 0.0},
                                           LearntCase{"no increment", 5, 0, false, 0.0},
                                           LearntCase{"a slew rounded down to 499.2 ppm", 156328, 156250, false, 0.0},
                                           LearntCase{"a slew backwards", 156172, 156250, false, 0.0},
                                           LearntCase{"a slew on top of a correction", 10'006'000, 10'000'000, false,
                                                      0.0},
                                           LearntCase{"just inside the limit", 10'004'990, 10'000'000, false, 499.0}));

TEST(RateToRestoreTest, TheCorrectionAloneWhileASlewRunsNothingOtherwise) {
  EXPECT_EQ(RateToRestore(12.5, kMaxSlewPpm), std::optional<double>(12.5));
  EXPECT_EQ(RateToRestore(12.5, -kMaxSlewPpm), std::optional<double>(12.5));
  EXPECT_EQ(RateToRestore(12.5, 0), std::nullopt);
}

}  // namespace
}  // namespace chron::platform
