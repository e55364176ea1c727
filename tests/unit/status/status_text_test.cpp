#include "status/status_text.h"

#include <gtest/gtest.h>

namespace chron {
namespace {

constexpr int64_t kSecondNs = 1'000'000'000;

TEST(StatusTextTest, SecondsInTheUnitTheirSizeCallsFor) {
  const struct {
    double seconds;
    bool sign;
    const char* text;
  } cases[] = {
      {0.000012, true, "+12.0 µs"}, {-0.0000005, false, "-0.50 µs"}, {0.00125, false, "1.25 ms"},
      {-0.5, true, "-500 ms"},      {250.0, true, "+250 s"},         {0, false, "0 µs"},
  };
  for (const auto& c : cases) EXPECT_EQ(SecondsText(c.seconds, c.sign), c.text) << c.seconds;
  EXPECT_EQ(SpanText(40 * kSecondNs), "40 s");
  EXPECT_EQ(SpanText(3 * 3600 * kSecondNs), "3 h");
}

TEST(StatusTextTest, SummaryOfEachState) {
  StatusRecord record;
  record.counters.requests_answered = 12;
  record.counters.broadcasts_sent = 3;
  EXPECT_EQ(StatusSummary(record, 0), "serving: 12 requests answered, 3 broadcasts sent");

  ClientState client;
  client.source = client.address = "10.0.0.1";
  record.client = client;
  EXPECT_EQ(StatusSummary(record, 0), "not synchronised (source 10.0.0.1, no sample yet)");
  record.client->last_sample = LastSample{0, 250.0, 0.001, 1, "LOCL", std::nullopt};
  record.client->last_correction = kCorrectionRefused;
  EXPECT_EQ(StatusSummary(record, kSecondNs),
            "not synchronised (source 10.0.0.1, last sample offset +250 s refused by the deviation limit, 1 s ago)");
  record.client->last_sample->offset_s = 0.000012;
  record.client->last_correction = kCorrectionStepped;
  record.client->synchronised = true;
  EXPECT_EQ(StatusSummary(record, 40 * kSecondNs), "synchronised with 10.0.0.1, offset +12.0 µs, 40 s ago");
}

}  // namespace
}  // namespace chron
