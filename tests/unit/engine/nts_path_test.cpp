// NTP with NTS through the engine: the poll client against the server of the same runtime (the
// request goes to the host's own address), with a fake NTS-KE and a cookie key ring made here.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine/auth.h"
#include "engine/client.h"
#include "engine/nts_client.h"
#include "engine/nts_fields.h"
#include "engine/receive_loop.h"
#include "engine/receive_state.h"
#include "tests/unit/engine/engine_fixture.h"

namespace chron::testing {
namespace {

class FakeKeyEstablishment : public nts::NtsKeyEstablishment {
 public:
  nts::NtsKeOutcome Establish(const std::string& host, uint16_t port) override {
    ++calls;
    EXPECT_EQ(host, "zeitgeber");
    EXPECT_EQ(port, kNtsKePort);
    return outcome;
  }
  nts::NtsKeOutcome outcome;
  std::atomic<int> calls{0};
};

class NtsPathTest : public EngineTest {
 protected:
  NtsPathTest() {
    rt.config.client_active = 1;
    rt.config.client_nts = 1;
    rt.config.client_poll_interval = 3600;
    rt.config.client_time_source = "zeitgeber";
    rt.config.server_active = 1;
    socket = AddAdapter("eth0", "10.0.0.1");
    ring.Rotate(*nts::NewServerKey(ring, 0));
    keys.Set(ring);
    rt.nts_keys = &keys;
    rt.nts_ke = &ke;
    rt.status.SetListener([this] { ++events; });
    ke.outcome.session = Session(ring, 2, "10.0.0.1");
  }
  ~NtsPathTest() override { rt.status.SetListener(nullptr); }

  // A session with `cookies` cookies sealed by the current key of `sealer`, NTP at `server`.
  static nts::NtsSession Session(const nts::ServerKeyRing& sealer, size_t cookies, const char* server) {
    nts::NtsSession session;
    for (size_t i = 0; i < nts::kSessionKeySize; ++i) {
      session.keys.c2s[i] = static_cast<uint8_t>(i);
      session.keys.s2c[i] = static_cast<uint8_t>(0x80 + i);
    }
    for (size_t i = 0; i < cookies; ++i) session.cookies.push_back(*nts::SealCookie(*sealer.current, session.keys));
    session.ntp_server = server;
    return session;
  }

  // One cycle of the poll thread: it ends when the client has sent its request or given up
  // (each ends with a status event after the one of the thread's start).
  void Poll() {
    const int before = events;
    rt.stop.shutdown.Reset();
    std::thread worker([this] { ClientPollThread(rt.Client()); });
    rt.stop.start.Set();
    EXPECT_TRUE(Eventually([&] { return events >= before + 2; }));
    rt.stop.shutdown.Set();
    worker.join();
    clock.Advance(1'000'000);  // the reply comes a millisecond later
  }
  // The receive loop's handling of the next datagram queued on the adapter's socket.
  void Receive() { chron::ReceiveOne(rt.Receive(), state, *rt.sockets.adapters[0].socket); }
  size_t Cookies() {
    std::lock_guard lock(rt.client.nts.mutex);
    return rt.client.nts.session ? rt.client.nts.session->cookies.size() : 0;
  }

