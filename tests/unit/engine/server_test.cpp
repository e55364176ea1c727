#include "engine/server.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "tests/unit/engine/engine_fixture.h"

namespace chron::testing {
namespace {

// A clock that moves on by one millisecond after every reading.
class TickingClock : public platform::Clock {
 public:
  explicit TickingClock(int64_t now) : now_(now) {}
  int64_t NowNanoseconds() override { return now_.fetch_add(1'000'000); }
  int64_t ResolutionNanoseconds() const override { return 1; }
  int64_t FromSystemTime(int64_t system_ns) const override { return system_ns; }
  std::error_code StepBy(int64_t) override { return {}; }

 private:
  std::atomic<int64_t> now_;
};

class ServerReplyTest : public EngineTest {
 protected:
  ServerReplyTest() { socket = AddAdapter("eth0", "10.0.0.1"); }

  // Answers `request` as arriving now from 10.0.0.7:40000; returns the one datagram sent.
  FakeDatagram Answer(const NtpMessage& request) {
    const NtpTimestamp arrival = NtpNow(*rt.clock);
    arrival_ = TimestampToUint64(arrival);
    ServerReply(rt.Server(), loop_state, *rt.sockets.adapters[0].socket, request, arrival, client);
    const std::vector<FakeDatagram> sent = socket->sent();
    EXPECT_EQ(sent.size(), 1u);
    return sent.empty() ? FakeDatagram{} : sent.back();
  }

