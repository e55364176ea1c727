// The Win32 sockets, the SNMP agent's address table and the clocks.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/network.h"

namespace chron::platform {
namespace {

const uint32_t kLoopback = HostToNetwork32(0x7F000001);

TEST(Win32NetworkTest, LoopbackDatagramsSelectAndLongDatagrams) {
  Network& network = SystemNetwork();
  ASSERT_FALSE(network.Startup());
  std::unique_ptr<UdpSocket> a;
  std::unique_ptr<UdpSocket> b;
  ASSERT_FALSE(network.CreateUdpSocket(&a));
  ASSERT_FALSE(network.CreateUdpSocket(&b));
  const SocketAddress a_address{kAfInet, HostToNetwork16(47123), kLoopback};
  ASSERT_FALSE(a->Bind(a_address, true));
  ASSERT_FALSE(b->Bind({kAfInet, HostToNetwork16(47124), kLoopback}, false));
  auto waiter = network.CreateWaiter({a.get(), b.get()});

  size_t sent = 0;
  ASSERT_FALSE(b->SendTo("0123456789", 10, a_address, &sent));
  EXPECT_EQ(sent, 10u);
  std::vector<bool> readable;
  ASSERT_FALSE(waiter->Wait(&readable));
  EXPECT_EQ(readable, (std::vector<bool>{true, false}));
  char buffer[4];
  size_t received = 0;
  ReceivedFrom from;
  EXPECT_EQ(a->ReceiveFrom(buffer, sizeof buffer, &received, &from, nullptr).value(), 10040);  // WSAEMSGSIZE, consumed

  ASSERT_FALSE(b->SendTo("", 0, a_address, &sent));  // the wake-up datagram of a stop
  ASSERT_FALSE(waiter->Wait(&readable));
  EXPECT_FALSE(a->ReceiveFrom(buffer, sizeof buffer, &received, &from, nullptr));
  EXPECT_EQ(received, 0u);
  EXPECT_EQ(from.source.address, kLoopback);
  EXPECT_EQ(NetworkToHost16(from.source.port), 47124);
  EXPECT_FALSE(from.broadcast);  // sent to the socket's own address

  waiter->Wake();  // from now on every wait returns at once
  ASSERT_FALSE(waiter->Wait(&readable));
  EXPECT_EQ(readable, (std::vector<bool>{false, false}));
}

// A full adapter table: 64 sockets and the wake-up socket in one select.
TEST(Win32NetworkTest, SixtyFourSocketsAndTheWakeUpInOneWait) {
  Network& network = SystemNetwork();
  ASSERT_FALSE(network.Startup());
  std::vector<std::unique_ptr<UdpSocket>> sockets(64);
  std::vector<UdpSocket*> waited;
  for (auto& socket : sockets) {
    ASSERT_FALSE(network.CreateUdpSocket(&socket));
    ASSERT_FALSE(socket->Bind({kAfInet, 0, kLoopback}, false));  // port 0: any free one
    waited.push_back(socket.get());
  }
  auto waiter = network.CreateWaiter(waited);

  // The 64th socket's port (bound to any free one) as a peer sees it: the peer answers there.
  std::unique_ptr<UdpSocket> peer;
  ASSERT_FALSE(network.CreateUdpSocket(&peer));
  const SocketAddress peer_address{kAfInet, HostToNetwork16(47125), kLoopback};
  ASSERT_FALSE(peer->Bind(peer_address, false));
  size_t sent = 0;
  char byte = 0;
  size_t received = 0;
  ReceivedFrom from;
  ASSERT_FALSE(sockets[63]->SendTo("x", 1, peer_address, &sent));
  ASSERT_FALSE(peer->ReceiveFrom(&byte, 1, &received, &from, nullptr));
  ASSERT_FALSE(peer->SendTo("y", 1, from.source, &sent));

  std::vector<bool> readable;
  ASSERT_FALSE(waiter->Wait(&readable));
  std::vector<bool> expected(64, false);
  expected[63] = true;
  EXPECT_EQ(readable, expected);
  ASSERT_FALSE(sockets[63]->ReceiveFrom(&byte, 1, &received, &from, nullptr));
  EXPECT_EQ(byte, 'y');

  waiter->Wake();
  ASSERT_FALSE(waiter->Wait(&readable));
  EXPECT_EQ(readable, std::vector<bool>(64, false));
}

TEST(Win32NetworkTest, ResolvesAndListsTheAgentsAddressTable) {
  Network& network = SystemNetwork();
  ASSERT_FALSE(network.Startup());
  uint32_t address = 0;
  ASSERT_FALSE(network.ResolveHost("127.0.0.1", &address));
  EXPECT_EQ(address, kLoopback);
  const std::error_code error = network.ResolveHost("no-such-host.invalid", &address);
  EXPECT_TRUE(error);
  EXPECT_FALSE(error.message().empty());

  bool loopback_listed = false;
  for (const InterfaceAddress& row : network.InterfaceAddresses()) {
    loopback_listed = loopback_listed || row.address == kLoopback;
  }
  EXPECT_TRUE(loopback_listed);  // inetmib1 lists 127.0.0.1 as Windows does

  uint32_t source = 0;
  ASSERT_FALSE(network.RouteSource(kLoopback, &source));
  EXPECT_EQ(source, kLoopback);  // the routing table's source towards the host itself
}

TEST(Win32ClockTest, RealClockIsTheSystemTime) {
  const int64_t ours = MakeRealClock()->NowNanoseconds();
  const int64_t library =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_LT(std::abs(ours - library), 1000000000);
}

// Read-only: the rate is looked up and read, never set. Where the system can adjust it, the
// correction in force lies within the kernel's range.
TEST(Win32ClockTest, RealClockTellsWhetherItCanBeDisciplined) {
  auto clock = MakeRealClock();
  double ppm = 1e9;
  const std::error_code available = clock->DisciplineAvailable();
  EXPECT_EQ(clock->FrequencyCorrection(&ppm), available);
  if (!available) {
    EXPECT_LE(std::abs(ppm), 500.0);
  }
}

TEST(Win32ClockTest, SimulatedClockDriftsAndSlews) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("chron-drift-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  auto clock = MakeSimulatedClock(path.string(), 300.0);
  auto real = MakeRealClock();
  const int64_t start = clock->NowNanoseconds() - real->NowNanoseconds();
  ASSERT_FALSE(clock->Slew(-100000));  // paid off in 0.2 s
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  // 400 ms at 300 ppm is 120 us; the slew takes 100 us of it. The real clock ticks in 100 ns.
  EXPECT_NEAR(static_cast<double>(clock->NowNanoseconds() - real->NowNanoseconds() - start), 20000.0, 15000.0);
  std::filesystem::remove(path);
  std::filesystem::remove(path.string() + ".lock");
}

TEST(Win32ClockTest, SimulatedClockStepsItsFile) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("chron-clock-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  { std::ofstream(path) << "+1000000000\n"; }
  auto clock = MakeSimulatedClock(path.string());
  const int64_t real = MakeRealClock()->NowNanoseconds();
  EXPECT_NEAR(static_cast<double>(clock->NowNanoseconds() - real), 1e9, 5e8);
  ASSERT_FALSE(clock->StepBy(-3000000000));
  std::ifstream stored(path);
  int64_t offset = 0;
  stored >> offset;
  EXPECT_EQ(offset, -2000000000);
  EXPECT_NE(clock->Description().find("Abweichung -2000000000 ns"), std::string::npos);
  stored.close();

  { std::ofstream(path) << "zwei"; }
  EXPECT_NE(MakeSimulatedClock(path.string())->Description().find("ungültig"), std::string::npos);
  std::filesystem::remove(path);
  std::filesystem::remove(path.string() + ".lock");
}

}  // namespace
}  // namespace chron::platform