  FakeUdpSocket* socket = nullptr;
  nts::ServerKeyRing ring;
  nts::NtsServerKeys keys;
  FakeKeyEstablishment ke;
  ReceiveState state;
  std::atomic<int> events{0};
};

TEST_F(NtsPathTest, RequestIsAnsweredWithNtsAndTheReplyTakenWithItsCookies) {
  Poll();
  Receive();  // the request, answered to the host itself
  Receive();  // the reply
  const std::vector<FakeDatagram> sent = socket->sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_GT(sent[0].bytes.size(), kNtpMessageWithAuthSize);
  EXPECT_GT(sent[1].bytes.size(), kNtpMessageWithAuthSize);
  const StatusCounters counters = rt.status.Counters();
  EXPECT_EQ(counters.nts_requests_answered, 1u);
  EXPECT_EQ(counters.samples_taken, 1u);
  // Two cookies, one spent: the reply brings seven back.
  EXPECT_EQ(Cookies(), kNtsCookiesKept);
  ClientState client;
  std::vector<HistoryEntry> history;
  rt.status.Client(&client, &history);
  ASSERT_TRUE(client.nts.has_value());
  EXPECT_TRUE(client.nts->authenticated);
  EXPECT_EQ(client.nts->cookies, kNtsCookiesKept);
}

// With a key file the poll client still uses NTS; the server still signs its reply to a
// signed request.
TEST_F(NtsPathTest, KeyFileBesideNtsSignsOnlyTheServersReplies) {
  rt.auth.required = true;
  rt.auth.keys = {SymmetricKey{7, platform::MacAlgorithm::kAes128Cmac, std::vector<uint8_t>(16, 1), 1}};
  Poll();
  Receive();
  Receive();
  EXPECT_EQ(rt.status.Counters().samples_taken, 1u);
  std::vector<uint8_t> signed_request = WireBytes(Message(kModeClient, 0, 4, 0, 0, 42), kNtpMessageWithAuthSize);
  ASSERT_TRUE(SignMessage(rt.auth.keys[0], signed_request.data()));
  socket->Push(signed_request, Endpoint("10.0.0.7", 40000));
  Receive();
  const std::vector<FakeDatagram> sent = socket->sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_GT(sent[0].bytes.size(), kNtpMessageWithAuthSize);
  EXPECT_EQ(sent[2].bytes.size(), kNtpMessageWithAuthSize);
}

TEST_F(NtsPathTest, ForgedOrPlainRepliesAreRefusedAndCounted) {
  ke.outcome.session.ntp_server = "10.0.0.9";
  Poll();
  nts::UniqueId uid;
  {
    std::lock_guard lock(rt.client.nts.mutex);
    ASSERT_TRUE(rt.client.nts.pending_uid.has_value());
    uid = *rt.client.nts.pending_uid;
  }
  const uint64_t t1 = rt.client.pending_request.transmit();
  const std::vector<uint8_t> header = WireBytes(Message(kModeServer, 0, 4, t1, t1, t1));
  const auto reply = [&](const nts::UniqueId& id) {
    return *nts::BuildNtsReply(header, id, ke.outcome.session.keys, {ke.outcome.session.cookies.front()});
  };
  nts::UniqueId other = uid;
  other[0] ^= 1;
  std::vector<uint8_t> broken = reply(uid);
  broken.back() ^= 1;
  for (const std::vector<uint8_t>& forged : {reply(other), broken, header}) {
    socket->Push(forged, Endpoint("10.0.0.9", 123));
    Receive();
  }
  EXPECT_EQ(rt.status.Counters().dropped["nts_not_authentic"], 3u);
  EXPECT_EQ(rt.status.Counters().samples_taken, 0u);
  socket->Push(reply(uid), Endpoint("10.0.0.9", 123));
  Receive();
  EXPECT_EQ(rt.status.Counters().samples_taken, 1u);
}

TEST_F(NtsPathTest, CookieOfAnUnknownKeyGetsTheNakAndTheNextPollEstablishesAgain) {
  nts::ServerKeyRing stranger;
  stranger.Rotate(*nts::NewServerKey(stranger, 0));
  ke.outcome.session = Session(stranger, 2, "10.0.0.1");
  Poll();
  Receive();  // the request: the NAK
  const std::vector<FakeDatagram> sent = socket->sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].bytes[1], 0);  // stratum 0
  EXPECT_EQ(std::string(sent[1].bytes.begin() + 12, sent[1].bytes.begin() + 16), "NTSN");
  EXPECT_EQ(rt.status.Counters().nts_requests_refused, 1u);
  Receive();  // the NAK ends the session, with a cookie still left
  EXPECT_EQ(Cookies(), 0u);
  EXPECT_EQ(rt.status.Counters().samples_taken, 0u);
  Poll();
  EXPECT_EQ(ke.calls, 2);
}

TEST_F(NtsPathTest, FailedKeyEstablishmentIsReportedOnceAndNoRequestSent) {
  using F = nts::NtsKeFailure;
  const struct {
    F failure;
    const char* detail;
    const char* report;
  } cases[] = {
      {F::kConnect, "Connection refused",
       "Keine Verbindung zum NTS-KE Server zeitgeber (Port 4460), Grund: Connection refused."},
      {F::kCertificate, "certificate has expired",
       "Das Zertifikat des NTS-KE Servers zeitgeber wird nicht anerkannt, Grund: certificate has expired."},
      {F::kName, "", "Das Zertifikat des NTS-KE Servers zeitgeber ist nicht auf diesen Namen ausgestellt."},
      {F::kAlgorithmRefused, "", "Der NTS-KE Server zeitgeber unterstützt AEAD_AES_SIV_CMAC_256 nicht."},
      {F::kNone, "", "Die Antwort des NTS-KE Servers zeitgeber ist ungültig: sie enthält keine Cookies."},
  };
  rt.client.reports.window = std::chrono::seconds(0);  // once because it repeats, not by the limit's window
  for (const auto& c : cases) {
    ke.outcome = {c.failure, c.detail, {}};
    console.Clear();
    Poll();
    Poll();
    EXPECT_EQ(console.Count(c.report), 1) << c.report;
  }
  EXPECT_TRUE(socket->sent().empty());
  EXPECT_EQ(rt.status.Counters().samples_taken, 0u);
}

// At start: a broadcast client with NTS takes no broadcasts and says so; NTS values a build
// without TLS cannot use are named.
TEST_F(NtsPathTest, StartReportsWhatNtsCannotDo) {
  const char* broadcasts = "NTP Broadcasts können nicht mit NTS authentifiziert werden.";
  const char* unavailable = "Die NTS Werte in der Registry (Client\\NTS, NtsServerKey) werden nicht verwendet";
  const struct {
    uint32_t broadcast;
    bool tls;
    int broadcasts, unavailable;
  } cases[] = {{1, true, 1, 0}, {0, false, 0, 1}, {0, true, 0, 0}};
  rt.config.nts_server_key = "/etc/chron/key.pem";
  for (const auto& c : cases) {
    rt.config.client_broadcast = c.broadcast;
    console.Clear();
    ReportNtsSettings(rt.config, c.tls);
    EXPECT_EQ(console.Count(broadcasts), c.broadcasts);
    EXPECT_EQ(console.Count(unavailable), c.unavailable);
    EXPECT_FALSE(rt.roles().client_accepts_broadcasts);
  }
}

}  // namespace
}  // namespace chron::testing
