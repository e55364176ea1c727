#include "chronstat/status_view.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

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
  r.counters = {17, 0, 2, {{"malformed", 0}, {"wrong_sender", 3}}, 2, 12, 4096};
  r.history = {{kStart + 2 * kSecondNs, 2.5, 0.0011, kCorrectionStepped},
               {kStart + 30 * kSecondNs, 200.0, 0.0012, kCorrectionRefused},
               {kStart + 60 * kSecondNs, 0.000012, 0.00125, kCorrectionStepped}};
  return r;
}
constexpr int64_t kNow = kStart + 100 * kSecondNs;

TEST(StatusViewTest, PlainWordsOfAKnownRecord) {
  const std::string text = PlainText(KnownRecord(), {}, kNow);
  EXPECT_THAT(text, HasSubstr("Program           : chronsvc 1.1.0.0, pid 4242, running\n"));
  EXPECT_THAT(text, HasSubstr("State             : synchronised since 2025-12-08 05:00:02 UTC (98 s ago)\n"));
  EXPECT_THAT(text, HasSubstr("Offset            : +12.0 µs (server ahead)\n"));
  EXPECT_THAT(text, HasSubstr("Delay             : 1.25 ms\n"));
  EXPECT_THAT(text, HasSubstr("Requests answered : 17\n"));
  EXPECT_THAT(text, HasSubstr("Dropped           : 3 (wrong_sender 3)\n"));
  EXPECT_THAT(text, HasSubstr("Rate limit        : 12 of 4096 sources held, 2 kiss-o'-death sent\n"));
  EXPECT_THAT(text, Not(HasSubstr("Broadcasts sent")));  // not broadcasting
  EXPECT_THAT(PlainText(KnownRecord(), {Writer::kGone}, kNow), HasSubstr("NOT RUNNING"));
}

TEST(StatusViewTest, PrometheusOfAKnownRecord) {
  const std::string text = PrometheusText(KnownRecord(), {});
  for (const char* line :
       {"chron_up{program=\"chronsvc\"} 1\n", "# TYPE chron_synchronised gauge\nchron_synchronised 1\n",
        "chron_offset_seconds 1.2e-05\n", "# TYPE chron_requests_answered_total counter\n",
        "chron_requests_answered_total 17\n", "chron_dropped_total{reason=\"wrong_sender\"} 3\n",
        "chron_dropped_total{reason=\"malformed\"} 0\n", "chron_kisses_sent_total 2\n", "chron_rate_table_sources 12\n",
        "chron_rate_table_size 4096\n"}) {
    EXPECT_THAT(text, HasSubstr(line));
  }
}

// NTS's words and metrics appear only where NTS is used.
TEST(StatusViewTest, NtsWhereItIsUsed) {
  StatusRecord record = KnownRecord();
  EXPECT_THAT(PlainText(record, {}, kNow) + PrometheusText(record, {}), Not(HasSubstr("nts")));
  record.client->nts = ClientState::Nts{true, 7};
  record.counters.nts = true;
  record.counters.nts_ke_sessions = 4;
  record.counters.nts_requests_answered = 30;
  record.counters.nts_requests_refused = 2;
  const std::string text = PlainText(record, {}, kNow) + PrometheusText(record, {});
  for (const char* line : {"NTS               : authenticated, 7 cookies left\n",
                           "NTS               : 4 NTS-KE sessions, 30 requests answered, 2 refused\n",
                           "chron_nts_authenticated 1\n", "chron_nts_cookies 7\n", "chron_nts_ke_sessions_total 4\n",
                           "chron_nts_requests_answered_total 30\n", "chron_nts_requests_refused_total 2\n"}) {
    EXPECT_THAT(text, HasSubstr(line));
  }
}

TEST(StatusViewTest, ExitStatusForScripts) {
  StatusRecord record = KnownRecord();
  EXPECT_EQ(StatusExitCode(record, {}), 0);
  EXPECT_EQ(StatusExitCode(record, {Writer::kGone}), 2);
  record.client->synchronised = false;
  EXPECT_EQ(StatusExitCode(record, {}), 1);
  record.client.reset();  // a server alone
  EXPECT_EQ(StatusExitCode(record, {}), 0);
}

