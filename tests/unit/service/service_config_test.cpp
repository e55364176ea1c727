// The configuration a service starts with: what it reports about stored values it does not
// take as stored.
#include "service/service_config.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/testutil/report_capture.h"
#include "tests/unit/service/adapter_test_support.h"

namespace chron {
namespace {

using ::testing::ElementsAre;
using testing::ReportLine;

constexpr const char* kClientKey = "SOFTWARE\\Orbek\\SNTP\\1.01\\Client";
constexpr const char* kServerKey = "SOFTWARE\\Orbek\\SNTP\\1.01\\Server";

TEST(ReadServiceConfigurationTest, ReportsEachValueNotTakenAsStoredOnce) {
  auto registry = platform::OpenMemoryRegistry();
  uint32_t zero = 0, huge = 100000;
  registry->SetValue(kClientKey, "PollInterval", platform::RegType::kDword, &zero, 4);
  registry->SetValue(kServerKey, "BroadcastInterval", platform::RegType::kDword, &huge, 4);
  registry->SetValue(kServerKey, "Active", platform::RegType::kSz, "1", 2);
  const std::string text_line =
      "SNTP-Init: Der Registry-Wert Server\\Active ist als Text (\"1\") statt als Zahl gespeichert "
      "und wird nicht verwendet, es gilt der Standardwert 0.\n";
  {
    testing::ReportCapture capture(ReportTarget::kConsole, true);
    Configuration config;
    ReadServiceConfiguration(*registry, &config, ConfigSubset::kFull);
    EXPECT_EQ(config.client_poll_interval, 16u);
    EXPECT_EQ(config.server_broadcast_interval, 86400u);
    EXPECT_EQ(config.server_active, 0u);
    EXPECT_THAT(capture.console(), ElementsAre(text_line, ReportLine(msg::kPollIntervalInvalid, {0, 16}),
                                               ReportLine(msg::kBroadcastIntervalInvalid, {100000, 86400})));
  }
  testing::ReportCapture capture(ReportTarget::kConsole, true);
  Configuration config;
  ReadServiceConfiguration(*registry, &config, ConfigSubset::kClientOnly);  // chron95
  EXPECT_THAT(capture.console(), ElementsAre(ReportLine(msg::kPollIntervalInvalid, {0, 16})));
}

}  // namespace
}  // namespace chron
