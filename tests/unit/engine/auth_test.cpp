#include "engine/auth.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/client.h"
#include "engine/receive_loop.h"
#include "engine/server.h"
#include "platform/file.h"
#include "tests/unit/engine/engine_fixture.h"

namespace chron::testing {
namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;
const platform::SocketAddress kPeer = Endpoint("10.0.0.7", 40000);

SymmetricKey Key(uint32_t id, platform::MacAlgorithm algorithm, uint8_t fill) {
  const size_t size = algorithm == platform::MacAlgorithm::kAes128Cmac ? 16 : 20;
  return SymmetricKey{id, algorithm, std::vector<uint8_t>(size, fill), 1};
}

// 68 wire bytes of `message` signed with `key`.
std::vector<uint8_t> Signed(const NtpMessage& message, const SymmetricKey& key) {
  std::vector<uint8_t> bytes = WireBytes(message, kNtpMessageWithAuthSize);
  EXPECT_TRUE(SignMessage(key, bytes.data()));
  return bytes;
}

TEST(MacTest, EveryFlippedBitOfASignedMessageIsRefused) {
  for (const auto algorithm : {platform::MacAlgorithm::kAes128Cmac, platform::MacAlgorithm::kMd5}) {
    Authentication auth;
    auth.required = true;
    auth.keys = {Key(7, algorithm, 0x42)};
    const std::vector<uint8_t> good = Signed(Message(kModeBroadcast, 0, 4, 0, 0, 0xE0000000'00000001), auth.keys[0]);
    const SymmetricKey* key = nullptr;
    ASSERT_EQ(CheckMac(auth, good.data(), good.size(), true, &key), MacVerdict::kValid);
    EXPECT_EQ(key, &auth.keys[0]);
    for (size_t bit = 0; bit < good.size() * 8; ++bit) {
      std::vector<uint8_t> bad = good;
      bad[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
      const MacVerdict expected =
          bit / 8 >= kKeyIdOffset && bit / 8 < kMacOffset ? MacVerdict::kUnknownKey : MacVerdict::kBadMac;
      ASSERT_EQ(CheckMac(auth, bad.data(), bad.size(), true, &key), expected) << "bit " << bit;
      EXPECT_EQ(key, nullptr);
    }
    EXPECT_EQ(CheckMac(auth, good.data(), kNtpMessageSize, true, &key), MacVerdict::kMissing);
  }
}

// The receive loop over datagrams pushed to one adapter, with a key file of two keys (the
// first, 7, is the own key).
class AuthLoopTest : public EngineTest {
 protected:
  AuthLoopTest() {
    socket = AddAdapter("eth0", "10.0.0.1");
    rt.auth.required = true;
    rt.auth.keys = {Key(7, platform::MacAlgorithm::kAes128Cmac, 0x11), Key(9, platform::MacAlgorithm::kMd5, 0x22)};
  }
  ~AuthLoopTest() override { Stop(); }
  void Run(std::vector<std::vector<uint8_t>> datagrams) {
    for (auto& bytes : datagrams) {
      // A broadcast arrives as one.
      if (!bytes.empty() && (bytes[0] & 7) == kModeBroadcast) {
        socket->PushBroadcast(std::move(bytes), kPeer);
      } else {
        socket->Push(std::move(bytes), kPeer);
      }
    }
    loop = std::thread([this] { ReceiveLoop(rt.Receive()); });
    ASSERT_TRUE(rt.stop.start.Wait(5000));
    EXPECT_TRUE(Eventually([this] { return socket->pending() == 0; }));
    Stop();
  }
  void Stop() {
    if (!loop.joinable()) return;
    rt.stop.request_stop();
    loop.join();
  }
  // Replies sent to the peer (the wake-up datagrams go elsewhere).
  std::vector<std::vector<uint8_t>> Replies() const {
    std::vector<std::vector<uint8_t>> replies;
    for (const FakeDatagram& d : socket->sent()) {
      if (SameEndpoint(d.peer, kPeer)) replies.push_back(d.bytes);
    }
    return replies;
  }
  FakeUdpSocket* socket = nullptr;
  std::thread loop;
};

TEST_F(AuthLoopTest, ServerAnswersWithTheRequestsKeyAndIgnoresWhatItCannotVerify) {
  rt.config.server_active = 1;
  const NtpMessage request = Message(kModeClient, 0, 4, 0, 0, 0xE0000000'00000001);
  std::vector<uint8_t> bad_mac = Signed(request, rt.auth.keys[1]);
  bad_mac[60] ^= 0x80;
  std::vector<uint8_t> unknown = Signed(request, Key(8, platform::MacAlgorithm::kMd5, 0x22));
  Run({Signed(request, rt.auth.keys[1]), bad_mac, unknown, WireBytes(request)});

  const auto replies = Replies();
  ASSERT_EQ(replies.size(), 2u);
  const SymmetricKey* key = nullptr;
  ASSERT_EQ(replies[0].size(), kNtpMessageWithAuthSize);
  EXPECT_EQ(CheckMac(rt.auth, replies[0].data(), replies[0].size(), false, &key), MacVerdict::kValid);
  EXPECT_EQ(key, &rt.auth.keys[1]);               // the request's key, not the own one
  EXPECT_EQ(replies[1].size(), kNtpMessageSize);  // an unsigned request gets an unsigned reply
  EXPECT_EQ(console.Count("SNTP-Server: NTP Antwort an 10.0.0.7 verschickt.\n"), 2);
  EXPECT_TRUE(
      console.Contains("SNTP-Server: NTP Anforderung von 10.0.0.7 wird ignoriert, MAC mit Schlüssel 9 ungültig.\n"));
  EXPECT_TRUE(console.Contains("SNTP-Server: NTP Anforderung von 10.0.0.7 wird ignoriert, Schlüssel 8 unbekannt.\n"));
}

TEST_F(AuthLoopTest, ClientTakesOnlyBroadcastsSignedWithItsOwnKey) {
  rt.config.client_active = 1;
  rt.config.client_broadcast = 1;
  const uint64_t ahead = TimestampToUint64(NtpNow(clock)) + 5 * kSecond;
  const NtpMessage broadcast = Message(kModeBroadcast, 0, 4, 0, 0, ahead);
  Run({WireBytes(broadcast), WireBytes(broadcast, kNtpMessageWithAuthSize), Signed(broadcast, rt.auth.keys[1]),
       Signed(broadcast, rt.auth.keys[0])});
  EXPECT_EQ(clock.steps().size(), 1u);  // only the last one
  EXPECT_EQ(console.Count("SNTP-Client: NTP Broadcast von 10.0.0.7 erhalten."), 1);
  EXPECT_TRUE(console.Contains("SNTP-Client: NTP Broadcast von 10.0.0.7 wird ignoriert, ohne Authentifizierung.\n"));
  EXPECT_TRUE(console.Contains("SNTP-Client: NTP Broadcast von 10.0.0.7 wird ignoriert, Schlüssel 0 unbekannt.\n"));
  EXPECT_TRUE(console.Contains("SNTP-Client: NTP Broadcast von 10.0.0.7 wird ignoriert, Schlüssel 9 unbekannt.\n"));
}

TEST_F(AuthLoopTest, WithoutAUsableKeyNothingIsTaken) {
  rt.config.client_active = 1;
  rt.config.client_broadcast = 1;
  const SymmetricKey own = rt.auth.keys[0];
  rt.auth.keys.clear();  // the key file could not be used: authentication stays required
  const NtpMessage broadcast = Message(kModeBroadcast, 0, 4, 0, 0, TimestampToUint64(NtpNow(clock)) + kSecond);
  Run({Signed(broadcast, own), WireBytes(broadcast)});
  EXPECT_TRUE(clock.steps().empty());
  EXPECT_EQ(console.Count("wird ignoriert, kein gültiger Schlüssel.\n"), 2);
}

TEST_F(AuthLoopTest, RequestsAndBroadcastsCarryTheOwnKeyAndAreNotSentWithoutOne) {
  rt.config.client_active = 1;
  rt.config.client_poll_interval = 3600;
  rt.config.client_time_source = "10.0.5.5";
  rt.config.server_active = 1;
  rt.config.server_broadcast = 1;
  rt.config.server_broadcast_interval = 3600;
  for (const bool usable : {true, false}) {
    SCOPED_TRACE(usable);
    if (!usable) rt.auth.keys.clear();
    const size_t before = socket->sent().size();
    rt.stop.shutdown.Reset();
    std::thread poll([this] { ClientPollThread(rt.Client()); });
    std::thread broadcaster([this] { BroadcastThread(rt.Server()); });
    rt.stop.start.Set();
    if (usable) {
      ASSERT_TRUE(socket->WaitForSent(before + 2, std::chrono::seconds(5)));
    } else {
      ASSERT_TRUE(console.WaitFor("nicht verschickt, kein gültiger Schlüssel.\n", 2));
    }
    rt.stop.shutdown.Set();
    poll.join();
    broadcaster.join();
    const std::vector<FakeDatagram> all = socket->sent();
    const std::vector<FakeDatagram> sent(all.begin() + static_cast<long>(before), all.end());
    if (!usable) {
      EXPECT_TRUE(sent.empty());
      EXPECT_TRUE(
          console.Contains("SNTP-Client: NTP Anfrage an 10.0.5.5 nicht verschickt, kein gültiger Schlüssel.\n"));
      EXPECT_TRUE(
          console.Contains("SNTP-Server: NTP Broadcast auf Netzwerkadapter eth0 (10.0.0.1) nicht verschickt, kein "
                           "gültiger Schlüssel.\n"));
      continue;
    }
    ASSERT_EQ(sent.size(), 2u);
    for (const FakeDatagram& d : sent) {
      const SymmetricKey* key = nullptr;
      ASSERT_EQ(d.bytes.size(), kNtpMessageWithAuthSize);
      EXPECT_EQ(CheckMac(rt.auth, d.bytes.data(), d.bytes.size(), true, &key), MacVerdict::kValid);
    }
  }
}

class LoadAuthenticationTest : public EngineTest {
 protected:
  ~LoadAuthenticationTest() override { std::remove(path.c_str()); }
  void Configure(const std::string& key_file) { rt.config.key_file = key_file; }
  void Write(const std::string& text) { std::ofstream(path) << text; }
  std::string path = ::testing::TempDir() + "/chron-auth-keys-" + std::to_string(::getpid());
};

TEST_F(LoadAuthenticationTest, ReportsTheOutcomeAndFailsClosed) {
  rt.auth = LoadAuthentication(rt.config);  // no KeyFile value: nothing at all
  EXPECT_FALSE(rt.auth.required);
  EXPECT_EQ(console.Text(), "");

  Configure(path);
  rt.auth = LoadAuthentication(rt.config);  // the file does not exist
  EXPECT_TRUE(rt.auth.required);
  EXPECT_TRUE(rt.auth.keys.empty());
  EXPECT_TRUE(console.Contains("SNTP-Init: Die Schlüsseldatei " + path + " kann nicht gelesen werden, Grund: "));

  Write("1 AES128 HEX:000102030405060708090a0b0c0d0e0f\n2 SHA1 abc\n");
  rt.auth = LoadAuthentication(rt.config);
  EXPECT_TRUE(rt.auth.required);
  EXPECT_TRUE(rt.auth.keys.empty());
  EXPECT_TRUE(
      console.Contains("SNTP-Init: Die Schlüsseldatei " + path + " ist in Zeile 2 fehlerhaft: Schlüsseltyp SHA1"));

  Write("# ours\n5 MD5 secret\n1 AES128 HEX:000102030405060708090a0b0c0d0e0f\n");
  rt.auth = LoadAuthentication(rt.config);
  ASSERT_EQ(rt.auth.keys.size(), 2u);
  EXPECT_EQ(rt.auth.Own()->id, 5u);
  EXPECT_TRUE(
      console.Contains("SNTP-Init: NTP Nachrichten werden mit Schlüssel 5 (MD5) aus " + path + " authentifiziert.\n"));
}

TEST_F(LoadAuthenticationTest, AKeyFileOthersMayReadIsTakenWithAWarning) {
  Configure(path);
  Write("1 MD5 secret\n");
  platform::FileFacts facts;
  std::string text;
  ASSERT_EQ(platform::ReadRegularFile(path, 100, &text, &facts), std::error_code());
  if (facts.mode.empty()) GTEST_SKIP() << "this system's files carry no permission bits";
  const std::string warning = "Die Schlüsseldatei " + path + " ist auch für andere Benutzer zugänglich";
  for (const auto permissions :
       {std::filesystem::perms::owner_read | std::filesystem::perms::others_read, std::filesystem::perms::owner_read}) {
    std::filesystem::permissions(path, permissions);
    rt.auth = LoadAuthentication(rt.config);
    EXPECT_EQ(rt.auth.keys.size(), 1u);
  }
  EXPECT_EQ(console.Count(warning + " (Zugriffsrechte 0404)."), 1);
  EXPECT_EQ(console.Count(warning), 1);
}

}  // namespace
}  // namespace chron::testing
