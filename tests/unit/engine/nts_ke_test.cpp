// NTS-KE between the TLS client and server of this system over loopback, with the certificates
// tests/testutil/make_test_pki.sh makes, and the server keys' file.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "engine/nts_ke_client.h"
#include "engine/nts_ke_server.h"
#include "engine/nts_key_store.h"
#include "platform/tls.h"
#include "tests/testutil/report_capture.h"

namespace chron::nts {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class NtsKeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/chron-nts-ke-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    const fs::path script = fs::path(__FILE__).parent_path() / "../../testutil/make_test_pki.sh";
    ASSERT_EQ(std::system((script.string() + " " + dir_ + " localhost").c_str()), 0);
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }
  static std::string Pki(const std::string& name) { return dir_ + "/" + name; }
  static inline std::string dir_;
};

// A server on an ephemeral loopback port, on a thread of its own while the object lives.
struct RunningServer {
  explicit RunningServer(const std::string& certificate, size_t max_connections = kMaxKeConnections,
                         int64_t deadline_ms = kKeConnectionDeadlineMs) {
    NtsKeServerOptions options;
    options.certificate_path = certificate + ".pem";
    options.key_path = certificate + ".key";
    options.key_store_path = certificate + "-keys";
    options.port = 0;
    options.max_connections = max_connections;
    options.deadline_ms = deadline_ms;
    EXPECT_TRUE(server.Open(options));
    thread = std::thread([this] { server.Run(stop); });
  }
  ~RunningServer() { Stop(); }
  // Stops the server (it must take less than a second); the sessions it served.
  int Stop() {
    if (thread.joinable()) {
      const auto asked = Clock::now();
      stop.Set();
      thread.join();
      EXPECT_LT(Clock::now() - asked, std::chrono::seconds(1));
    }
    return served.load();
  }
  NtsServerKeys keys;
  std::unique_ptr<platform::Clock> clock = platform::MakeRealClock();
  std::atomic<int> served{0};
  NtsKeServer server{keys, *clock, [this] { ++served; }};
  platform::Event stop;
  std::thread thread;
};

// A plain TCP connection to the server that sends nothing; true when the server closes it
// within `within`.
struct SilentPeer {
  explicit SilentPeer(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  ~SilentPeer() { ::close(fd); }
  bool ClosedWithin(std::chrono::milliseconds within) const {
    const timeval timeout{within.count() / 1000, static_cast<suseconds_t>(within.count() % 1000 * 1000)};
    EXPECT_EQ(::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout), 0);
    char byte = 0;
    return ::recv(fd, &byte, 1, 0) == 0;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
};

TEST_F(NtsKeTest, SessionKeysAgreeAndTheCookiesOpenToThem) {
  RunningServer running(Pki("server"));
  const NtsKeOutcome outcome = TlsNtsKeyEstablishment(Pki("ca.pem")).Establish("localhost", running.server.port());
  ASSERT_EQ(outcome.failure, NtsKeFailure::kNone) << outcome.detail;
  EXPECT_EQ(outcome.session.ntp_server, "localhost");
  EXPECT_EQ(outcome.session.ntp_port, 123);
  ASSERT_EQ(outcome.session.cookies.size(), kCookiesPerSession);
  EXPECT_NE(outcome.session.keys.c2s, outcome.session.keys.s2c);
  for (const auto& cookie : outcome.session.cookies) {
    const auto opened = running.keys.With([&](const ServerKeyRing& ring) { return OpenCookie(ring, cookie); });
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->c2s, outcome.session.keys.c2s);
    EXPECT_EQ(opened->s2c, outcome.session.keys.s2c);
  }
  EXPECT_EQ(running.Stop(), 1);
}