// Every field read from a file is checked: its type, its range, real dates, a bounded nesting;
// and what is taken reaches the terminal without a control character.
TEST(StatusViewTest, FieldsOfAFileAreCheckedAndShownEscaped) {
  const std::string good = StatusToJson(KnownRecord());
  struct Row {
    const char* from;
    std::string to;
    const char* refused;  // the reason, or null: taken, and the plain words show `shown`
    const char* shown;
  } rows[] = {
      {"\"pid\": 4242", "\"pid\": 1.9", "\"pid\" is no integer from 1 to 2147483647", nullptr},
      {"\"pid\": 4242", "\"pid\": -1", "\"pid\" is no integer", nullptr},
      {"\"pid\": 4242", "\"pid\": 2147483648", "\"pid\" is no integer", nullptr},
      {"\"interval_s\": 64", "\"interval_s\": 4294967296", "\"interval_s\" is no integer", nullptr},
      {"\"stratum\": 1", "\"stratum\": 256", "\"stratum\" is no integer from 0 to 255", nullptr},
      {"\"requests_answered\": 17", "\"requests_answered\": -17", "\"requests_answered\" is no integer", nullptr},
      {"\"wrong_sender\": 3", "\"wrong_sender\": 3.5", "\"wrong_sender\" is no integer", nullptr},
      {"\"rate_table_size\": 4096", "\"rate_table_size\": 11", "\"rate_table_size\" is no integer from 12", nullptr},
      {"2025-12-08T05:00:00.000Z", "2026-02-31T23:59:59.999Z", "\"started\" is no ISO 8601", nullptr},
      {"2025-12-08T05:00:00.000Z", "2016-12-31T23:59:60.000Z", "\"started\" is no ISO 8601", nullptr},
      {"2025-12-08T05:00:00.000Z", "2025-12-08T05:00:+0.000Z", "\"started\" is no ISO 8601", nullptr},
      {"\"chronsvc\"", std::string(100'000, '[') + "\"chronsvc\"", "nested deeper than 4 levels", nullptr},
      {"\"chronsvc\"", "[[[[\"chronsvc\"]]]]", "nested deeper than 4 levels", nullptr},
      {"2025-12-08T05:00:00.000Z", "2024-02-29T23:59:59.999Z", nullptr, "Started           : 2024-02-29 23:59:59 UTC"},
      {"\"chronsvc\"", "\"chron\\u001b[2Jsvc\"", nullptr, "Program           : chron\\x1b[2Jsvc 1.1.0.0"},
      {"\"eth0\"", "\"eth0\\nState : synchronised\"", nullptr, "eth0\\x0aState : synchronised 10.0.0.2\n"},
      {"\"LOCL\"", "\"LO\\rCL\\u007f\"", nullptr, "reference LO\\x0dCL\\x7f\n"},
      {"\"LOCL\"", "\"\\u009b2J \\u00fc\"", nullptr, "reference \\xc2\\x9b2J \xC3\xBC\n"},  // C1 CSI; ü stays
      {"\"LOCL\"", "\"\\\\x1b\"", nullptr, "reference \\\\x1b\n"},                          // its own backslash doubled
  };
  for (const Row& row : rows) {
    std::string text = good;
    ASSERT_NE(text.find(row.from), std::string::npos) << row.from;
    text.replace(text.find(row.from), std::string_view(row.from).size(), row.to);
    StatusRecord record;
    std::string error;
    const bool taken = StatusFromJson(text, &record, &error);
    if (row.refused != nullptr) {
      EXPECT_FALSE(taken) << row.to.substr(0, 80);
      EXPECT_THAT(error, HasSubstr(row.refused)) << row.to.substr(0, 80);
    } else {
      ASSERT_TRUE(taken) << error;
      EXPECT_THAT(PlainText(record, {}, kNow), HasSubstr(row.shown));
    }
  }
  EXPECT_EQ(TerminalText("a\x9b\xC2"), "a\\x9b\\xc2");  // raw bytes of no UTF-8 character (a C1 CSI)
}

// A fake of the system's processes and boot clock.
struct FakeWatch : platform::ProcessWatch {
  std::optional<std::string> identity;  // of the record's pid; nullopt: no such process
  int64_t boot_ms = 0;
  std::optional<std::string> Identity(uint32_t) override { return identity; }
  int64_t BootMilliseconds() override { return boot_ms; }
};

TEST(StatusViewTest, WriterJudgedByItsIdentityAndTheBootClock) {
  StatusRecord record = KnownRecord();  // synchronised
  record.period_s = 10;
  record.process_identity = "boot-1 5000";
  record.updated_boot_ms = 100'000;
  struct Row {
    std::optional<std::string> identity;
    int64_t boot_ms;
    Writer::State state;
    int exit;
  } rows[] = {
      {std::nullopt, 100'000, Writer::kGone, 2},      // the process is gone
      {"boot-1 7000", 100'000, Writer::kGone, 2},     // its pid belongs to a later process
      {"boot-2 5000", 100'000, Writer::kGone, 2},     // the same start after a reboot
      {"boot-1 5000", 130'000, Writer::kRunning, 0},  // three periods: still due
      {"boot-1 5000", 130'001, Writer::kNotUpdated, 1},
      {"", 900'000, Writer::kRunning, 0},  // another user's process, hidden: its pid alone
  };
  for (const Row& row : rows) {
    FakeWatch watch;
    watch.identity = row.identity;
    watch.boot_ms = row.boot_ms;
    const Writer writer = JudgeWriter(record, watch);
    EXPECT_EQ(writer.state, row.state) << row.identity.value_or("(none)") << " at " << row.boot_ms;
    EXPECT_EQ(StatusExitCode(record, writer), row.exit) << row.identity.value_or("(none)") << " at " << row.boot_ms;
  }
  FakeWatch stale;
  stale.identity = "boot-1 5000";
  stale.boot_ms = 145'000;
  EXPECT_THAT(PlainText(record, JudgeWriter(record, stale), kNow),
              HasSubstr(", running, but NOT UPDATED since 1970-01-01 00:00:00 UTC (45 s ago)\n"));
  record.period_s = 0;  // an older writer's record: the pid alone
  EXPECT_EQ(JudgeWriter(record, stale).state, Writer::kRunning);
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
