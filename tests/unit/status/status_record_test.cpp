#include "status/status_record.h"

#include <gtest/gtest.h>

#include <string>

namespace chron {
namespace {

constexpr int64_t kSecondNs = 1'000'000'000;

StatusRecord FullRecord() {
  StatusRecord r;
  r.program = "chronsvc";
  r.pid = 4242;
  r.version = "1.1.0.0";
  r.started_ns = 1'765'000'000 * kSecondNs + 123'000'000;
  r.updated_ns = r.started_ns + 90 * kSecondNs;
  r.period_s = 10;
  r.process_identity = "0f3c8a9e-6d3b-4b8e-9d7a-2b1e5c4f7a90 4242";
  r.updated_boot_ms = 123'456'789;
  r.poll_client = r.server = true;
  r.adapters = {{"eth0", "10.0.0.2"}, {"wlan\xC3\xBC", "10.0.1.2"}};
  ClientState c;
  c.source = "time.example";
  c.address = "10.0.0.1";
  c.interval_s = 64;
  c.synchronised = true;
  c.since_ns = r.started_ns + kSecondNs;
  c.last_request_ns = r.updated_ns - 2 * kSecondNs;
  c.last_sample = LastSample{r.updated_ns - kSecondNs, -0.000012, 0.00025, 1, "LOCL", 7};
  c.last_correction = kCorrectionStepped;
  r.client = c;
  r.counters = {5, 0, 3, {{"wrong_sender", 2}, {"malformed", 0}}, 4, 100, 4096};
  r.history = {{r.started_ns, 1.5, 0.001, kCorrectionRefused}, {r.updated_ns, -0.000012, 0.00025, kCorrectionStepped}};
  return r;
}

TEST(StatusRecordTest, RoundTripKeepsEveryField) {
  const std::string json = StatusToJson(FullRecord());
  StatusRecord back;
  std::string error;
  ASSERT_TRUE(StatusFromJson(json, &back, &error)) << error;
  EXPECT_EQ(StatusToJson(back), json);
  EXPECT_EQ(back.client->last_sample->key_id, 7u);
  EXPECT_EQ(back.history.size(), 2u);

  StatusRecord server = FullRecord();
  server.client.reset();
  ASSERT_TRUE(StatusFromJson(StatusToJson(server), &back, &error)) << error;
  EXPECT_FALSE(back.client.has_value());

  // An older writer's record lacks the rate limit's counters: they read as 0.
  std::string older = json;
  const size_t kisses = older.find(",\n  \"kisses_sent\"");
  ASSERT_NE(kisses, std::string::npos);
  older.erase(kisses, older.find("\n }", kisses) - kisses);
  ASSERT_TRUE(StatusFromJson(older, &back, &error)) << error << older;
  EXPECT_EQ(back.counters.kisses_sent + back.counters.rate_table_used + back.counters.rate_table_size, 0u);
}

// NTS's fields appear only where NTS is used, and come back as written.
TEST(StatusRecordTest, NtsFieldsOnlyWhereNtsIsUsed) {
  const std::string plain = StatusToJson(FullRecord());
  EXPECT_EQ(plain.find("nts"), std::string::npos);
  StatusRecord nts = FullRecord();
  nts.client->nts = ClientState::Nts{true, 7};
  nts.counters.nts = true;
  nts.counters.nts_ke_sessions = 3;
  nts.counters.nts_requests_answered = 9;
  nts.counters.nts_requests_refused = 2;
  StatusRecord back;
  std::string error;
  ASSERT_TRUE(StatusFromJson(StatusToJson(nts), &back, &error)) << error;
  EXPECT_EQ(StatusToJson(back), StatusToJson(nts));
  EXPECT_EQ(back.client->nts->cookies, 7u);
  EXPECT_EQ(back.counters.nts_requests_refused, 2u);
}

TEST(StatusRecordTest, MalformedTextIsRefusedWithAReason) {
  const std::string good = StatusToJson(FullRecord());
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  for (const std::string& text :
       {std::string(), std::string("[1, 2]"), good.substr(0, good.size() / 2), replaced("\"pid\"", "\"pit\""),
        replaced("\"pid\": 4242", "\"pid\": \"4242\""), replaced("\"started\": \"", "\"started\": \"x")}) {
    StatusRecord record;
    std::string error;
    EXPECT_FALSE(StatusFromJson(text, &record, &error)) << text;
    EXPECT_FALSE(error.empty());
  }
}

TEST(StatusRecordTest, IsoTimeOfKnownInstants) {
  struct Case {
    int64_t ns;
    const char* text;
  } cases[] = {
      {0, "1970-01-01T00:00:00.000Z"},
      {951'782'400 * kSecondNs + 999'999'999, "2000-02-29T00:00:00.999Z"},  // milliseconds cut, not rounded
      {-kSecondNs / 2, "1969-12-31T23:59:59.500Z"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsoTime(c.ns), c.text);
    int64_t back = 0;
    ASSERT_TRUE(ParseIsoTime(c.text, &back));
    EXPECT_EQ(back, c.ns / 1'000'000 * 1'000'000 - (c.ns < 0 && c.ns % 1'000'000 != 0 ? 1'000'000 : 0));
  }
  int64_t ignored = 0;
  EXPECT_FALSE(ParseIsoTime("2000-13-01T00:00:00.000Z", &ignored));
  EXPECT_FALSE(ParseIsoTime("2000-01-01T00:00:00.000Z trailing", &ignored));
}

}  // namespace
}  // namespace chron