TEST_F(NtsKeTest, CertificateFailuresAreToldApart) {
  const struct {
    const char* certificate;
    const char* trusted;
    NtsKeFailure failure;
  } cases[] = {
      {"other", "ca.pem", NtsKeFailure::kName},
      {"server", "untrusted-ca.pem", NtsKeFailure::kCertificate},
      {"expired", "ca.pem", NtsKeFailure::kCertificate},
  };
  for (const auto& c : cases) {
    RunningServer running(Pki(c.certificate));
    const NtsKeOutcome outcome = TlsNtsKeyEstablishment(Pki(c.trusted)).Establish("localhost", running.server.port());
    EXPECT_EQ(outcome.failure, c.failure) << c.certificate << " " << outcome.detail;
    EXPECT_FALSE(outcome.detail.empty());
  }
}

TEST_F(NtsKeTest, ClientsWithoutNtsKeAlpnOrTls13AreRefused) {
  RunningServer running(Pki("server"));
  for (const char* alpn : {"", "http/1.1"}) {
    platform::TlsClientConnection tls;
    std::string detail;
    std::vector<uint8_t> response;
    if (tls.Connect("localhost", running.server.port(), alpn, Pki("ca.pem"), 3000, &detail) ==
        platform::TlsFailure::kNone) {
      tls.Write(BuildKeRequest(), &detail);
      tls.Read(&response, kMaxKeMessageSize, &detail);
    }
    EXPECT_TRUE(response.empty()) << "ALPN '" << alpn << "'";
  }
  const std::string tls12 =
      "openssl s_client -tls1_2 -alpn ntske/1 -connect localhost:" + std::to_string(running.server.port()) +
      " </dev/null >/dev/null 2>&1";
  EXPECT_NE(std::system(tls12.c_str()), 0);
  EXPECT_EQ(running.Stop(), 0);
}

TEST_F(NtsKeTest, RequestsNotAcceptedGetErrorOrRefusal) {
  RunningServer running(Pki("server"));
  std::vector<uint8_t> trailing = BuildKeRequest();
  trailing.push_back(0);
  std::vector<uint8_t> unknown_critical;
  AppendKeRecord(true, 0x4000, {}, &unknown_critical);
  AppendKeRecord(true, kEndOfMessage, {}, &unknown_critical);
  std::vector<uint8_t> other_protocol;
  const uint8_t protocol[] = {0x80, 0x00};
  const uint8_t aead[] = {0, kAeadAesSivCmac256};
  AppendKeRecord(true, kNextProtocol, protocol, &other_protocol);
  AppendKeRecord(true, kAeadAlgorithm, aead, &other_protocol);
  AppendKeRecord(true, kEndOfMessage, {}, &other_protocol);
  const struct {
    std::vector<uint8_t> request;
    std::vector<uint8_t> response;
  } cases[] = {
      {trailing, BuildKeError(kBadRequest)},
      {unknown_critical, BuildKeError(kUnrecognizedCritical)},
      {other_protocol, BuildKeRefusal()},
  };
  for (const auto& c : cases) {
    platform::TlsClientConnection tls;
    std::string detail;
    ASSERT_EQ(tls.Connect("localhost", running.server.port(), kAlpn, Pki("ca.pem"), 3000, &detail),
              platform::TlsFailure::kNone);
    ASSERT_EQ(tls.Write(c.request, &detail), platform::TlsFailure::kNone);
    std::vector<uint8_t> response;
    while (response.size() < c.response.size() &&
           tls.Read(&response, kMaxKeMessageSize, &detail) == platform::TlsFailure::kNone) {
    }
    EXPECT_EQ(response, c.response);
  }
  EXPECT_EQ(running.Stop(), 0);
}

TEST_F(NtsKeTest, SilentConnectionEndsAtItsDeadlineAndTheServerGoesOn) {
  RunningServer running(Pki("server"), kMaxKeConnections, 300);
  SilentPeer silent(running.server.port());
  const auto start = Clock::now();
  EXPECT_TRUE(silent.ClosedWithin(std::chrono::milliseconds(2000)));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));
  const NtsKeOutcome outcome = TlsNtsKeyEstablishment(Pki("ca.pem")).Establish("localhost", running.server.port());
  EXPECT_EQ(outcome.failure, NtsKeFailure::kNone) << outcome.detail;
}

