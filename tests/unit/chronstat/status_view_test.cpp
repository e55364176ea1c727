#include "chronstat/status_view.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "chronstat/status_plot.h"

namespace chron {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr int64_t kSecondNs = 1'000'000'000;
constexpr int64_t kStart = 1'765'170'000 * kSecondNs;  // 2025-12-08 05:00:00 UTC

// A poll client and server, synchronised with 10.0.0.1 at +12 µs, 40 s before `kNow`.
StatusRecord KnownRecord() {
  StatusRecord r;
  r.program = "chronsvc";
  r.pid = 4242;
  r.version = "1.1.0.0";
  r.started_ns = kStart;
  r.poll_client = r.server = true;
  r.adapters = {{"eth0", "10.0.0.2"}};
  ClientState c;
  c.source = c.address = "10.0.0.1";
  c.interval_s = 64;
  c.synchronised = true;
  c.since_ns = kStart + 2 * kSecondNs;
  c.last_sample = LastSample{kStart + 60 * kSecondNs, 0.000012, 0.00125, 1, "LOCL", std::nullopt};
  c.last_correction = kCorrectionStepped;
  r.client = c;
  r.counters = {17, 0, 2, {{"malformed", 0}, {"wrong_sender", 3}}};
  r.history = {{kStart + 2 * kSecondNs, 2.5, 0.0011, kCorrectionStepped},
               {kStart + 30 * kSecondNs, 200.0, 0.0012, kCorrectionRefused},
               {kStart + 60 * kSecondNs, 0.000012, 0.00125, kCorrectionStepped}};
  return r;
}
constexpr int64_t kNow = kStart + 100 * kSecondNs;

TEST(StatusViewTest, PlainWordsOfAKnownRecord) {
  const std::string text = PlainText(KnownRecord(), true, kNow);
  EXPECT_THAT(text, HasSubstr("Program           : chronsvc 1.1.0.0, pid 4242, running\n"));
  EXPECT_THAT(text, HasSubstr("State             : synchronised since 2025-12-08 05:00:02 UTC (98 s ago)\n"));
  EXPECT_THAT(text, HasSubstr("Offset            : +12.0 µs (server ahead)\n"));
  EXPECT_THAT(text, HasSubstr("Delay             : 1.25 ms\n"));
  EXPECT_THAT(text, HasSubstr("Requests answered : 17\n"));
  EXPECT_THAT(text, HasSubstr("Dropped           : 3 (wrong_sender 3)\n"));
  EXPECT_THAT(text, Not(HasSubstr("Broadcasts sent")));  // not broadcasting
  EXPECT_THAT(PlainText(KnownRecord(), false, kNow), HasSubstr("NOT RUNNING"));
}

TEST(StatusViewTest, PrometheusOfAKnownRecord) {
  const std::string text = PrometheusText(KnownRecord(), true);
  for (const char* line :
       {"chron_up{program=\"chronsvc\"} 1\n", "# TYPE chron_synchronised gauge\nchron_synchronised 1\n",
        "chron_offset_seconds 1.2e-05\n", "# TYPE chron_requests_answered_total counter\n",
        "chron_requests_answered_total 17\n", "chron_dropped_total{reason=\"wrong_sender\"} 3\n",
        "chron_dropped_total{reason=\"malformed\"} 0\n"}) {
    EXPECT_THAT(text, HasSubstr(line));
  }
}

TEST(StatusViewTest, ExitStatusForScripts) {
  StatusRecord record = KnownRecord();
  EXPECT_EQ(StatusExitCode(record, true), 0);
  EXPECT_EQ(StatusExitCode(record, false), 2);
  record.client->synchronised = false;
  EXPECT_EQ(StatusExitCode(record, true), 1);
  record.client.reset();  // a server alone
  EXPECT_EQ(StatusExitCode(record, true), 0);
}

int Count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

TEST(StatusPlotTest, OneMarkerPerSampleAndPanelAndBalancedElements) {
  const std::string svg = PlotSvg(KnownRecord());
  EXPECT_EQ(Count(svg, "class=\"offset "), 3);
  EXPECT_EQ(Count(svg, "class=\"delay "), 3);
  EXPECT_EQ(Count(svg, "class=\"offset refused\""), 1);
  // Every element opened is closed or empty: one "<svg", one "</svg>", and as many "<g" as "</g>".
  EXPECT_EQ(Count(svg, "<svg "), 1);
  EXPECT_EQ(Count(svg, "</svg>"), 1);
  EXPECT_EQ(Count(svg, "<g "), Count(svg, "</g>"));
  EXPECT_EQ(Count(svg, "<text "), Count(svg, "</text>"));
  EXPECT_THAT(svg, HasSubstr("offset (s)"));
  EXPECT_THAT(svg, HasSubstr("delay (ms)"));
}

}  // namespace
}  // namespace chron
