// The network facility over real sockets. As root the socket tests run in a network namespace
// of this test process (port 123, loopback only, gone when the process ends); otherwise on the
// host's loopback with a random high port.
#include "platform/network.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netdb.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <thread>

#include "platform/clock.h"

namespace chron::platform {
namespace {

using namespace std::chrono_literals;

// --- text and byte order -------------------------------------------------------------------------

uint32_t Bytes(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return HostToNetwork32(static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(b) << 16 |
                         static_cast<uint32_t>(c) << 8 | d);
}

TEST(DottedAddressTest, ByteOrderMatchesTheSystem) {
  EXPECT_EQ(HostToNetwork16(0x1234), htons(0x1234));
  EXPECT_EQ(HostToNetwork32(0x12345678u), htonl(0x12345678u));
  EXPECT_EQ(NetworkToHost32(HostToNetwork32(0xC0A80001u)), 0xC0A80001u);
}

TEST(DottedAddressTest, ParsesEveryFormInetAddrAccepts) {
  EXPECT_EQ(ParseDottedAddress("192.168.1.2"), Bytes(192, 168, 1, 2));
  EXPECT_EQ(ParseDottedAddress("0.0.0.0"), 0u);
  EXPECT_EQ(ParseDottedAddress("010.0.0.1"), Bytes(8, 0, 0, 1));       // octal
  EXPECT_EQ(ParseDottedAddress("0x7f.0.0.0X1"), Bytes(127, 0, 0, 1));  // hexadecimal
  EXPECT_EQ(ParseDottedAddress("1.2.772"), Bytes(1, 2, 3, 4));         // last part fills 16 bits
  EXPECT_EQ(ParseDottedAddress("10.65536"), Bytes(10, 1, 0, 0));       // last part fills 24 bits
  EXPECT_EQ(ParseDottedAddress("3232235777"), Bytes(192, 168, 1, 1));  // one 32-bit number
  EXPECT_EQ(ParseDottedAddress("1.2.3.4 trailing words"), Bytes(1, 2, 3, 4));
  EXPECT_EQ(ParseDottedAddress("1.2.3.4\n"), Bytes(1, 2, 3, 4));
}

TEST(DottedAddressTest, RejectsWhatInetAddrRejects) {
  for (const char* text : {"",
                           " 1.2.3.4",
                           "1.2.3.256",
                           "1.2.3.4.5",
                           "1.2.3.4.",
                           "1..2.3",
                           "a.b.c.d",
                           "08.1.1.1",
                           "0x",
                           "0x.1.1.1",
                           "1.2.3.4x",
                           "-1.2.3.4",
                           "+1.2.3.4",
                           "256.1",
                           "1.16777216",
                           "1.2.65536",
                           "4294967296",
                           "99999999999999999999",
                           "1.2.3.0x100",
                           "host.example"}) {
    EXPECT_EQ(ParseDottedAddress(text), kInaddrNone) << '"' << text << '"';
  }
  // The all-ones address reads as the failure value, as with inet_addr.
  EXPECT_EQ(ParseDottedAddress("255.255.255.255"), kInaddrNone);
  EXPECT_EQ(ParseDottedAddress("4294967295"), kInaddrNone);
}

TEST(DottedAddressTest, AgreesWithTheCLibrary) {
  for (const char* text : {"1.2.3.4",
                           "0377.0xff.0.1",
                           "00000000001.2.3.4",
                           "0x00000000ff.1.1.1",
                           "1.2.3",
                           "1.2",
                           "1",
                           "0",
                           "1.2.3.4 ",
                           "1.2.3.4\t5",
                           "1.2.3.04",
                           "0xfFfFfFfF",
                           "037777777777",
                           "040000000000",
                           "1.2.3.4.",
                           "09",
                           "0x1g",
                           "127.1",
                           "1 2",
                           "1.2.3.-4",
                           ".1.2.3",
                           "255.255.255.254"}) {
    EXPECT_EQ(ParseDottedAddress(text), inet_addr(text)) << '"' << text << '"';
  }
}

TEST(DottedAddressTest, FormatsInNetworkOrder) {
  EXPECT_EQ(DottedAddress(Bytes(10, 0, 200, 7)), "10.0.200.7");
  EXPECT_EQ(DottedAddress(0), "0.0.0.0");
  EXPECT_EQ(DottedAddress(kInaddrNone), "255.255.255.255");
  EXPECT_EQ(ParseDottedAddress(DottedAddress(Bytes(172, 16, 254, 1))), Bytes(172, 16, 254, 1));
}

// --- sockets -------------------------------------------------------------------------------------

// Enters a fresh network namespace with its loopback up, once per process; false when not root.
bool EnterPrivateNetwork() {
  static const bool entered = [] {
    if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0) return false;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    if (fd >= 0) close(fd);
    return up;
  }();
  return entered;
}

class SocketTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (EnterPrivateNetwork()) {
      port_ = 123;
    } else {
      port_ = static_cast<uint16_t>(std::random_device{}() % 20000 + 40000);
    }
  }

  static SocketAddress At(const char* dotted, uint16_t port = 0) {
    return SocketAddress{kAfInet, HostToNetwork16(port == 0 ? port_ : port), ParseDottedAddress(dotted)};
  }

  std::unique_ptr<UdpSocket> Open(const SocketAddress& local, bool accept_broadcasts = false) {
    std::unique_ptr<UdpSocket> socket;
    EXPECT_FALSE(net_.CreateUdpSocket(&socket));
    EXPECT_FALSE(socket->Bind(local, accept_broadcasts)) << DottedAddress(local.address);
    return socket;
  }

  static void Send(UdpSocket& from, const std::string& text, const SocketAddress& to) {
    size_t sent = 0;
    ASSERT_FALSE(from.SendTo(text.data(), text.size(), to, &sent));
    ASSERT_EQ(sent, text.size());
  }

  static std::string Receive(UdpSocket& socket, ReceivedFrom* from = nullptr) {
    char buffer[512];
    size_t received = 0;
    ReceivedFrom peer;
    const std::error_code error = socket.ReceiveFrom(buffer, sizeof buffer, &received, &peer, nullptr);
    if (from != nullptr) *from = peer;
    return !error ? std::string(buffer, received) : "error " + std::to_string(error.value());
  }

  Network& net_ = SystemNetwork();
  static inline uint16_t port_ = 0;
};

