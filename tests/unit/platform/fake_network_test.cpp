// The fake network that the engine's tests stand on: it must block, wake and hand out
// datagrams like the real one, across threads.
#include "tests/testutil/fake_network.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>

namespace chron::testing {
namespace {

using namespace std::chrono_literals;

std::unique_ptr<platform::UdpSocket> Bound(FakeNetwork& net, const char* dotted) {
  std::unique_ptr<platform::UdpSocket> socket;
  EXPECT_FALSE(net.CreateUdpSocket(&socket));
  EXPECT_FALSE(socket->Bind(Endpoint(dotted, 123), true));
  return socket;
}

TEST(FakeNetworkTest, WaiterBlocksUntilAnotherThreadQueuesADatagram) {
  FakeNetwork net;
  auto a = Bound(net, "10.0.0.1");
  auto b = Bound(net, "10.0.0.2");
  auto waiter = net.CreateWaiter({a.get(), b.get()});
  std::vector<bool> readable;
  std::atomic<bool> returned{false};
  std::thread waiting([&] {
    EXPECT_FALSE(waiter->Wait(&readable));
    returned = true;
  });
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(returned);
  net.socket(1)->PushBroadcast({1, 2, 3}, Endpoint("192.0.2.9", 5000));
  waiting.join();
  EXPECT_EQ(readable, (std::vector<bool>{false, true}));

  uint8_t buffer[48];
  size_t received = 0;
  platform::ReceivedFrom from;
  EXPECT_FALSE(b->ReceiveFrom(buffer, sizeof buffer, &received, &from, nullptr));
  EXPECT_EQ(received, 3u);
  EXPECT_TRUE(SameEndpoint(from.source, Endpoint("192.0.2.9", 5000)));
  EXPECT_TRUE(from.broadcast);
  EXPECT_EQ(b->ReceiveFrom(buffer, sizeof buffer, &received, &from, nullptr).value(), EAGAIN);
}

TEST(FakeNetworkTest, ZeroLengthSendToOwnAddressWakesTheWaiter) {
  FakeNetwork net;
  auto a = Bound(net, "10.0.0.1");
  auto waiter = net.CreateWaiter({a.get()});
  std::vector<bool> readable;
  std::thread waiting([&] { EXPECT_FALSE(waiter->Wait(&readable)); });
  size_t sent = 99;
  EXPECT_FALSE(a->SendTo("", 0, Endpoint("10.0.0.1", 123), &sent));
  waiting.join();
  EXPECT_EQ(sent, 0u);
  EXPECT_EQ(readable, (std::vector<bool>{true}));
  uint8_t buffer[1];
  size_t received = 99;
  platform::ReceivedFrom from;
  EXPECT_FALSE(a->ReceiveFrom(buffer, sizeof buffer, &received, &from, nullptr));
  EXPECT_EQ(received, 0u);
  EXPECT_TRUE(SameEndpoint(from.source, Endpoint("10.0.0.1", 123)));
  EXPECT_FALSE(from.broadcast);
  // Sends to other addresses are only recorded.
  EXPECT_FALSE(a->SendTo("x", 1, Endpoint("10.0.0.7", 123), &sent));
  EXPECT_EQ(net.socket(0)->pending(), 0u);
  EXPECT_EQ(net.socket(0)->sent().size(), 2u);
}

TEST(FakeNetworkTest, ReceiveErrorsAndLongDatagramsAreConsumed) {
  FakeNetwork net;
  auto a = Bound(net, "10.0.0.1");
  FakeUdpSocket* state = net.socket(0);
  state->Push(std::vector<uint8_t>(100, 7), Endpoint("10.0.0.9", 123));
  state->PushReceiveError(ECONNREFUSED);
  state->Push({9}, Endpoint("10.0.0.9", 123));
  uint8_t buffer[48];
  size_t received = 0;
  EXPECT_EQ(a->ReceiveFrom(buffer, sizeof buffer, &received, nullptr, nullptr).value(), EMSGSIZE);
  EXPECT_EQ(a->ReceiveFrom(buffer, sizeof buffer, &received, nullptr, nullptr).value(), ECONNREFUSED);
  EXPECT_FALSE(a->ReceiveFrom(buffer, sizeof buffer, &received, nullptr, nullptr));
  EXPECT_EQ(buffer[0], 9);
}

TEST(FakeNetworkTest, InjectedErrorsAreReturnedAndCallsRecorded) {
  FakeNetwork net;
  std::unique_ptr<platform::UdpSocket> socket;
  ASSERT_FALSE(net.CreateUdpSocket(&socket));
  FakeUdpSocket* state = net.socket(0);
  state->FailBindWith(EADDRINUSE);
  state->FailEnableBroadcastWith(EACCES);
  state->FailSendWith(ENETUNREACH);
  EXPECT_EQ(socket->Bind(Endpoint("10.0.0.1", 123), false).value(), EADDRINUSE);
  EXPECT_EQ(socket->EnableBroadcast().value(), EACCES);
  size_t sent = 0;
  EXPECT_EQ(socket->SendTo("x", 1, Endpoint("10.0.0.2", 123), &sent).value(), ENETUNREACH);
  EXPECT_FALSE(state->bound());
  EXPECT_EQ(state->binds().size(), 1u);
  EXPECT_EQ(state->enable_broadcast_calls(), 1);
  EXPECT_TRUE(state->sent().empty());

  net.FailCreateSocketWith(EMFILE);
  std::unique_ptr<platform::UdpSocket> other;
  EXPECT_EQ(net.CreateUdpSocket(&other).value(), EMFILE);
  socket.reset();
  EXPECT_TRUE(state->closed());
}

TEST(FakeNetworkTest, InjectedWaitErrorWakesABlockedWaiter) {
  FakeNetwork net;
  auto a = Bound(net, "10.0.0.1");
  auto waiter = net.CreateWaiter({a.get()});
  std::error_code result;
  std::thread waiting([&] {
    std::vector<bool> readable;
    result = waiter->Wait(&readable);
  });
  std::this_thread::sleep_for(20ms);
  net.FailWaitsWith(EBADF);
  waiting.join();
  EXPECT_EQ(result.value(), EBADF);
}

TEST(FakeNetworkTest, ResolvesFromItsMapAndLooksUpSockets) {
  FakeNetwork net;
  net.AddHost("time.example", Ip("192.0.2.1"));
  uint32_t address = 0;
  EXPECT_FALSE(net.ResolveHost("time.example", &address));
  EXPECT_EQ(address, Ip("192.0.2.1"));
  net.SetResolveError(-3, "Temporary failure in name resolution");
  const std::error_code error = net.ResolveHost("other.example", &address);
  EXPECT_EQ(error.value(), -3);
  EXPECT_EQ(error.message(), "Temporary failure in name resolution");
  EXPECT_EQ(net.resolved_names(), (std::vector<std::string>{"time.example", "other.example"}));
  auto a = Bound(net, "10.0.0.1");
  EXPECT_EQ(net.SocketBoundTo(Endpoint("10.0.0.1", 123)), net.socket(0));
  EXPECT_EQ(net.SocketBoundTo(Endpoint("10.0.0.1", 124)), nullptr);
}

}  // namespace
}  // namespace chron::testing
