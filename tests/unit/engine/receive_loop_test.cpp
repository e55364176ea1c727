#include "engine/receive_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <functional>
#include <optional>
#include <thread>

#include "tests/unit/engine/engine_fixture.h"

namespace chron::testing {
namespace {

const platform::SocketAddress kPeer = Endpoint("10.0.0.7", 40000);

class ReceiveLoopTest : public EngineTest {
 protected:
  ~ReceiveLoopTest() override { Stop(); }

  void Start() {
    loop = std::thread([this] { ReceiveLoop(rt.Receive()); });
    ASSERT_TRUE(rt.stop.start.Wait(5000));
  }
  // Waits until every socket's queue has been read, then stops the loop as a stop request
  // does; the pass that read the last datagram finishes before the loop ends.
  void Drain() {
    EXPECT_TRUE(Eventually([this] {
      for (FakeUdpSocket* s : network.sockets()) {
        if (s->pending() != 0) return false;
      }
      return true;
    }));
    Stop();
  }
  void Stop() {
    if (!loop.joinable()) return;
    rt.stop.request_stop();
    loop.join();
  }
  // Runs the loop over one datagram pushed to `socket`.
  void ReceiveOne(FakeUdpSocket* socket, std::vector<uint8_t> bytes, const platform::SocketAddress& from = kPeer,
                  bool broadcast = false) {
    if (broadcast) {
      socket->PushBroadcast(std::move(bytes), from);
    } else {
      socket->Push(std::move(bytes), from);
    }
    Start();
    Drain();
  }