// Sends "timeout" to each target from `delay` on until cancelled, so that a blocking read in a failing
// test ends with a recognisable datagram instead of hanging.
class Watchdog {
 public:
  Watchdog(std::vector<SocketAddress> targets, std::chrono::milliseconds delay) {
    thread_ = std::thread([this, targets, delay] {
      auto deadline = std::chrono::steady_clock::now() + delay;
      while (!cancelled_ && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
      std::unique_ptr<UdpSocket> socket;
      size_t sent;
      if (SystemNetwork().CreateUdpSocket(&socket)) return;
      while (!cancelled_) {  // again and again: the test may read several times
        for (const SocketAddress& to : targets) socket->SendTo("timeout", 7, to, &sent);
        std::this_thread::sleep_for(200ms);
      }
    });
  }
  ~Watchdog() {
    cancelled_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> cancelled_{false};
  std::thread thread_;
};

TEST_F(SocketTest, SendsAndReceivesWithTheSendersAddress) {
  auto a = Open(At("127.0.0.1"));
  auto b = Open(At("127.0.0.2"));
  Send(*a, "hello", At("127.0.0.2"));
  ReceivedFrom from;
  EXPECT_EQ(Receive(*b, &from), "hello");
  EXPECT_EQ(from.source.address, ParseDottedAddress("127.0.0.1"));
  EXPECT_EQ(from.source.port, HostToNetwork16(port_));
  EXPECT_FALSE(from.broadcast);
}

TEST_F(SocketTest, LongDatagramFailsWithMessageSizeAndIsConsumed) {
  auto a = Open(At("127.0.0.1"));
  auto b = Open(At("127.0.0.2"));
  Send(*a, std::string(100, 'x'), At("127.0.0.2"));
  Send(*a, "next", At("127.0.0.2"));
  char buffer[48];
  size_t received = 12345;
  ReceivedFrom from;
  EXPECT_EQ(b->ReceiveFrom(buffer, sizeof buffer, &received, &from, nullptr).value(), EMSGSIZE);
  EXPECT_EQ(from.source.address, ParseDottedAddress("127.0.0.1"));
  EXPECT_EQ(Receive(*b), "next");
}

// Each datagram carries the kernel's record of its arrival on the system clock, also when
// several queued ones are fetched by one read: the second is stamped when it came, not when
// it was read.
TEST_F(SocketTest, EachDatagramCarriesItsKernelArrivalTime) {
  auto a = Open(At("127.0.0.1"));
  auto b = Open(At("127.0.0.2"));
  auto system_clock = MakeRealClock();
  char buffer[48];
  size_t received = 0;
  // The kernel switches arrival stamping on a moment after the first socket asks for it (it
  // stamps at the read until then): wait until a datagram read 10 ms late is stamped earlier.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int64_t sent = system_clock->NowNanoseconds();
    Send(*a, "warm-up", At("127.0.0.2"));
    std::this_thread::sleep_for(10ms);
    std::optional<int64_t> stamp;
    ASSERT_FALSE(b->ReceiveFrom(buffer, sizeof buffer, &received, nullptr, &stamp));
    if (stamp && *stamp - sent < 5'000'000) break;
  }
  const int64_t before = system_clock->NowNanoseconds();
  Send(*a, "first", At("127.0.0.2"));
  std::this_thread::sleep_for(5ms);
  const int64_t between = system_clock->NowNanoseconds();
  Send(*a, "second", At("127.0.0.2"));
  const int64_t sent = system_clock->NowNanoseconds();
  std::this_thread::sleep_for(20ms);
  std::optional<int64_t> stamps[2];
  for (std::optional<int64_t>& stamp : stamps) {
    stamp = 0;  // must be replaced
    ASSERT_FALSE(b->ReceiveFrom(buffer, sizeof buffer, &received, nullptr, &stamp));
  }
  ASSERT_TRUE(stamps[0] && stamps[1]);
  EXPECT_LE(before, *stamps[0]);
  EXPECT_LE(*stamps[0], between);
  EXPECT_LE(between, *stamps[1]);
  EXPECT_LE(*stamps[1], sent);
}

// A stamped send reports when the datagram left, between the readings around the send and
// before its arrival. The stamp waits on the socket's error queue, which makes the socket ready
// without a datagram: the waiter reads it there and marks nothing, and datagrams received
// afterwards still carry their arrival stamps.
TEST_F(SocketTest, StampedSendReportsItsDepartureAndTheWaiterTakesItQuietly) {
  auto a = Open(At("127.0.0.1"));
  auto b = Open(At("127.0.0.2"));
  auto waiter = net_.CreateWaiter({a.get()});
  Watchdog watchdog({At("127.0.0.1")}, 2s);  // a hanging wait ends with a datagram, and fails
  auto system_clock = MakeRealClock();
  EXPECT_FALSE(a->LatestDeparture());
  const int64_t before = system_clock->NowNanoseconds();
  size_t sent = 0;
  ASSERT_FALSE(a->SendToStamped("request", 7, At("127.0.0.2"), &sent));
  const int64_t after = system_clock->NowNanoseconds();
  EXPECT_EQ(sent, 7u);
  std::vector<bool> readable;
  ASSERT_FALSE(waiter->Wait(&readable));
  EXPECT_EQ(readable, (std::vector<bool>{false}));
  const std::optional<int64_t> departure = a->LatestDeparture();
  ASSERT_TRUE(departure);
  EXPECT_LE(before, *departure);
  EXPECT_LE(*departure, after);
  char buffer[48];
  size_t received = 0;
  std::optional<int64_t> arrival;
  ASSERT_FALSE(b->ReceiveFrom(buffer, sizeof buffer, &received, nullptr, &arrival));
  ASSERT_TRUE(arrival);
  EXPECT_LE(*departure, *arrival);
  Send(*b, "reply", At("127.0.0.1"));
  ASSERT_FALSE(waiter->Wait(&readable));
  EXPECT_EQ(readable, (std::vector<bool>{true}));
  arrival.reset();
  ASSERT_FALSE(a->ReceiveFrom(buffer, sizeof buffer, &received, nullptr, &arrival));
  EXPECT_EQ(std::string(buffer, received), "reply");
  EXPECT_TRUE(arrival);
  Send(*a, "plain", At("127.0.0.2"));  // asks for no stamp
  EXPECT_EQ(a->LatestDeparture(), departure);
}

TEST_F(SocketTest, ZeroLengthDatagramToOwnAddressWakesTheWaiter) {
  auto a = Open(At("127.0.0.1"));
  auto b = Open(At("127.0.0.2"));
  auto waiter = net_.CreateWaiter({a.get(), b.get()});
  std::vector<bool> readable;
  std::error_code result = std::make_error_code(std::errc::operation_in_progress);
  std::thread waiting([&] { result = waiter->Wait(&readable); });
  std::this_thread::sleep_for(50ms);
  size_t sent = 99;
  ASSERT_FALSE(b->SendTo("", 0, At("127.0.0.2"), &sent));
  waiting.join();
  EXPECT_EQ(sent, 0u);
  EXPECT_FALSE(result);
  EXPECT_EQ(readable, (std::vector<bool>{false, true}));
  char buffer[48];
  size_t received = 99;
  EXPECT_FALSE(b->ReceiveFrom(buffer, sizeof buffer, &received, nullptr, nullptr));
  EXPECT_EQ(received, 0u);
}

// The waiter's own wake-up ends a blocked wait without any datagram, with no socket marked, and
// keeps every later wait from blocking.
TEST_F(SocketTest, WakeEndsTheWaitWithoutADatagramAndStays) {
  auto a = Open(At("127.0.0.1"));
  auto b = Open(At("127.0.0.2"));
  auto waiter = net_.CreateWaiter({a.get(), b.get()});
  std::vector<bool> readable;
  std::error_code result = std::make_error_code(std::errc::operation_in_progress);
  std::thread waiting([&] { result = waiter->Wait(&readable); });
  std::this_thread::sleep_for(50ms);
  waiter->Wake();
  waiting.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(readable, (std::vector<bool>{false, false}));
  for (int i = 0; i < 3; ++i) {
    ASSERT_FALSE(waiter->Wait(&readable));
    EXPECT_EQ(readable, (std::vector<bool>{false, false}));
  }
}

TEST_F(SocketTest, NudgeEndsOneWaitOnly) {
  auto a = Open(At("127.0.0.1"));
  auto waiter = net_.CreateWaiter({a.get()});
  std::vector<bool> readable;
  waiter->Nudge();
  ASSERT_FALSE(waiter->Wait(&readable));
  EXPECT_EQ(readable, (std::vector<bool>{false}));
  // The next wait blocks again until something comes: here a datagram.
  std::error_code result = std::make_error_code(std::errc::operation_in_progress);
  std::thread waiting([&] { result = waiter->Wait(&readable); });
  std::this_thread::sleep_for(100ms);
  size_t sent = 0;
  ASSERT_FALSE(a->SendTo("x", 1, At("127.0.0.1"), &sent));
  waiting.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(readable, (std::vector<bool>{true}));
}

TEST_F(SocketTest, BatchGoesOutInOrderAndTheReadsHandItOutFromOneFetch) {
  auto sender = Open(At("127.0.0.1"));
  auto receiver = Open(At("127.0.0.2"));
  const std::string texts[] = {"a", "bb", "ccc"};
  OutgoingDatagram batch[3];
  for (size_t i = 0; i < 3; ++i) batch[i] = {texts[i].data(), texts[i].size(), At("127.0.0.2")};
  size_t sent = 0;
  ASSERT_FALSE(sender->SendBatch(batch, 3, &sent));
  EXPECT_EQ(sent, 3u);
  std::this_thread::sleep_for(50ms);  // all three queued before the first read
  for (size_t i = 0; i < 3; ++i) {
    char buffer[16] = {};
    size_t received = 0;
    ASSERT_FALSE(receiver->ReceiveFrom(buffer, sizeof buffer, &received, nullptr, nullptr));
    EXPECT_EQ(std::string(buffer, received), texts[i]);
    EXPECT_EQ(receiver->Fetched(), 2 - i);
  }
}

TEST_F(SocketTest, WaiterReportsExactlyTheSocketsWithDatagramsUntilTheyAreRead) {
  auto s0 = Open(At("127.0.0.1"));
  auto s1 = Open(At("127.0.0.2"));
  auto s2 = Open(At("127.0.0.3"));
  auto waiter = net_.CreateWaiter({s0.get(), s1.get(), s2.get()});
  Send(*s1, "to 0", At("127.0.0.1"));
  Send(*s1, "to 2", At("127.0.0.3"));
  std::vector<bool> readable;
  // Loopback delivery may lag the send by a moment; readiness is level-triggered, so each Wait
  // returns at once while a datagram is unread.
  for (int i = 0; i < 100; ++i) {
    ASSERT_FALSE(waiter->Wait(&readable));
    if (readable[0] && readable[2]) break;
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(readable, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(Receive(*s0), "to 0");
  ASSERT_FALSE(waiter->Wait(&readable));
  EXPECT_EQ(readable, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(Receive(*s2), "to 2");
  Send(*s2, "to 1", At("127.0.0.2"));
  ASSERT_FALSE(waiter->Wait(&readable));
  EXPECT_EQ(readable, (std::vector<bool>{false, true, false}));
}

// Datagrams queued together are fetched from the kernel in one read but handed out one per call,
// in arrival order, each with its own sender and length check; the waiter keeps reporting the
// socket while any is left, without the kernel queue holding one, and blocks again once all are
// handed out.
TEST_F(SocketTest, QueuedDatagramsAreHandedOutOnePerCallInOrder) {
  auto a = Open(At("127.0.0.1"));
  auto c = Open(At("127.0.0.3"));
  auto b = Open(At("127.0.0.2"));
  auto waiter = net_.CreateWaiter({a.get(), b.get()});
  Send(*a, "one", At("127.0.0.2"));
  Send(*c, std::string(100, 'x'), At("127.0.0.2"));
  Send(*a, "three", At("127.0.0.2"));
  std::this_thread::sleep_for(20ms);  // all three queued before the first read
  std::vector<bool> readable;
  ASSERT_FALSE(waiter->Wait(&readable));
  EXPECT_EQ(readable, (std::vector<bool>{false, true}));
  ReceivedFrom from;
  EXPECT_EQ(Receive(*b, &from), "one");
  EXPECT_EQ(from.source.address, ParseDottedAddress("127.0.0.1"));
  ASSERT_FALSE(waiter->Wait(&readable));
  EXPECT_EQ(readable, (std::vector<bool>{false, true}));
  char buffer[48];
  size_t received = 0;
  EXPECT_EQ(b->ReceiveFrom(buffer, sizeof buffer, &received, &from, nullptr).value(), EMSGSIZE);
  EXPECT_EQ(from.source.address, ParseDottedAddress("127.0.0.3"));
  ASSERT_FALSE(waiter->Wait(&readable));
  EXPECT_EQ(readable, (std::vector<bool>{false, true}));
  EXPECT_EQ(Receive(*b, &from), "three");
  EXPECT_EQ(from.source.address, ParseDottedAddress("127.0.0.1"));
  // Nothing left: the wait blocks until the next datagram, which is then read by itself.
  std::error_code result = std::make_error_code(std::errc::operation_in_progress);
  std::thread waiting([&] { result = waiter->Wait(&readable); });
  std::this_thread::sleep_for(50ms);
  Send(*c, "four", At("127.0.0.1"));
  waiting.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(readable, (std::vector<bool>{true, false}));
  EXPECT_EQ(Receive(*a), "four");
}

TEST_F(SocketTest, WildcardAndSpecificBindsOfOnePortCoexist) {
  auto wildcard = Open(At("0.0.0.0"));
  auto specific = Open(At("127.0.0.1"));
  auto later = Open(At("127.0.0.2"));  // specific after wildcard and wildcard before: both work
  auto sender = Open(At("127.0.0.5", static_cast<uint16_t>(port_ + 1)));
  // Unicast goes to the most specific bind.
  Send(*sender, "specific", At("127.0.0.1"));
  Send(*sender, "wildcard", At("127.0.0.9"));
  EXPECT_EQ(Receive(*specific), "specific");
  ReceivedFrom from;
  EXPECT_EQ(Receive(*wildcard, &from), "wildcard");
  EXPECT_FALSE(from.broadcast);
  // A second bind of the same address succeeds too: a second instance is kept out by the
  // instance mutex, not by the sockets.
  auto twin = Open(At("127.0.0.1"));
}

TEST_F(SocketTest, BindToAForeignAddressFailsWithItsErrorNumber) {
  std::unique_ptr<UdpSocket> socket;
  ASSERT_FALSE(net_.CreateUdpSocket(&socket));
  EXPECT_EQ(socket->Bind(At("192.0.2.1"), true).value(), EADDRNOTAVAIL);
}

TEST_F(SocketTest, RouteSourceIsTheRoutingTablesChoiceAndFailsWithoutARoute) {
  uint32_t source = 0;
  ASSERT_FALSE(net_.RouteSource(ParseDottedAddress("127.0.0.9"), &source));
  EXPECT_EQ(source, ParseDottedAddress("127.0.0.1"));
  if (port_ == 123) {  // only in the namespace, which has no route but loopback
    EXPECT_EQ(net_.RouteSource(ParseDottedAddress("192.0.2.1"), &source).value(), ENETUNREACH);
  }
}

TEST_F(SocketTest, InterfaceTableListsLoopbackAndResolverUsesHosts) {
  bool loopback = false;
  for (const InterfaceAddress& row : net_.InterfaceAddresses()) {
    if (row.address == ParseDottedAddress("127.0.0.1")) {
      loopback = true;
      EXPECT_EQ(row.interface, "lo");
      EXPECT_EQ(row.interface_index, if_nametoindex("lo"));
    }
  }
  EXPECT_TRUE(loopback);
  uint32_t address = 0;
  EXPECT_FALSE(net_.ResolveHost("localhost", &address));
  EXPECT_EQ(address, ParseDottedAddress("127.0.0.1"));
  if (port_ == 123) {  // only in the namespace: elsewhere the name would go to a real resolver
    const std::error_code error = net_.ResolveHost("no-such-host.invalid", &address);
    EXPECT_TRUE(error);
    // getaddrinfo's own (negative) codes keep their number and text
    EXPECT_EQ(error.message(), gai_strerror(error.value()));
  }
  EXPECT_FALSE(net_.Startup());
}

// A peer namespace at the far end of a veth pair sends broadcasts; the host binds its socket to
// its unicast address on the near end, and a wildcard socket to another port. Each datagram
// says whether it came as a broadcast.
TEST_F(SocketTest, SocketOnUnicastAddressReceivesBroadcastsOnlyWhenAsked) {
  if (port_ != 123) GTEST_SKIP() << "needs root: creates network namespaces and a veth pair";
  int ready[2], go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  pid_t peer = fork();
  ASSERT_GE(peer, 0);
  if (peer == 0) {
    char c = 0;
    if (unshare(CLONE_NEWNET) != 0 || write(ready[1], "r", 1) != 1 || read(go[0], &c, 1) != 1) _exit(2);
    if (system("ip link set lo up && ip addr add 10.77.0.2/24 brd + dev nt1 && ip link set nt1 up") != 0) _exit(3);
    std::unique_ptr<UdpSocket> socket;
    if (SystemNetwork().CreateUdpSocket(&socket) || socket->EnableBroadcast() ||
        socket->Bind(SocketAddress{kAfInet, HostToNetwork16(123), ParseDottedAddress("10.77.0.2")}, false)) {
      _exit(4);
    }
    auto to = [](const char* dotted, uint16_t port) {
      return SocketAddress{kAfInet, HostToNetwork16(port), ParseDottedAddress(dotted)};
    };
    size_t sent;
    std::this_thread::sleep_for(300ms);  // the link comes up
    socket->SendTo("limited", 7, to("255.255.255.255", 123), &sent);
    std::this_thread::sleep_for(100ms);
    socket->SendTo("directed", 8, to("10.77.0.255", 123), &sent);
    socket->SendTo("ignored", 7, to("255.255.255.255", 124), &sent);
    socket->SendTo("unicast", 7, to("10.77.0.1", 124), &sent);
    socket->SendTo("any-limited", 11, to("255.255.255.255", 125), &sent);
    socket->SendTo("any-directed", 12, to("10.77.0.255", 125), &sent);
    socket->SendTo("any-unicast", 11, to("10.77.0.1", 125), &sent);
    // Stay until the host has read: the pair and the host's address go with this namespace.
    _exit(read(go[0], &c, 1) == 1 ? 0 : 5);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  std::string command = "ip link add nt0 type veth peer name nt1 netns " + std::to_string(peer) +
                        " && ip addr add 10.77.0.1/24 brd + dev nt0 && ip link set nt0 up";
  ASSERT_EQ(system(command.c_str()), 0);
  auto host = Open(At("10.77.0.1"), true);
  auto plain = Open(At("10.77.0.1", 124), false);
  auto wildcard = Open(At("0.0.0.0", 125), true);
  ASSERT_EQ(write(go[1], "g", 1), 1);
  {
    Watchdog watchdog({At("10.77.0.1"), At("10.77.0.1", 124), At("10.77.0.1", 125)}, 5s);
    auto waiter = net_.CreateWaiter({plain.get(), host.get()});
    std::vector<bool> readable;
    ASSERT_FALSE(waiter->Wait(&readable));
    EXPECT_TRUE(readable[1]);
    ReceivedFrom from;
    EXPECT_EQ(Receive(*host, &from), "limited");
    EXPECT_EQ(from.source.address, ParseDottedAddress("10.77.0.2"));
    EXPECT_TRUE(from.broadcast);
    EXPECT_EQ(Receive(*host, &from), "directed");
    EXPECT_TRUE(from.broadcast);
    // The broadcast to port 124 went out before the unicast; a plain socket skips it.
    EXPECT_EQ(Receive(*plain, &from), "unicast");
    EXPECT_FALSE(from.broadcast);
    // A wildcard socket takes both kinds: the destination tells them apart.
    for (const auto& [text, broadcast] :
         {std::pair{"any-limited", true}, {"any-directed", true}, {"any-unicast", false}}) {
      EXPECT_EQ(Receive(*wildcard, &from), text);
      EXPECT_EQ(from.broadcast, broadcast) << text;
    }
  }
  EXPECT_EQ(write(go[1], "d", 1), 1);
  int status = 0;
  waitpid(peer, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  // The pair goes with the peer's namespace, but asynchronously; and so does ours at exit.
  [[maybe_unused]] int ignored = system("ip link del nt0 >/dev/null 2>&1");
}

// The IPv6 socket on the unspecified address shares its port with an IPv4 socket, tells the
// address each datagram was sent to, and answers from it.
TEST_F(SocketTest, Ipv6SocketTellsTheAddressAskedAndRepliesFromIt) {
  SocketAddress any;
  any.family = kAfInet6;
  any.port = HostToNetwork16(port_);
  SocketAddress loopback = any;
  loopback.address6[15] = 1;  // ::1
  loopback.port = HostToNetwork16(static_cast<uint16_t>(port_ + 1));
  std::unique_ptr<UdpSocket> server;
  std::unique_ptr<UdpSocket> client;
  ASSERT_FALSE(net_.CreateUdpSocket6(&server));
  ASSERT_FALSE(server->Bind(any, false));
  auto beside = Open(At("127.0.0.1"));
  ASSERT_FALSE(net_.CreateUdpSocket6(&client));
  ASSERT_FALSE(client->Bind(loopback, false));

  SocketAddress to = loopback;
  to.port = any.port;
  Send(*client, "ask", to);
  ReceivedFrom from;
  EXPECT_EQ(Receive(*server, &from), "ask");
  EXPECT_TRUE(SameEndpoint(from.source, loopback));
  EXPECT_EQ(from.source.local6, loopback.address6);
  EXPECT_EQ(AddressText(from.source), "::1");
  const SocketAddress asker = from.source;
  Send(*server, "answer", asker);
  EXPECT_EQ(Receive(*client, &from), "answer");
  EXPECT_TRUE(SameEndpoint(from.source, to));
  // The same through a batch, as the server's replies go out.
  const OutgoingDatagram batch[] = {{"batch", 5, asker}};
  size_t sent = 0;
  ASSERT_FALSE(server->SendBatch(batch, 1, &sent));
  EXPECT_EQ(Receive(*client, &from), "batch");
  EXPECT_TRUE(SameEndpoint(from.source, to));
}

// Time source texts as getaddrinfo takes them: a zone names the interface of a link-local address.
TEST_F(SocketTest, ResolveAnyTakesIpv6TextWithZoneAndPrintsItBack) {
  for (const std::string text : {"::1", "fe80::1%lo", "fd00::7b"}) {
    SocketAddress address;
    const std::error_code error = net_.ResolveAny(text, &address);
    ASSERT_FALSE(error) << text << ": " << error.message();
    EXPECT_EQ(address.family, kAfInet6);
    EXPECT_EQ(address.port, HostToNetwork16(123));
    EXPECT_EQ(AddressText(address), text);
  }
  SocketAddress address;
  ASSERT_FALSE(net_.ResolveAny("127.0.0.1", &address));
  EXPECT_EQ(AddressText(address), "127.0.0.1");
}

}  // namespace
}  // namespace chron::platform
