#include "engine/client.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <thread>

#include "engine/clock_discipline.h"
#include "platform/registry.h"
#include "tests/unit/engine/engine_fixture.h"

namespace chron::testing {
namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;

class ClientHandleTest : public EngineTest {
 protected:
  ClientHandleTest() {
    rt.config.client_active = 1;
    AddAdapter("eth0", "10.0.0.1");
    now = TimestampToUint64(NtpNow(clock));
    t1 = now - 3 * kSecond;
  }

  // A reply to a request sent at T1 to `server` (recorded first unless `to_pending` tells to
  // answer whatever is pending): T2 = T1 + `to_server`, T3 = T2, arriving at T1 + `round_trip`.
  int Reply(uint64_t to_server, uint64_t round_trip, uint32_t li = 0, bool to_pending = false,
            const platform::SocketAddress& from = Endpoint("10.0.0.9", 123)) {
    if (!to_pending) rt.client.pending_request.Record(t1, server);
    const NtpMessage m = Message(kModeServer, li, 4, t1, t1 + to_server, t1 + to_server);
    return ClientHandleMessage(rt.Client(), m, TimestampFromUint64(t1 + round_trip), from);
  }
  // A broadcast sent at T4 + `ahead` (2^-32 s, may be negative), arriving at `now`.
  int Broadcast(int64_t ahead, uint32_t li = 0, platform::SocketAddress from = Endpoint("10.0.0.9", 123)) {
    const NtpMessage m = Message(kModeBroadcast, li, 4, 0, 0, now + static_cast<uint64_t>(ahead));
    return ClientHandleMessage(rt.Client(), m, TimestampFromUint64(now), from);
  }

  uint64_t now = 0;
  uint64_t t1 = 0;
  platform::SocketAddress server = Endpoint("10.0.0.9", 123);
};

// Every verdict on a reply or broadcast, with its trace lines and reports in their order.
TEST_F(ClientHandleTest, EveryVerdictTracesAsTheTranscriptSays) {
  const uint64_t quarter = kSecond / 4;
  const uint64_t half = kSecond / 2;
  const int64_t second = static_cast<int64_t>(kSecond);
  // A reply (or broadcast) changed by `change` before it is handled.
  const auto altered = [this, quarter, half](bool broadcast, std::function<void(NtpMessage*)> change) {
    return [this, quarter, half, broadcast, change] {
      NtpMessage m = broadcast ? Message(kModeBroadcast, 0, 4, 0, 0, now + kSecond)
                               : Message(kModeServer, 0, 4, t1, t1 + half, t1 + half);
      change(&m);
      if (!broadcast) rt.client.pending_request.Record(t1, server);
      ClientHandleMessage(rt.Client(), m, TimestampFromUint64(broadcast ? now : t1 + quarter), server);
    };
  };
  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"reply taken", [&] { Reply(3 * quarter, quarter); }},
      {"broadcast taken, half a second behind", [&] { Broadcast(-second / 2 - 1717987); }},
      {"reply the server held longer than its round trip",
       altered(false, [&](NtpMessage* m) { SetTransmitTime(m, TimestampFromUint64(t1 + half + quarter)); })},
      {"own broadcast", [&] { Broadcast(second, 0, Endpoint("10.0.0.1", 123)); }},
      {"leap indicator 3", [&] { Reply(half, quarter, 3); }},
      {"leap indicator 1 in a broadcast", [&] { Broadcast(second, 1); }},
      {"zero transmit", altered(false, [](NtpMessage* m) { SetTransmitTime(m, ZeroTimestamp); })},
      {"reply to an older request",
       [&] {
         rt.client.pending_request.Record(t1 + 1, server);
         Reply(half, quarter, 0, true);
       }},
      {"reply from another port", [&] { Reply(half, quarter, 0, false, Endpoint("10.0.0.9", 4123)); }},
      {"reply two seconds underway", [&] { Reply(half, 2 * kSecond); }},
      {"reply before its request left", [&] { Reply(half, 0 - kSecond / 10); }},
      {"kiss-o'-death", altered(false,
                                [](NtpMessage* m) {
                                  SetStratum(m, 0);
                                  SetReferenceId(m, 0x52415445);  // "RATE"
                                })},
      {"version 0", altered(false, [](NtpMessage* m) { SetVersionNumber(m, 0); })},
      {"stratum 16 broadcast", altered(true, [](NtpMessage* m) { SetStratum(m, 16); })},
      {"zero receive", altered(false, [](NtpMessage* m) { SetReceiveTime(m, ZeroTimestamp); })},
      {"transmit before receive",
       altered(false, [&](NtpMessage* m) { SetReceiveTime(m, TimestampFromUint64(t1 + 100 * kSecond)); })},
      {"impossible delay", altered(false,
                                   [&](NtpMessage* m) {
                                     SetPrecision(m, -20);
                                     SetReceiveTime(m, TimestampFromUint64(t1));
                                     SetTransmitTime(m, TimestampFromUint64(t1 + quarter + kSecond / 8));
                                   })},
      {"root distance", altered(false,
                                [](NtpMessage* m) {
                                  SetRootDelay(m, 2u << 16);
                                  SetRootDispersion(m, 1u << 15);
                                })},
      {"reference after transmit", altered(true,
                                           [](NtpMessage* m) {
                                             SetReferenceTime(
                                                 m, TimestampFromUint64(TimestampToUint64(m->transmit_time) + 1));
                                           })},
      {"beyond the deviation limit",
       [&] {
         rt.config.client_max_diff_second_active = 1;
         rt.config.client_max_diff_second = 180;
         Broadcast(-181 * second - second / 2);
         rt.config.client_max_diff_second_active = 0;
       }},
      {"failed step",
       [&] {
         clock.FailStepsWith(EPERM);
         Broadcast(second);
         clock.FailStepsWith(0);
       }},
      {"replayed broadcast with a key file",
       [&] {
         rt.auth.required = true;
         rt.auth.keys = {SymmetricKey{7, platform::MacAlgorithm::kAes128Cmac, std::vector<uint8_t>(16, 1), 1}};
         Broadcast(second);
         Broadcast(second);
         rt.auth = Authentication{};
       }},
      {"discipline slews and steps",
       [&] {
         rt.config.client_discipline = 1;
         clock.EnableDiscipline();
         rt.client.discipline = StartDiscipline(rt.config, *rt.clock);
         Broadcast(static_cast<int64_t>(kMillisecond));
         Broadcast(2 * second);
       }},
  };
  ExpectGolden("client_verdicts", Transcript(console, cases));
}