  std::thread loop;
};

TEST_F(ReceiveLoopTest, StartsReadyAndEndsOnStop) {
  AddAdapter("eth0", "10.0.0.1");
  Start();
  EXPECT_TRUE(console.WaitFor(kReadyText));
  Stop();
  EXPECT_EQ(instance_releases, 1);
  EXPECT_EQ(console.Text(), std::string(kReadyText) + "\n" + std::string(kStoppedText) + "\n");
  EXPECT_EQ(network.create_waiter_calls(), 1);
}

TEST_F(ReceiveLoopTest, ShutdownWithoutDatagramKeepsWaitingUntilOneArrives) {
  FakeUdpSocket* socket = AddAdapter("eth0", "10.0.0.1");
  Start();
  rt.stop.shutdown.Set();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(console.Contains(kStoppedText));
  socket->Push({}, kPeer);  // any datagram, here an empty one, ends the wait
  loop.join();
  EXPECT_EQ(console.Count(kStoppedText), 1);
}

TEST_F(ReceiveLoopTest, ZeroByteDatagramIsSilent) {
  FakeUdpSocket* socket = AddAdapter("eth0", "10.0.0.1");
  rt.config.server_active = 1;
  socket->Push({}, kPeer);
  Start();
  EXPECT_TRUE(Eventually([&] { return socket->pending() == 0; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(console.Contains(kStoppedText));  // no stop requested: still running
  Stop();
  EXPECT_EQ(console.Text(), std::string(kReadyText) + "\n" + std::string(kStoppedText) + "\n");
  EXPECT_TRUE(socket->sent().size() == 1 && socket->sent()[0].bytes.empty());  // only the wake-up
}

// Every verdict of the receive path on one datagram, with its trace lines and reports in order.
TEST_F(ReceiveLoopTest, EveryVerdictTracesAsTheTranscriptSays) {
  FakeUdpSocket* socket = AddAdapter("eth0", "10.0.0.1");
  network.SetInterfaceAddresses({{Ip("10.0.0.1"), Ip("10.0.0.255"), "eth0", 2}});
  rt.config.server_active = 1;
  rt.config.client_active = 1;
  rt.config.client_broadcast = 1;
  const uint64_t ahead = TimestampToUint64(NtpNow(clock)) + kSecond;
  ReceiveState state;
  const auto receive = [&](std::vector<uint8_t> bytes, const platform::SocketAddress& from, bool broadcast = false) {
    return [&, bytes, from, broadcast] {
      if (broadcast) {
        socket->PushBroadcast(bytes, from);
      } else {
        socket->Push(bytes, from);
      }
      chron::ReceiveOne(rt.Receive(), state, *rt.sockets.adapters[0].socket);
    };
  };
  const std::vector<uint8_t> request = WireBytes(Message(kModeClient, 0, 4, 0, 0, 42));
  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"request answered", receive(request, kPeer)},
      {"request from an address no reply can go to", receive(request, Endpoint("10.0.0.255", 123))},
      {"request of version 5", receive(WireBytes(Message(kModeClient, 0, 5, 0, 0, 42)), kPeer)},
      {"47 bytes", receive(WireBytes(Message(kModeClient, 0, 4, 0, 0, 42), 47), kPeer)},
      {"mode 6", receive(WireBytes(Message(kModeControl, 0, 4, 0, 0, 42)), kPeer)},
      {"broadcast sent to this host alone", receive(WireBytes(Message(kModeBroadcast, 0, 4, 0, 0, ahead)), kPeer)},
      {"reply to no request", receive(WireBytes(Message(kModeServer, 0, 4, 1, 2, 3)), kPeer)},
      {"broadcast taken", receive(WireBytes(Message(kModeBroadcast, 0, 4, 0, 0, ahead)), kPeer, true)},
      {"receive error",
       [&] {
         socket->PushReceiveError(10054);  // the same number on every system
         chron::ReceiveOne(rt.Receive(), state, *rt.sockets.adapters[0].socket);
       }},
  };
  ExpectGolden("receive_verdicts", Transcript(console, cases));
}

// Which part takes a datagram of each mode, under the settings of each program.
TEST_F(ReceiveLoopTest, ModeAndSettingsChooseThePart) {
  struct Row {
    const char* settings;
    bool server_part;
    uint32_t server, client, broadcast;
    const char* routes;  // for modes 0 to 7: S server, C client, - dropped
  };
  const Row rows[] = {
      {"all parts", true, 1, 1, 1, "---SCC--"},
      {"polling client beside the server", true, 1, 1, 0, "---SC---"},
      {"server alone", true, 1, 0, 1, "---S----"},
      {"nothing active", true, 0, 0, 1, "--------"},
      {"client alone (chron95), server values ignored", false, 1, 1, 1, "----CC--"},
  };
  FakeUdpSocket* socket = AddAdapter("eth0", "10.0.0.1");
  ReceiveState state;
  uint64_t sequence = 0;
  for (const Row& row : rows) {
    rt.server_part = row.server_part;
    rt.config.server_active = row.server;
    rt.config.client_active = row.client;
    rt.config.client_broadcast = row.broadcast;
    for (uint32_t mode = 0; mode < 8; ++mode) {
      const size_t replies = socket->sent().size();
      StatusCounters before = rt.status.Counters();
      // LI 3: the client drops it at once. A broadcast arrives as one; each message is another.
      const std::vector<uint8_t> bytes = WireBytes(Message(mode, 3, 4, 0, 0, 42 + ++sequence));
      if (mode == kModeBroadcast) {
        socket->PushBroadcast(bytes, kPeer);
      } else {
        socket->Push(bytes, kPeer);
      }
      chron::ReceiveOne(rt.Receive(), state, *rt.sockets.adapters[0].socket);
      StatusCounters after = rt.status.Counters();
      const char route = socket->sent().size() > replies                                                    ? 'S'
                         : after.dropped["unexpected_mode"] > before.dropped["unexpected_mode"]             ? '-'
                         : after.dropped["server_unsynchronised"] > before.dropped["server_unsynchronised"] ? 'C'
                                                                                                            : '?';
      EXPECT_EQ(route, row.routes[mode]) << row.settings << ", mode " << mode;
    }
  }
}

TEST_F(ReceiveLoopTest, RequestIsAnsweredToItsSourceOnTheSocketItArrivedOn) {
  AddAdapter("eth0", "10.0.0.1");
  FakeUdpSocket* second = AddAdapter("eth1", "10.0.1.1");
  rt.config.server_active = 1;
  NtpMessage request = Message(kModeClient, 0, 4, 0, 0, 0xABCDEF0012345678);
  ReceiveOne(second, WireBytes(request), Endpoint("10.0.1.7", 1234));
  const std::vector<FakeDatagram> sent = second->sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(SameEndpoint(sent[0].peer, Endpoint("10.0.1.7", 1234)));
  ASSERT_EQ(sent[0].bytes.size(), 48u);
  EXPECT_EQ(sent[0].bytes[0], 0x24);
  EXPECT_EQ(ReadWord64(sent[0].bytes, 24), 0xABCDEF0012345678u);
  // Receive Timestamp: the arrival time.
  EXPECT_EQ(ReadWord64(sent[0].bytes, 32), TimestampToUint64(NtpNow(clock)));
}

// T4 is the system's arrival stamp moved onto the service's clock (here 5 s ahead of the system
// clock); without a stamp, or with one that a step of the clock since has made impossible
// (later than now, or older than a second), it is the clock read after the read.
TEST_F(ReceiveLoopTest, ArrivalTimeIsTheKernelStampOnTheServicesClock) {
  constexpr int64_t kAhead = 5'000'000'000;
  constexpr int64_t kNs = 1'000'000'000;
  clock.SetSystemOffset(kAhead);
  const int64_t now = kBaseTimeNs;
  const int64_t system_now = now - kAhead;
  const struct {
    std::optional<int64_t> stamp;
    int64_t expected;
  } cases[] = {
      {system_now - 250'123, now - 250'123},  // queued for 250.123 µs
      {system_now, now},
      {system_now - kNs, now - kNs},  // the oldest accepted
      {std::nullopt, now},            // no stamp from the system
      {system_now + 1, now},          // later than now
      {system_now - kNs - 1, now},    // stepped forwards since
  };
  FakeUdpSocket* socket = AddAdapter("eth0", "10.0.0.1");
  rt.config.server_active = 1;
  for (const auto& c : cases) {
    socket->Push(WireBytes(Message(kModeClient, 0, 4, 0, 0, 42)), kPeer, c.stamp);
  }
  Start();
  Drain();
  // The replies in the order of the requests; the stop's zero-length wake-up may come anywhere.
  std::vector<FakeDatagram> replies = socket->sent();
  std::erase_if(replies, [](const FakeDatagram& d) { return d.bytes.empty(); });
  ASSERT_EQ(replies.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(ReadWord64(replies[i].bytes, 32), TimestampToUint64(NtpFromNanoseconds(cases[i].expected))) << i;
  }
}

TEST_F(ReceiveLoopTest, RequestsFromSourcesThatCannotBeAnsweredAreIgnored) {
  FakeUdpSocket* socket = AddAdapter("eth0", "10.0.0.1");
  network.SetInterfaceAddresses({{Ip("10.0.0.1"), Ip("10.0.0.255"), "eth0", 2}});
  rt.config.server_active = 1;
  const std::vector<uint8_t> request = WireBytes(Message(kModeClient, 0, 4, 0, 0, 42));
  const std::pair<const char*, uint16_t> refused[] = {{"0.0.0.0", 5000},  {"10.0.0.7", 0},    {"255.255.255.255", 123},
                                                      {"224.0.1.1", 123}, {"239.1.2.3", 123}, {"10.0.0.255", 123}};
  for (const auto& [address, port] : refused) socket->Push(request, Endpoint(address, port));
  socket->Push(request, kPeer);
  Start();
  Drain();
  for (const auto& [address, port] : refused) {
    EXPECT_TRUE(console.Contains(std::string("SNTP-Network: NTP Nachricht: 3 (client) von ") + address + " (Port " +
                                 std::to_string(port) + ") wird ignoriert, Absenderadresse ungültig.\n"))
        << address;
  }
  const std::vector<FakeDatagram> sent = socket->sent();
  ASSERT_EQ(sent.size(), 2u);  // the one reply, and the wake-up (in either order: the stop races the reply)
  const auto reply = std::find_if(sent.begin(), sent.end(), [](const FakeDatagram& d) { return !d.bytes.empty(); });
  ASSERT_NE(reply, sent.end());
  EXPECT_TRUE(SameEndpoint(reply->peer, kPeer));
  EXPECT_EQ(console.Count("SNTP-Server: NTP Anforderung"), 1);
  EXPECT_EQ(rt.status.Counters().dropped["bad_source"], std::size(refused));
  EXPECT_EQ(rt.status.Counters().requests_answered, 1u);
}

TEST_F(ReceiveLoopTest, DatagramLengths) {
  FakeUdpSocket* socket = AddAdapter("eth0", "10.0.0.1");
  rt.config.server_active = 1;
  const NtpMessage request = Message(kModeClient, 0, 4, 0, 0, 42);
  for (size_t size : {47u, 48u, 49u, 68u, 100u, 1000u}) socket->Push(WireBytes(request, size), kPeer);
  Start();
  Drain();
  const std::vector<FakeDatagram> sent = socket->sent();
  ASSERT_EQ(sent.size(), 3u);  // replies to 48 and 68 bytes, then the wake-up
  EXPECT_EQ(sent[0].bytes.size(), 48u);
  EXPECT_EQ(sent[1].bytes.size(), 48u);
  // Extension fields and longer: not this host's error, an unknown format like any other.
  for (int size : {47, 49, 100, 1000}) {
    const std::string n = std::to_string(size);
    EXPECT_TRUE(console.Contains("SNTP-Network: NTP Nachricht 3 mit " + n + " Bytes von 10.0.0.7 erhalten.\n"));
    EXPECT_TRUE(
        console.Contains("SNTP-Network: NTP Nachricht (3/" + n + ") von 10.0.0.7 ignoriert, Format unbekannt.\n"));
  }
  EXPECT_TRUE(console.Contains("SNTP-Network: NTP Nachricht 3 mit 68 Bytes von 10.0.0.7 erhalten.\n"));
  EXPECT_FALSE(console.Contains("(3/48)"));
  EXPECT_FALSE(console.Contains("(3/68)"));
  EXPECT_FALSE(console.Contains("recvfrom()"));
  EXPECT_EQ(console.Count("SNTP-Server: NTP Antwort an 10.0.0.7 verschickt."), 2);
  EXPECT_EQ(rt.status.Counters().dropped["malformed"], 4u);
}

TEST_F(ReceiveLoopTest, OnlyVersionsOneToFourAreAnswered) {
  FakeUdpSocket* socket = AddAdapter("eth0", "10.0.0.1");
  rt.config.server_active = 1;
  for (uint32_t version = 0; version < 8; ++version) {
    socket->Push(WireBytes(Message(kModeClient, 0, version, 0, 0, 42)), kPeer);
  }
  Start();
  Drain();
  std::vector<uint32_t> answered;
  for (const FakeDatagram& d : socket->sent()) {
    if (!d.bytes.empty()) answered.push_back(d.bytes[0] >> 3 & 7);
  }
  EXPECT_EQ(answered, (std::vector<uint32_t>{1, 2, 3, 4}));
  EXPECT_EQ(rt.status.Counters().dropped["unknown_version"], 4u);
  EXPECT_TRUE(
      console.Contains("SNTP-Network: NTP Nachricht: 3 (client) von 10.0.0.7 wird ignoriert, Version 5 unbekannt.\n"));
}

TEST_F(ReceiveLoopTest, RepeatedReceiveErrorsAreReportedOncePerWindowWithTheirCount) {
  FakeUdpSocket* socket = AddAdapter("eth0", "10.0.0.1");
  for (int i = 0; i < 30; ++i) socket->PushReceiveError(ECONNREFUSED);
  Start();
  Drain();
  EXPECT_EQ(console.Count(WinsockErrorText("SNTP-Network", "recvfrom()", ECONNREFUSED)), 1);
  // The loop's end tells how many it kept back.
  EXPECT_TRUE(
      console.Contains("SNTP-Network: Meldung 0xc100000f wurde 29 mal unterdrückt (höchstens eine je 10 Sekunden)."));
}

TEST_F(ReceiveLoopTest, ReceiveErrorIsReportedAndTheLoopGoesOn) {
  FakeUdpSocket* socket = AddAdapter("eth0", "10.0.0.1");
  rt.config.server_active = 1;
  socket->PushReceiveError(ECONNREFUSED);
  socket->Push(WireBytes(Message(kModeClient, 0, 4, 0, 0, 1)), kPeer);
  Start();
  Drain();
  EXPECT_EQ(console.Count(WinsockErrorText("SNTP-Network", "recvfrom()", ECONNREFUSED)), 1);
  EXPECT_EQ(socket->sent().size(), 2u);  // the reply and the wake-up
  EXPECT_EQ(console.Count(kStoppedText), 1);
}

TEST_F(ReceiveLoopTest, ReadableSocketsAreReadInTableOrderOneDatagramEach) {
  FakeUdpSocket* a = AddAdapter("eth0", "10.0.0.1");
  FakeUdpSocket* b = AddAdapter("eth1", "10.0.1.1");
  const std::vector<uint8_t> bytes = WireBytes(Message(kModeSymmetricActive));
  // Queued before the loop starts, so the first pass finds both sockets readable.
  b->Push(bytes, Endpoint("10.0.1.7", 123));
  a->Push(bytes, Endpoint("10.0.0.7", 123));
  a->Push(bytes, Endpoint("10.0.0.8", 123));
  Start();
  Drain();
  const std::string text = console.Text();
  const size_t a1 = text.find("von 10.0.0.7 erhalten");
  const size_t b1 = text.find("von 10.0.1.7 erhalten");
  const size_t a2 = text.find("von 10.0.0.8 erhalten");
  ASSERT_NE(a1, std::string::npos);
  ASSERT_NE(b1, std::string::npos);
  ASSERT_NE(a2, std::string::npos);
  EXPECT_LT(a1, b1);
  EXPECT_LT(b1, a2);
}

TEST_F(ReceiveLoopTest, EntriesNotInUseAreNotWatched) {
  AddAdapter("eth0", "10.0.0.1");
  FakeUdpSocket* idle = AddAdapter("eth1", "10.0.1.1", false);
  idle->Push(WireBytes(Message(kModeClient)), kPeer);
  Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Stop();
  EXPECT_EQ(idle->pending(), 1u);
  EXPECT_FALSE(console.Contains("erhalten"));
}

TEST_F(ReceiveLoopTest, FailedWaitIsReportedWithoutSpinningAndStopStillEndsTheLoop) {
  AddAdapter("eth0", "10.0.0.1");
  network.FailWaitsWith(EBADF);
  Start();
  const std::string report = WinsockErrorText("SNTP-Network", "select()", EBADF);
  ASSERT_TRUE(console.WaitFor(report));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // One report per back-off pause (100 ms), not thousands.
  EXPECT_LE(console.Count(report), 8);
  EXPECT_GE(console.Count(report), 2);
  const auto asked = std::chrono::steady_clock::now();
  rt.stop.shutdown.Set();  // the wake-up datagram cannot help while waits fail
  loop.join();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
  EXPECT_EQ(console.Count(kStoppedText), 1);
  EXPECT_EQ(instance_releases, 1);
}

TEST_F(ReceiveLoopTest, ArrivalTimeIsPassedToTheClient) {
  AddAdapter("eth0", "10.0.0.1");
  FakeUdpSocket* socket = network.sockets().back();
  rt.config.client_active = 1;
  rt.config.client_broadcast = 1;
  // A broadcast 5 s ahead of the fake clock: the step is exactly 5 s only if T4 is the clock's time.
  const uint64_t ahead = TimestampToUint64(NtpNow(clock)) + 5 * kSecond;
  ReceiveOne(socket, WireBytes(Message(kModeBroadcast, 0, 4, 0, 0, ahead), 68), Endpoint("10.0.0.9", 123), true);
  EXPECT_EQ(clock.steps(), (std::vector<int64_t>{5'000'000'000}));
}

TEST_F(ReceiveLoopTest, BroadcastSentStraightToTheHostIsIgnored) {
  FakeUdpSocket* socket = AddAdapter("eth0", "10.0.0.1");
  rt.config.client_active = 1;
  rt.config.client_broadcast = 1;
  const uint64_t ahead = TimestampToUint64(NtpNow(clock)) + 1000 * kSecond;
  ReceiveOne(socket, WireBytes(Message(kModeBroadcast, 0, 4, 0, 0, ahead)), Endpoint("10.0.0.9", 123));
  EXPECT_TRUE(console.Contains(
      "SNTP-Network: NTP Nachricht: 5 (broadcast) von 10.0.0.9 wird ignoriert, nicht als Broadcast empfangen.\n"));
  EXPECT_FALSE(console.Contains("SNTP-Client:"));
  EXPECT_TRUE(clock.steps().empty());
  EXPECT_EQ(rt.status.Counters().dropped["not_broadcast"], 1u);
}

// The lists and the rate limit as the settings give them: a denied request and a broadcast of
// a sender not listed are dropped; a source over its limit gets one Kiss-o'-Death, then nothing.
TEST_F(ReceiveLoopTest, ListsAndRateLimitDecideWhoIsAnswered) {
  FakeUdpSocket* socket = AddAdapter("eth0", "10.0.0.1");
  rt.config.server_active = rt.config.client_active = rt.config.client_broadcast = 1;
  rt.config.server_deny = "10.0.0.66";
  rt.config.client_broadcast_from = "10.0.0.8";
  rt.config.server_rate_limit = 1;
  rt.protection = ProtectionOf(rt.config);
  const std::vector<uint8_t> request = WireBytes(Message(kModeClient, 0, 4, 0, 0, 42));
  socket->Push(request, Endpoint("10.0.0.66", 123));
  for (int i = 0; i < 10; ++i) socket->Push(request, kPeer);
  socket->PushBroadcast(WireBytes(Message(kModeBroadcast, 0, 4, 0, 0, 42)), Endpoint("10.0.0.9", 123));
  Start();
  Drain();
  std::vector<FakeDatagram> sent = socket->sent();
  std::erase_if(sent, [](const FakeDatagram& d) { return d.bytes.empty(); });
  ASSERT_EQ(sent.size(), 9u);
  EXPECT_EQ(std::vector<uint8_t>(sent[8].bytes.begin(), sent[8].bytes.begin() + 16),
            (std::vector<uint8_t>{0xE4, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'R', 'A', 'T', 'E'}));
  const StatusCounters counters = rt.status.Counters();
  EXPECT_EQ(counters.requests_answered, 8u);
  EXPECT_EQ(counters.kisses_sent, 1u);
  EXPECT_EQ(counters.dropped.at("rate_limited"), 1u);
  EXPECT_EQ(counters.dropped.at("refused_by_list"), 2u);
  EXPECT_EQ(counters.rate_table_used, 1u);
  EXPECT_TRUE(console.Contains(
      "SNTP-Network: NTP Nachricht: 5 (broadcast) von 10.0.0.9 wird ignoriert, Absender nicht zugelassen.\n"));
}

TEST(ModeTextTest, TableOfAllModes) {
  EXPECT_STREQ(ModeText(0), "0 (reserved)");
  EXPECT_STREQ(ModeText(3), "3 (client)");
  EXPECT_STREQ(ModeText(6), "6 (control msg)");
  EXPECT_STREQ(ModeText(7), "7 (private use)");
}

TEST_F(ReceiveLoopTest, EachBroadcastIsTakenOnceWhateverSocketsItArrivedOn) {
  std::vector<FakeUdpSocket*> sockets;
  for (const char* address : {"10.0.0.1", "10.0.0.2", "10.0.0.3"}) sockets.push_back(AddAdapter("eth0", address));
  rt.config.server_active = 1;
  const std::vector<uint8_t> first = WireBytes(Message(kModeClient, 0, 4, 0, 0, 42));
  const std::vector<uint8_t> second = WireBytes(Message(kModeClient, 0, 4, 0, 0, 43));
  for (FakeUdpSocket* socket : sockets) {
    for (const auto* bytes : {&first, &second}) socket->PushBroadcast(*bytes, kPeer);
  }
  sockets[0]->Push(first, kPeer);  // sent to the host itself: no broadcast copy
  Start();
  Drain();
  size_t replies = 0;
  for (FakeUdpSocket* socket : sockets) {
    for (const FakeDatagram& d : socket->sent()) replies += d.bytes.empty() ? 0 : 1;
  }
  // The two broadcasts once each, and the request sent to the host itself.
  EXPECT_EQ(replies, 2u + 1u);
}

}  // namespace
}  // namespace chron::testing
