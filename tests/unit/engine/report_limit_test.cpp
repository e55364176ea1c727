#include "engine/report_limit.h"

#include <gtest/gtest.h>

#include "tests/unit/engine/engine_fixture.h"

namespace chron::testing {
namespace {

TEST(ReportLimitTest, OnePerMessagePerWindowThenTheCountOfTheSuppressed) {
  CapturedConsole console;
  ReportLimit limit;
  ReportLimit::TimePoint now{};
  limit.now = [&] { return now; };
  constexpr uint32_t kError = 0xc100000f, kWarning = 0x81000024;
  EXPECT_TRUE(limit.Allow(kError));
  EXPECT_TRUE(limit.Allow(kWarning));  // each message by itself
  now += std::chrono::milliseconds(9999);
  EXPECT_FALSE(limit.Allow(kError));
  EXPECT_FALSE(limit.Allow(kError));
  EXPECT_EQ(console.Text(), "");
  now += std::chrono::milliseconds(1);
  EXPECT_TRUE(limit.Allow(kError));
  EXPECT_EQ(console.Text(),
            "SNTP-Network: Meldung 0xc100000f wurde 2 mal unterdrückt (höchstens eine je 10 Sekunden).\n");
  EXPECT_FALSE(limit.Allow(kError));
  EXPECT_TRUE(limit.Allow(kWarning));  // its window began at 0 as well
  EXPECT_FALSE(limit.Allow(kWarning));
  console.Clear();
  limit.Flush();
  EXPECT_TRUE(console.Contains("Meldung 0xc100000f wurde 1 mal unterdrückt"));
  EXPECT_TRUE(console.Contains("Meldung 0x81000024 wurde 1 mal unterdrückt"));
  console.Clear();
  limit.Flush();  // nothing left
  EXPECT_EQ(console.Text(), "");
}

}  // namespace
}  // namespace chron::testing