TEST_F(ClientHandleTest, ReplyOffsetAndDelay) {
  // T2 = T3 = T1 + 0.75 s, T4 = T1 + 0.25 s.
  EXPECT_EQ(Reply(3 * kSecond / 4, kSecond / 4), 1);
  EXPECT_EQ(clock.steps(), (std::vector<int64_t>{625'000'000}));
  EXPECT_EQ(rt.status.Counters().samples_taken, 1u);
}

// The system's stamp of the request's departure, on the clock it is moved onto, replaces the
// reading the request carried in the arithmetic, where it is one for this request.
TEST_F(ClientHandleTest, StampedDepartureOfTheRequestIsT1) {
  constexpr int64_t kSystemOffset = -7 * kNsPerSecond;  // the clock runs 7 s behind the system's
  clock.SetSystemOffset(kSystemOffset);
  const int64_t reading = NanosecondsFromNtp(TimestampFromUint64(t1));
  const struct {
    std::optional<int64_t> departure;  // on the clock, after the reading
    int64_t step;                      // T2 = T3 = T1 + 0.75 s, T4 = T1 + 0.25 s
  } cases[] = {
      {std::nullopt, 625'000'000},
      {100'000, 624'950'000},           // left 100 µs after the reading: half of it less
      {-kNsPerSecond, 625'000'000},     // the request before's
      {kNsPerSecond / 2, 625'000'000},  // after the reply came
  };
  for (const auto& c : cases) {
    const std::optional<int64_t> system_stamp =
        c.departure ? std::optional<int64_t>(reading + *c.departure - kSystemOffset) : std::nullopt;
    network.socket(0)->StampDepartures(system_stamp);
    size_t sent = 0;
    ASSERT_FALSE(rt.sockets.adapters[0].socket->SendToStamped("request", 7, server, &sent));
    ASSERT_EQ(Reply(3 * kSecond / 4, kSecond / 4), 1);
    EXPECT_NEAR(static_cast<double>(clock.steps().back()), static_cast<double>(c.step), 1.0)
        << (c.departure ? *c.departure : 0);
  }
}

TEST_F(ClientHandleTest, BroadcastIsNotHalved) {
  EXPECT_EQ(Broadcast(5 * static_cast<int64_t>(kSecond)), 1);
  EXPECT_EQ(clock.steps(), (std::vector<int64_t>{5 * kNsPerSecond}));
}

TEST_F(ClientHandleTest, StepIsTheExactOffsetWithoutMillisecondLoss) {
  // Zero offset: the clock is not moved at all (re-setting whole milliseconds would move it back).
  clock.Set(kBaseTimeNs + 765'432);  // 0.250765432 s into the second
  EXPECT_EQ(Broadcast(0), 1);
  EXPECT_EQ(clock.steps(), (std::vector<int64_t>{0}));
  EXPECT_EQ(clock.NowNanoseconds(), kBaseTimeNs + 765'432);
  // Negative sub-millisecond remainder: -0.5 s - 0.4 ms, rounded to the nanosecond.
  EXPECT_EQ(Broadcast(-static_cast<int64_t>(kSecond / 2) - 1717987), 1);  // 1717987 = 0.4 ms
  EXPECT_EQ(clock.steps().back(), -500'400'000);
}

TEST_F(ClientHandleTest, DeviationLimitCountsWholeSeconds) {
  rt.config.client_max_diff_second_active = 1;
  rt.config.client_max_diff_second = 180;
  const int64_t second = static_cast<int64_t>(kSecond);
  EXPECT_EQ(Broadcast(180 * second + 999 * static_cast<int64_t>(kMillisecond) + 999), 1);
  EXPECT_EQ(clock.steps().size(), 1u);
  EXPECT_EQ(Broadcast(181 * second), 0);
  EXPECT_EQ(Broadcast(-181 * second - second / 2), 0);
  EXPECT_EQ(clock.steps().size(), 1u);
  EXPECT_EQ(rt.status.Counters().dropped["deviation_limit"], 2u);
  ClientState state;
  std::vector<HistoryEntry> history;
  rt.status.Client(&state, &history);
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(history[0].correction, kCorrectionStepped);
  EXPECT_EQ(history[2].correction, kCorrectionRefused);
  EXPECT_NEAR(history[2].offset_s, -181.5, 1e-6);
}

TEST_F(ClientHandleTest, InactiveLimitAppliesAnyOffset) {
  rt.config.client_max_diff_second_active = 0;
  rt.config.client_max_diff_second = 1;
  EXPECT_EQ(Broadcast(-100000 * static_cast<int64_t>(kSecond)), 1);
  EXPECT_EQ(clock.steps(), (std::vector<int64_t>{-100000 * kNsPerSecond}));
}

TEST_F(ClientHandleTest, TravelTimeBelowTwoSeconds) {
  EXPECT_EQ(Reply(kSecond / 2, 2 * kSecond - kMillisecond), 1);
  EXPECT_EQ(Reply(kSecond / 2, 2 * kSecond), 0);
  // Arrival before the request left: -1.
  EXPECT_EQ(Reply(kSecond / 2, 0 - kSecond / 10), 0);
  EXPECT_EQ(clock.steps().size(), 1u);
  EXPECT_EQ(rt.status.Counters().dropped["not_awaited"], 2u);
}

TEST_F(ClientHandleTest, LeapIndicatorOneAndThreeAreDropped) {
  EXPECT_EQ(Reply(kSecond / 2, kSecond / 4, 1), 0);
  EXPECT_EQ(Reply(kSecond / 2, kSecond / 4, 3), 0);
  EXPECT_EQ(Broadcast(static_cast<int64_t>(kSecond), 1), 0);
  EXPECT_EQ(Broadcast(static_cast<int64_t>(kSecond), 3), 0);
  EXPECT_EQ(rt.status.Counters().dropped["server_unsynchronised"], 4u);
  EXPECT_TRUE(clock.steps().empty());
  EXPECT_EQ(Reply(kSecond / 2, kSecond / 4, 2), 1);
  EXPECT_EQ(Broadcast(static_cast<int64_t>(kSecond), 2), 1);
  EXPECT_EQ(clock.steps().size(), 2u);
}

TEST_F(ClientHandleTest, OriginateMustMatchTheLastRequest) {
  // A reply to an older request: the last request time has moved on.
  rt.client.pending_request.Record(t1 + 1, server);
  EXPECT_EQ(Reply(kSecond / 2, kSecond / 4, 0, true), 0);
  // Differing only in the seconds word.
  rt.client.pending_request.Record(t1 + kSecond, server);
  EXPECT_EQ(Reply(kSecond / 2, kSecond / 4, 0, true), 0);
  EXPECT_EQ(rt.status.Counters().dropped["not_awaited"], 2u);
  EXPECT_TRUE(clock.steps().empty());
}

TEST_F(ClientHandleTest, UnsolicitedReplyIsRefused) {
  // No request was ever sent: a reply echoing the zero Originate Timestamp answers nothing.
  const NtpMessage m = Message(kModeServer, 0, 4, 0, now, now);
  EXPECT_EQ(ClientHandleMessage(rt.Client(), m, TimestampFromUint64(now), server), 0);
  EXPECT_EQ(rt.status.Counters().dropped["not_awaited"], 1u);
  EXPECT_TRUE(clock.steps().empty());
}

TEST_F(ClientHandleTest, OnlyTheFirstReplyFromTheServerAsked) {
  rt.client.pending_request.Record(t1, server);
  // From another host, or from another port of the server: not the answer, and it takes nothing.
  for (const platform::SocketAddress& from : {Endpoint("10.0.0.66", 123), Endpoint("10.0.0.9", 4123)}) {
    EXPECT_EQ(Reply(kSecond / 2, kSecond / 4, 0, true, from), 0);
  }
  EXPECT_EQ(Reply(kSecond / 2, kSecond / 4, 0, true), 1);
  // The same reply again: the request is answered already.
  EXPECT_EQ(Reply(kSecond / 2, kSecond / 4, 0, true), 0);
  EXPECT_EQ(clock.steps().size(), 1u);
  StatusCounters counters = rt.status.Counters();
  EXPECT_EQ(counters.dropped["wrong_sender"], 2u);
  EXPECT_EQ(counters.dropped["not_awaited"], 1u);
  EXPECT_EQ(counters.samples_taken, 1u);
}

TEST_F(ClientHandleTest, StratumZeroIsDropped) {
  rt.client.pending_request.Record(t1, server);
  NtpMessage kiss = Message(kModeServer, 0, 4, t1, t1 + kSecond / 2, t1 + kSecond / 2);
  SetStratum(&kiss, 0);
  SetReferenceId(&kiss, 0x52415445);  // "RATE"
  EXPECT_EQ(ClientHandleMessage(rt.Client(), kiss, TimestampFromUint64(t1 + kSecond / 4), server), 0);
  NtpMessage broadcast = Message(kModeBroadcast, 0, 4, 0, 0, now + kSecond);
  SetStratum(&broadcast, 0);
  SetReferenceId(&broadcast, 0);
  EXPECT_EQ(ClientHandleMessage(rt.Client(), broadcast, TimestampFromUint64(now), server), 0);
  EXPECT_EQ(rt.status.Counters().dropped["stratum_0"], 2u);
  EXPECT_TRUE(clock.steps().empty());
}

TEST_F(ClientHandleTest, ZeroTransmitTimestampIsDropped) {
  const NtpMessage reply = Message(kModeServer, 0, 4, t1, t1 + kSecond / 2, 0);
  EXPECT_EQ(ClientHandleMessage(rt.Client(), reply, TimestampFromUint64(t1 + kSecond / 4), server), 0);
  const NtpMessage broadcast = Message(kModeBroadcast, 0, 4, 0, 0, 0);
  EXPECT_EQ(ClientHandleMessage(rt.Client(), broadcast, TimestampFromUint64(now), server), 0);
  EXPECT_EQ(rt.status.Counters().dropped["malformed"], 2u);
  EXPECT_TRUE(clock.steps().empty());
  // A transmit time with only the fraction set is a time.
  const NtpMessage fraction_only = Message(kModeBroadcast, 0, 4, 0, 0, 1);
  EXPECT_EQ(ClientHandleMessage(rt.Client(), fraction_only, TimestampFromUint64(now), server), 1);
}

// Replies whose stamps or header contradict themselves carry no time: each is dropped with its
// reason and the clock stays; the unchanged reply is then taken.
TEST_F(ClientHandleTest, SelfContradictingSamplesAreDropped) {
  const uint64_t out = kSecond / 4;  // T4 - T1
  const struct {
    const char* reason;
    bool broadcast;
    void (*change)(NtpMessage*, uint64_t t1);
  } cases[] = {
      {"zero_receive", false, [](NtpMessage* m, uint64_t) { SetReceiveTime(m, ZeroTimestamp); }},
      {"transmit_before_receive", false,
       [](NtpMessage* m, uint64_t t1) { SetReceiveTime(m, TimestampFromUint64(t1 + 100 * kSecond)); }},
      // The server claims to have held the request 125 ms longer than the whole round trip.
      {"impossible_delay", false,
       [](NtpMessage* m, uint64_t t1) {
         SetPrecision(m, -20);
         SetReceiveTime(m, TimestampFromUint64(t1));
         SetTransmitTime(m, TimestampFromUint64(t1 + kSecond / 4 + kSecond / 8));
       }},
      {"unknown_version", false, [](NtpMessage* m, uint64_t) { SetVersionNumber(m, 0); }},
      {"unknown_version", true, [](NtpMessage* m, uint64_t) { SetVersionNumber(m, 5); }},
      {"stratum_unsynchronised", true, [](NtpMessage* m, uint64_t) { SetStratum(m, 16); }},
      // 2 s / 2 + 0.5 s = 1.5 s: not below the limit.
      {"root_distance", false,
       [](NtpMessage* m, uint64_t) {
         SetRootDelay(m, 2u << 16);
         SetRootDispersion(m, 1u << 15);
       }},
      {"reference_after_transmit", true,
       [](NtpMessage* m, uint64_t) {
         SetReferenceTime(m, TimestampFromUint64(TimestampToUint64(m->transmit_time) + 1));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    NtpMessage m = c.broadcast ? Message(kModeBroadcast, 0, 4, 0, 0, now + kSecond)
                               : Message(kModeServer, 0, 4, t1, t1 + kSecond / 2, t1 + kSecond / 2);
    c.change(&m, t1);
    if (!c.broadcast) rt.client.pending_request.Record(t1, server);
    const uint64_t arrival = c.broadcast ? now : t1 + out;
    const uint64_t before = rt.status.Counters().dropped[c.reason];
    EXPECT_EQ(ClientHandleMessage(rt.Client(), m, TimestampFromUint64(arrival), server), 0);
    EXPECT_EQ(rt.status.Counters().dropped[c.reason], before + 1);
  }
  EXPECT_TRUE(clock.steps().empty());
  // Just inside each bound: a round trip as short as the precision allows, root distance below 1.5 s.
  rt.client.pending_request.Record(t1, server);
  NtpMessage edge = Message(kModeServer, 0, 4, t1, t1, t1 + out + (kSecond >> 20));
  SetPrecision(&edge, -20);
  SetRootDispersion(&edge, (3u << 15) - 1);
  EXPECT_EQ(ClientHandleMessage(rt.Client(), edge, TimestampFromUint64(t1 + out), server), 1);
}

TEST_F(ClientHandleTest, OwnBroadcastIsNoTimeSource) {
  AddAdapter("eth1", "10.0.1.1");
  EXPECT_EQ(Broadcast(static_cast<int64_t>(kSecond), 0, Endpoint("10.0.1.1", 123)), 0);
  EXPECT_EQ(rt.status.Counters().dropped["own_broadcast"], 1u);
  EXPECT_TRUE(clock.steps().empty());
  // A neighbour in the same subnet is.
  EXPECT_EQ(Broadcast(static_cast<int64_t>(kSecond), 0, Endpoint("10.0.1.2", 123)), 1);
}

TEST_F(ClientHandleTest, OwnBroadcastFromAnAddressOutsideTheTableIsNoTimeSource) {
  // A wildcard row (0.0.0.0) sends from its interface's address, which the table does not list.
  AddAdapter("any", "0.0.0.0");
  network.SetInterfaceAddresses({{Ip("10.0.2.7"), Ip("10.0.2.255"), "eth1", 3}});
  EXPECT_EQ(Broadcast(static_cast<int64_t>(kSecond), 0, Endpoint("10.0.2.7", 123)), 0);
  EXPECT_EQ(rt.status.Counters().dropped["own_broadcast"], 1u);
  EXPECT_TRUE(clock.steps().empty());
}

// With a key file a broadcast sent again, from its sender or any other address, moves nothing;
// without one it is taken again, as always.
TEST_F(ClientHandleTest, WithAKeyFileABroadcastNoLaterThanTheLastTakenIsAReplay) {
  const auto ahead = static_cast<int64_t>(kSecond);
  EXPECT_EQ(Broadcast(ahead), 1);
  EXPECT_EQ(Broadcast(ahead), 1);
  rt.auth.required = true;
  rt.auth.keys = {SymmetricKey{7, platform::MacAlgorithm::kAes128Cmac, std::vector<uint8_t>(16, 1), 1}};
  EXPECT_EQ(Broadcast(ahead), 1);
  EXPECT_EQ(Broadcast(ahead), 0);
  EXPECT_EQ(Broadcast(ahead - 1, 0, Endpoint("10.0.0.10", 123)), 0);
  EXPECT_EQ(clock.steps().size(), 3u);
  EXPECT_EQ(rt.status.Counters().dropped["replayed"], 2u);
  EXPECT_EQ(Broadcast(ahead + 1, 0, Endpoint("10.0.0.10", 123)), 1);
}

TEST_F(ClientHandleTest, FailedStepIsReportedAndCountsAsNotSet) {
  rt.config.client_run_once = 1;
  clock.FailStepsWith(EPERM);
  EXPECT_EQ(Broadcast(static_cast<int64_t>(kSecond)), 0);
  ClientState state;
  std::vector<HistoryEntry> history;
  rt.status.Client(&state, &history);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].correction, kCorrectionFailed);
  EXPECT_EQ(stop_requests, 0);
}

TEST_F(ClientHandleTest, RunOnceStopsOnlyWhenTheServerIsInactive) {
  rt.config.client_run_once = 1;
  rt.config.server_active = 1;
  EXPECT_EQ(Broadcast(static_cast<int64_t>(kSecond)), 1);
  EXPECT_EQ(stop_requests, 0);
  // A refused setting does not stop either.
  rt.config.server_active = 0;
  rt.config.client_max_diff_second_active = 1;
  rt.config.client_max_diff_second = 0;
  EXPECT_EQ(Broadcast(5 * static_cast<int64_t>(kSecond)), 0);
  EXPECT_EQ(stop_requests, 0);
  rt.config.client_max_diff_second_active = 0;
  EXPECT_EQ(Broadcast(static_cast<int64_t>(kSecond)), 1);
  EXPECT_EQ(stop_requests, 1);
  EXPECT_TRUE(rt.stop.shutdown.Wait(0));
}

TEST_F(ClientHandleTest, RunOnceInTheClientOnlyHostIgnoresTheServerSetting) {
  rt.server_part = false;
  rt.config.client_run_once = 1;
  rt.config.server_active = 1;  // read by chron95 never; no server runs there
  EXPECT_EQ(Broadcast(static_cast<int64_t>(kSecond)), 1);
  EXPECT_EQ(stop_requests, 1);
}

// With Client\Discipline = 1 small offsets are slewed, large ones stepped, and the deviation
// limit still refuses before either; each correction adds one trace line.
TEST_F(ClientHandleTest, DisciplineSlewsStepsAndStillObeysTheLimit) {
  clock.EnableDiscipline();
  rt.config.client_discipline = 1;
  rt.client.discipline = StartDiscipline(rt.config, *rt.clock);
  ASSERT_NE(rt.client.discipline, nullptr);
  rt.config.client_max_diff_second_active = 1;
  rt.config.client_max_diff_second = 180;
  rt.config.client_run_once = 1;

  EXPECT_EQ(Broadcast(static_cast<int64_t>(kMillisecond)), 1);
  EXPECT_EQ(clock.slews().size(), 1u);
  EXPECT_NEAR(static_cast<double>(clock.slews().back()), 1e6, 1.0);
  EXPECT_TRUE(clock.steps().empty());
  EXPECT_EQ(stop_requests, 1);  // run once: a slew sets the clock too

  EXPECT_EQ(Broadcast(2 * static_cast<int64_t>(kSecond)), 1);
  EXPECT_EQ(clock.steps(), (std::vector<int64_t>{2 * kNsPerSecond}));

  EXPECT_EQ(Broadcast(181 * static_cast<int64_t>(kSecond)), 0);
  EXPECT_EQ(clock.steps().size(), 1u);

  // The status record names each correction and carries the frequency correction.
  ClientState state;
  std::vector<HistoryEntry> history;
  rt.status.Client(&state, &history);
  std::vector<std::string> corrections;
  for (const HistoryEntry& entry : history) corrections.push_back(entry.correction);
  EXPECT_EQ(corrections, (std::vector<std::string>{"slewed", "stepped", "refused"}));
  EXPECT_TRUE(state.frequency_ppm.has_value());
}

// A disciplined broadcast client asks the broadcaster on the first broadcasts (then on every second),
// and adds half the round trip of the reply to later broadcast offsets.
TEST_F(ClientHandleTest, DisciplinedBroadcastClientCalibratesItsDelay) {
  clock.EnableDiscipline();
  rt.client.discipline = std::make_shared<ClockDiscipline>(clock, 0.0);
  FakeUdpSocket* socket = network.sockets().back();
  // The broadcast seems 120 us behind; the reply (T2 = T3 = T1 + 100 us, T4 = T1 + 200 us:
  // offset 0, round trip 200 us) shows the clock right: the broadcast took 120 us, not half the
  // round trip.
  EXPECT_EQ(Broadcast(-static_cast<int64_t>(120 * kMillisecond / 1000)), 1);
  ASSERT_EQ(socket->sent().size(), 1u);
  EXPECT_TRUE(SameEndpoint(socket->sent()[0].peer, Endpoint("10.0.0.9", 123)));
  EXPECT_EQ(Reply(100 * kMillisecond / 1000, 200 * kMillisecond / 1000), 1);
  EXPECT_EQ(Broadcast(0), 1);
  EXPECT_NEAR(static_cast<double>(clock.slews().back()), 120000.0, 10.0);
  // A request on each of the first broadcasts, then on every kCalibrationEvery-th.
  for (int i = 2; i <= ClockDiscipline::kCalibrations; ++i) Broadcast(0);
  EXPECT_EQ(socket->sent().size(), size_t{ClockDiscipline::kCalibrations} + 1);
  for (int i = 1; i < ClockDiscipline::kCalibrationEvery; ++i) Broadcast(0);
  EXPECT_EQ(socket->sent().size(), size_t{ClockDiscipline::kCalibrations} + 1);
  Broadcast(0);
  EXPECT_EQ(socket->sent().size(), size_t{ClockDiscipline::kCalibrations} + 2);
}

// Absent or 0 the value leaves the client as it was; a clock that cannot be disciplined too.
TEST_F(ClientHandleTest, WithoutDisciplineEveryReplySteps) {
  rt.client.discipline = StartDiscipline(rt.config, *rt.clock);
  EXPECT_EQ(rt.client.discipline, nullptr);
  rt.config.client_discipline = 1;
  rt.client.discipline = StartDiscipline(rt.config, *rt.clock);  // the fake clock has no discipline until enabled
  EXPECT_EQ(rt.client.discipline, nullptr);
  EXPECT_TRUE(console.Contains("SNTP-Client: Uhrführung nicht verfügbar (Fehler "));
  EXPECT_EQ(Broadcast(static_cast<int64_t>(kMillisecond)), 1);
  EXPECT_EQ(clock.steps().size(), 1u);
}

class ClientPollTest : public EngineTest {
 protected:
  ClientPollTest() {
    rt.config.client_active = 1;
    rt.config.client_broadcast = 0;
    rt.config.client_poll_interval = 3600;
    rt.config.client_time_source = "zeitgeber";
    first = AddAdapter("eth0", "10.0.0.1");
    second = AddAdapter("eth1", "10.0.1.1");
    network.AddHost("zeitgeber", Ip("10.0.5.5"));
  }
  ~ClientPollTest() override {
    rt.stop.shutdown.Set();
    if (worker.joinable()) worker.join();
  }
  void Start() {
    worker = std::thread([this] { ClientPollThread(rt.Client()); });
    rt.stop.start.Set();
  }
  std::thread worker;
  FakeUdpSocket* first = nullptr;
  FakeUdpSocket* second = nullptr;
};

TEST_F(ClientPollTest, SendsOneRequestFromTheFirstAdapterToTheResolvedServer) {
  Start();
  ASSERT_TRUE(first->WaitForSent(1, std::chrono::seconds(5)));
  ASSERT_TRUE(console.WaitFor("SNTP-Client: NTP Anfrage an 10.0.5.5 geschickt.\n"));
  const std::vector<FakeDatagram> sent = first->sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(sent[0].stamped);
  EXPECT_TRUE(second->sent().empty());
  EXPECT_TRUE(SameEndpoint(sent[0].peer, Endpoint("10.0.5.5", 123)));
  const std::vector<uint8_t>& bytes = sent[0].bytes;
  ASSERT_EQ(bytes.size(), 48u);
  const std::vector<uint8_t> head(bytes.begin(), bytes.begin() + 16);
  EXPECT_EQ(head, (std::vector<uint8_t>{0x23, 0x00, 0x0A, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 'L', 'O', 'C', 'L'}));
  EXPECT_EQ(ReadWord64(bytes, 16), 0u);
  EXPECT_EQ(ReadWord64(bytes, 24), 0u);
  EXPECT_EQ(ReadWord64(bytes, 32), 0u);
  // The two fraction bits below the clock's nanosecond are random; the rest is the time.
  EXPECT_EQ(ReadWord64(bytes, 40) & ~uint64_t{3}, TimestampToUint64(NtpNow(clock)) & ~uint64_t{3});
  EXPECT_EQ(rt.client.pending_request.transmit(), ReadWord64(bytes, 40));
  EXPECT_EQ(network.resolved_names(), (std::vector<std::string>{"zeitgeber"}));
}

TEST_F(ClientPollTest, RequestLeavesFromTheAdapterTheRoutingTableChooses) {
  struct Case {
    const char* source;  // the routing table's source for the server; null: no route
    bool from_second;
  };
  for (const Case& c : {Case{nullptr, false}, Case{"10.0.9.9", false}, Case{"10.0.1.1", true}}) {
    if (c.source != nullptr) network.SetRoute(Ip("10.0.5.5"), Ip(c.source));
    const size_t before_first = first->sent().size();
    const size_t before_second = second->sent().size();
    rt.stop.shutdown.Reset();
    console.Clear();
    Start();
    FakeUdpSocket* expected = c.from_second ? second : first;
    ASSERT_TRUE(expected->WaitForSent((c.from_second ? before_second : before_first) + 1, std::chrono::seconds(5)));
    rt.stop.shutdown.Set();
    worker.join();
    EXPECT_EQ(first->sent().size(), before_first + (c.from_second ? 0 : 1));
    EXPECT_EQ(second->sent().size(), before_second + (c.from_second ? 1 : 0));
    EXPECT_EQ(console.Contains("SNTP-Client: NTP Anfrage an 10.0.5.5 über Netzwerkadapter eth1 (10.0.1.1).\n"),
              c.from_second);
  }
}

TEST_F(ClientPollTest, StopDuringTheWaitEndsAtOnce) {
  Start();
  ASSERT_TRUE(first->WaitForSent(1, std::chrono::seconds(5)));
  const auto asked = std::chrono::steady_clock::now();
  rt.stop.shutdown.Set();
  worker.join();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
  EXPECT_EQ(console.Count(kStoppedText), 1);
  EXPECT_EQ(first->sent().size(), 1u);
}

TEST_F(ClientPollTest, DottedAddressNeedsNoLookUp) {
  rt.config.client_time_source = "192.168.7.3";
  Start();
  ASSERT_TRUE(first->WaitForSent(1, std::chrono::seconds(5)));
  EXPECT_TRUE(SameEndpoint(first->sent()[0].peer, Endpoint("192.168.7.3", 123)));
  EXPECT_TRUE(network.resolved_names().empty());
}

TEST_F(ClientPollTest, UnresolvableNameIsReportedOncePerInterval) {
  rt.config.client_poll_interval = 1;
  rt.config.client_time_source = "nirgendwo";
  const std::string report =
      "SNTP-Client: Beim Versuch die IP-Adresse des (S)NTP Server (nirgendwo) zu erfragen trat folgender Fehler auf: "
      "Name or service not known.";
  Start();
  ASSERT_TRUE(console.WaitFor(report, 1));
  const auto first_report = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(console.Count(report), 1);
  ASSERT_TRUE(console.WaitFor(report, 2));
  EXPECT_GE(std::chrono::steady_clock::now() - first_report, std::chrono::milliseconds(500));
  EXPECT_TRUE(first->sent().empty());
  EXPECT_FALSE(console.Contains("Anfrage"));
  // The name is asked again in every cycle.
  EXPECT_GE(network.resolved_names().size(), 2u);
}

TEST_F(ClientPollTest, FailedSendWaitsForTheInterval) {
  rt.config.client_poll_interval = 1;
  first->FailSendWith(ENETUNREACH);
  const std::string report = WinsockErrorText("SNTP-Client", "sendto()", ENETUNREACH);
  Start();
  ASSERT_TRUE(console.WaitFor(report, 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(console.Count(report), 1);
  // The next cycle sends again.
  first->FailSendWith(0);
  ASSERT_TRUE(first->WaitForSent(1, std::chrono::seconds(5)));
}

TEST_F(ClientPollTest, NothingIsSentBeforeTheStartEvent) {
  worker = std::thread([this] { ClientPollThread(rt.Client()); });
  EXPECT_FALSE(first->WaitForSent(1, std::chrono::milliseconds(200)));
  EXPECT_EQ(rt.client.pending_request.transmit(), 0u);
  rt.stop.start.Set();
  EXPECT_TRUE(first->WaitForSent(1, std::chrono::seconds(5)));
}

}  // namespace
}  // namespace chron::testing
