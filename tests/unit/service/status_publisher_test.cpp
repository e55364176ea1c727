#include "service/status_publisher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/runtime.h"
#include "platform/file.h"
#include "platform/status_file.h"
#include "tests/testutil/fake_clock.h"
#include "tests/testutil/report_capture.h"

namespace chron {
namespace {

constexpr int64_t kSecondNs = 1'000'000'000;
constexpr int64_t kStart = 1'765'170'000 * kSecondNs;

TEST(StatusPublisherTest, SynchronisedWhileATakenSampleIsWithinTwoIntervals) {
  testing::FakeClock clock(kStart);
  Runtime rt;
  rt.clock = &clock;
  rt.config.client_active = 1;
  rt.config.client_broadcast = 0;
  rt.config.client_poll_interval = 64;
  rt.config.client_time_source = "10.0.0.1";
  StatusPublisher publisher({rt.config, rt.roles(), clock, rt.status, rt.sockets, rt.stop.shutdown}, "chronsvc",
                            "1.1.0.0", "unused.json", nullptr);
  auto sample_at = [&](int64_t t, const char* correction) {
    rt.status.SampleTaken(LastSample{t, 0.001, 0.0001, 1, "LOCL", std::nullopt}, "10.0.0.1", correction);
  };
  struct Step {
    int64_t sample_at;  // 0: no new sample
    const char* correction;
    int64_t now;
    bool synchronised;
    int64_t since;
  } steps[] = {
      {0, nullptr, kStart, false, 0},  // since: the publisher's start (0 here: never started)
      {kStart + 5 * kSecondNs, kCorrectionStepped, kStart + 6 * kSecondNs, true, kStart + 5 * kSecondNs},
      {0, nullptr, kStart + 133 * kSecondNs, true, kStart + 5 * kSecondNs},  // 128 s after the sample
      {0, nullptr, kStart + 134 * kSecondNs, false, kStart + 133 * kSecondNs},
      {kStart + 200 * kSecondNs, kCorrectionStepped, kStart + 200 * kSecondNs, true, kStart + 200 * kSecondNs},
      {kStart + 210 * kSecondNs, kCorrectionRefused, kStart + 210 * kSecondNs, false, kStart + 210 * kSecondNs},
  };
  for (const Step& step : steps) {
    if (step.sample_at != 0) sample_at(step.sample_at, step.correction);
    const StatusRecord record = publisher.Snapshot(step.now);
    ASSERT_TRUE(record.client.has_value());
    EXPECT_EQ(record.client->synchronised, step.synchronised) << (step.now - kStart) / kSecondNs;
    EXPECT_EQ(record.client->since_ns, step.since) << (step.now - kStart) / kSecondNs;
  }
}

TEST(StatusPublisherTest, AFileThatCannotBeWrittenIsReportedOnce) {
  // The status file's folder is a plain file: every write fails, none is a refusal.
  const std::filesystem::path blocker =
      std::filesystem::temp_directory_path() / ("chron-publisher-" + std::to_string(platform::CurrentProcessId()));
  ASSERT_EQ(platform::ReplaceFileAtomically(blocker.string(), "not a folder"), std::error_code());
  const std::string path = (blocker / "status.json").string();
  testing::ReportCapture capture(ReportTarget::kEventLog);
  testing::FakeClock clock(kStart);
  Runtime rt;
  rt.clock = &clock;
  {
    StatusPublisher publisher({rt.config, rt.roles(), clock, rt.status, rt.sockets, rt.stop.shutdown}, "chronsvc",
                              "1.1.0.0", path, nullptr);
    publisher.Start();  // the first write
    publisher.Stop();   // and the last one
  }
  std::filesystem::remove(blocker);
  const auto events = capture.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, platform::EventType::kWarning);
  EXPECT_NE(events[0].text.find(path + " kann nicht geschrieben werden"), std::string::npos) << events[0].text;
}

}  // namespace
}  // namespace chron