  FakeUdpSocket* socket = nullptr;
  ReceiveState loop_state;  // the receive loop's, not collecting: each reply goes out at once
  platform::SocketAddress client = Endpoint("10.0.0.7", 40000);
  uint64_t arrival_ = 0;
};

TEST_F(ServerReplyTest, ReplyFieldsAreExact) {
  NtpMessage request = Message(kModeClient, 3, 4, 0, 0, 0x1234567890ABCDEF);
  SetPoll(&request, 10);
  SetStratum(&request, 9);
  const FakeDatagram reply = Answer(request);

  EXPECT_TRUE(SameEndpoint(reply.peer, client));
  ASSERT_EQ(reply.bytes.size(), 48u);
  const std::vector<uint8_t> head(reply.bytes.begin(), reply.bytes.begin() + 16);
  EXPECT_EQ(head, (std::vector<uint8_t>{0x24, 0x01, 0x0A, 0xFE, 0, 0, 0, 0, 0, 0, 0, 0, 'L', 'O', 'C', 'L'}));
  EXPECT_EQ(ReadWord64(reply.bytes, 24), 0x1234567890ABCDEFu);  // originate = request's transmit
  EXPECT_EQ(ReadWord64(reply.bytes, 32), arrival_);             // receive = arrival
  // The fake clock stands still: reference and transmit are the current time.
  EXPECT_EQ(ReadWord64(reply.bytes, 16), TimestampToUint64(NtpNow(clock)));
  EXPECT_EQ(ReadWord64(reply.bytes, 40), TimestampToUint64(NtpNow(clock)));
  EXPECT_TRUE(console.Contains("SNTP-Server: NTP Anforderung von 10.0.0.7 empfangen.\n"));
  EXPECT_TRUE(console.Contains("SNTP-Server: NTP Antwort an 10.0.0.7 verschickt.\n"));
}

TEST_F(ServerReplyTest, VersionAndPollAreEchoedWhateverTheyAre) {
  NtpMessage request = Message(kModeClient, 0, 3, 0, 0, 5);
  SetPoll(&request, 0x11);
  const FakeDatagram v3 = Answer(request);
  ASSERT_EQ(v3.bytes.size(), 48u);
  EXPECT_EQ(v3.bytes[0], 0x1C);  // LI 0, VN 3, Mode 4
  EXPECT_EQ(v3.bytes[2], 0x11);
  EXPECT_EQ(v3.bytes[3], 0xFE);
}

TEST_F(ServerReplyTest, ZeroTransmitGivesZeroOriginate) {
  NtpMessage request = Message(kModeClient, 0, 4, 0x1111, 0x2222, 0);
  const FakeDatagram reply = Answer(request);
  EXPECT_EQ(ReadWord64(reply.bytes, 24), 0u);
}

TEST_F(ServerReplyTest, ReceiveReferenceTransmitAreInOrder) {
  TickingClock ticking(kBaseTimeNs);
  rt.clock = &ticking;
  const FakeDatagram reply = Answer(Message(kModeClient, 0, 4, 0, 0, 77));
  const uint64_t receive = ReadWord64(reply.bytes, 32);
  const uint64_t reference = ReadWord64(reply.bytes, 16);
  const uint64_t transmit = ReadWord64(reply.bytes, 40);
  // Each reading is one millisecond later: reference is read after the arrival, transmit last.
  EXPECT_LT(receive, reference);
  EXPECT_LT(reference, transmit);
  EXPECT_EQ(receive, arrival_);
}

TEST_F(ServerReplyTest, SendFailureIsReportedAndNotTracedAsSent) {
  socket->FailSendWith(ENETUNREACH);
  ServerReply(rt.Server(), loop_state, *rt.sockets.adapters[0].socket, Message(kModeClient), NtpNow(clock), client);
  EXPECT_TRUE(socket->sent().empty());
  EXPECT_TRUE(console.Contains(WinsockErrorText("SNTP-Server", "sendto", ENETUNREACH)));
  EXPECT_FALSE(console.Contains("verschickt"));
}

class BroadcastThreadTest : public EngineTest {
 protected:
  BroadcastThreadTest() {
    rt.config.server_active = 1;
    rt.config.server_broadcast = 1;
    rt.config.server_broadcast_interval = 3600;
  }
  ~BroadcastThreadTest() override {
    rt.stop.shutdown.Set();
    if (worker.joinable()) worker.join();
  }
  void Start() {
    worker = std::thread([this] { BroadcastThread(rt.Server()); });
    rt.stop.start.Set();
  }
  std::thread worker;
};

TEST_F(BroadcastThreadTest, OneBroadcastPerInUseAdapterWithExactBytes) {
  FakeUdpSocket* a = AddAdapter("eth0", "10.0.0.1");
  FakeUdpSocket* b = AddAdapter("eth1", "10.0.1.1");
  FakeUdpSocket* idle = AddAdapter("eth2", "10.0.2.1", false);
  FakeUdpSocket* c = AddAdapter("eth3", "10.0.3.1");
  Start();
  ASSERT_TRUE(a->WaitForSent(1, std::chrono::seconds(5)));
  ASSERT_TRUE(b->WaitForSent(1, std::chrono::seconds(5)));
  ASSERT_TRUE(c->WaitForSent(1, std::chrono::seconds(5)));
  ASSERT_TRUE(console.WaitFor("(10.0.3.1) verschickt.\n"));

  for (FakeUdpSocket* s : {a, b, c}) {
    const std::vector<FakeDatagram> sent = s->sent();
    ASSERT_EQ(sent.size(), 1u);
    const std::vector<uint8_t>& bytes = sent[0].bytes;
    ASSERT_EQ(bytes.size(), 48u);
    EXPECT_TRUE(SameEndpoint(sent[0].peer, Endpoint("255.255.255.255", 123)));
    const std::vector<uint8_t> head(bytes.begin(), bytes.begin() + 16);
    EXPECT_EQ(head, (std::vector<uint8_t>{0x25, 0x01, 0x06, 0xF9, 0, 0, 0, 0, 0, 0, 0, 1, 'L', 'O', 'C', 'L'}));
    EXPECT_EQ(ReadWord64(bytes, 16), TimestampToUint64(NtpNow(clock)));
    EXPECT_EQ(ReadWord64(bytes, 24), 0u);
    EXPECT_EQ(ReadWord64(bytes, 32), 0u);
    EXPECT_EQ(ReadWord64(bytes, 40), TimestampToUint64(NtpNow(clock)));
  }
  EXPECT_TRUE(idle->sent().empty());
  const std::string text = console.Text();
  const size_t first = text.find("SNTP-Server: NTP Broadcast auf Netzwerkadapter eth0 (10.0.0.1) verschickt.\n");
  const size_t second = text.find("SNTP-Server: NTP Broadcast auf Netzwerkadapter eth1 (10.0.1.1) verschickt.\n");
  const size_t third = text.find("SNTP-Server: NTP Broadcast auf Netzwerkadapter eth3 (10.0.3.1) verschickt.\n");
  EXPECT_NE(first, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  EXPECT_FALSE(console.Contains("eth2"));
}

TEST_F(BroadcastThreadTest, StopDuringTheWaitEndsAtOnce) {
  FakeUdpSocket* a = AddAdapter("eth0", "10.0.0.1");
  Start();
  ASSERT_TRUE(a->WaitForSent(1, std::chrono::seconds(5)));
  EXPECT_FALSE(console.Contains(kBroadcastStoppedText));
  const auto asked = std::chrono::steady_clock::now();
  rt.stop.shutdown.Set();
  worker.join();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
  EXPECT_EQ(console.Count(kBroadcastStoppedText), 1);
  EXPECT_EQ(a->sent().size(), 1u);
}

TEST_F(BroadcastThreadTest, NothingIsSentBeforeTheStartEvent) {
  FakeUdpSocket* a = AddAdapter("eth0", "10.0.0.1");
  worker = std::thread([this] { BroadcastThread(rt.Server()); });
  EXPECT_FALSE(a->WaitForSent(1, std::chrono::milliseconds(200)));
  rt.stop.start.Set();
  EXPECT_TRUE(a->WaitForSent(1, std::chrono::seconds(5)));
}

TEST_F(BroadcastThreadTest, PassesRepeatAfterTheInterval) {
  rt.config.server_broadcast_interval = 1;
  FakeUdpSocket* a = AddAdapter("eth0", "10.0.0.1");
  Start();
  ASSERT_TRUE(a->WaitForSent(1, std::chrono::seconds(5)));
  const auto first = std::chrono::steady_clock::now();
  ASSERT_TRUE(a->WaitForSent(2, std::chrono::seconds(5)));
  EXPECT_GE(std::chrono::steady_clock::now() - first, std::chrono::milliseconds(500));
}

TEST_F(BroadcastThreadTest, FailedSendSkipsOnlyThatAdapterAndDoesNotSpin) {
  rt.config.server_broadcast_interval = 1;
  FakeUdpSocket* a = AddAdapter("eth0", "10.0.0.1");
  FakeUdpSocket* b = AddAdapter("eth1", "10.0.1.1");
  a->FailSendWith(ENOBUFS);
  Start();
  ASSERT_TRUE(b->WaitForSent(1, std::chrono::seconds(5)));
  ASSERT_TRUE(console.WaitFor(WinsockErrorText("SNTP-Server", "sendto", ENOBUFS)));
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  // One pass so far: the failure waits for the interval like any pass.
  EXPECT_EQ(console.Count(WinsockErrorText("SNTP-Server", "sendto", ENOBUFS)), 1);
  EXPECT_TRUE(a->sent().empty());
  EXPECT_TRUE(console.Contains("eth1 (10.0.1.1) verschickt"));
  EXPECT_FALSE(console.Contains("eth0 (10.0.0.1) verschickt"));
}

}  // namespace
}  // namespace chron::testing