TEST_F(NtsKeTest, ConnectionBeyondTheBoundIsClosedAtOnce) {
  RunningServer running(Pki("server"), 2);
  auto first = std::make_unique<SilentPeer>(running.server.port());
  auto second = std::make_unique<SilentPeer>(running.server.port());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // both taken before the third
  SilentPeer third(running.server.port());
  EXPECT_TRUE(third.ClosedWithin(std::chrono::milliseconds(1000)));
  EXPECT_FALSE(first->ClosedWithin(std::chrono::milliseconds(10)));
  first.reset();
  second.reset();
  const NtsKeOutcome outcome = TlsNtsKeyEstablishment(Pki("ca.pem")).Establish("localhost", running.server.port());
  EXPECT_EQ(outcome.failure, NtsKeFailure::kNone) << outcome.detail;
}

TEST_F(NtsKeTest, ServerThatCannotRunSaysWhy) {
  RunningServer running(Pki("server"));  // holds its port
  const struct {
    std::string certificate;
    uint16_t port;
    std::string report;
  } cases[] = {
      {Pki("missing"), 0, "Das Zertifikat " + Pki("missing.pem") + " oder der Schlüssel " + Pki("missing.key")},
      {Pki("server"), running.server.port(), "Der NTS-KE Server kann den TCP Port"},
  };
  for (const auto& c : cases) {
    testing::ReportCapture capture(ReportTarget::kEventLog);
    NtsServerKeys keys;
    NtsKeServer server(keys, *running.clock, [] {});
    NtsKeServerOptions options;
    options.certificate_path = c.certificate + ".pem";
    options.key_path = c.certificate + ".key";
    options.key_store_path = Pki("unused-keys");
    options.port = c.port;
    EXPECT_FALSE(server.Open(options));
    ASSERT_EQ(capture.events().size(), 1u);
    EXPECT_NE(capture.events()[0].text.find(c.report), std::string::npos) << capture.events()[0].text;
  }
}

TEST_F(NtsKeTest, KeyFileSurvivesRestartAndRotates) {
  const std::string path = Pki("rotating-keys");
  const int64_t start = 1'800'000'000;
  const ServerKeyRing first = LoadServerKeys(path, start);
  ASSERT_TRUE(first.current);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  NtsServerKeys keys;
  keys.Set(LoadServerKeys(path, start + 60));  // a restart: the same key
  EXPECT_EQ(keys.With([](const ServerKeyRing& ring) { return ring.current->secret; }), first.current->secret);
  EXPECT_FALSE(RotateServerKeysIfDue(path, start + kServerKeyRotationSeconds - 1, &keys));
  EXPECT_TRUE(RotateServerKeysIfDue(path, start + kServerKeyRotationSeconds, &keys));
  const ServerKeyRing reloaded = LoadServerKeys(path, start + kServerKeyRotationSeconds + 1);
  ASSERT_TRUE(reloaded.previous);
  EXPECT_EQ(reloaded.previous->secret, first.current->secret);
  EXPECT_EQ(reloaded.current->secret, keys.With([](const ServerKeyRing& ring) { return ring.current->secret; }));
}

TEST_F(NtsKeTest, BrokenKeyFileIsReportedAndReplaced) {
  for (const char* content : {"", "0000000x 1 00\n"}) {
    const std::string path = Pki("broken-keys");
    std::ofstream(path) << content;
    testing::ReportCapture capture(ReportTarget::kEventLog);
    const ServerKeyRing ring = LoadServerKeys(path, 1'800'000'000);
    ASSERT_TRUE(ring.current);
    ASSERT_EQ(capture.events().size(), 1u);
    EXPECT_NE(capture.events()[0].text.find("Die Schlüsseldatei " + path + " des NTS Servers ist fehlerhaft"),
              std::string::npos);
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto parsed = ParseServerKeys(text);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->current->secret, ring.current->secret);
  }
}

}  // namespace
}  // namespace chron::nts
