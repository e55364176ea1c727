// Waiting for the network at start-up over the fake network: one report, the host told once,
// the start going on once an address is there (after a change the system tells of, or after the
// period), a stop ending the wait; and which adapter tables count as usable.
#include "service/network_wait.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/adapters.h"
#include "tests/testutil/fake_network.h"
#include "tests/testutil/report_capture.h"
#include "tests/unit/service/adapter_test_support.h"

namespace chron {
namespace {

using ::testing::ElementsAre;
using testing::Ip;
using testing::ReportLine;

// The fake network with the system's address-change notification, fired by the test, and a bind
// error for every socket made from now on.
class WatchedNetwork : public testing::FakeNetwork {
 public:
  class Watch : public platform::AddressWatch {
   public:
    explicit Watch(WatchedNetwork& network) : network_(network) {}
    ~Watch() override {
      std::lock_guard lock(network_.mutex_);
      network_.changed_ = nullptr;
    }

   private:
    WatchedNetwork& network_;
  };

  std::unique_ptr<platform::AddressWatch> WatchAddresses(const std::function<void()>& changed) override {
    std::lock_guard lock(mutex_);
    changed_ = changed;
    return std::make_unique<Watch>(*this);
  }
  std::error_code CreateUdpSocket(std::unique_ptr<platform::UdpSocket>* socket) override {
    const std::error_code error = FakeNetwork::CreateUdpSocket(socket);
    if (!error) sockets().back()->FailBindWith(bind_error);
    return error;
  }
  void Notify() {
    std::lock_guard lock(mutex_);
    if (changed_) changed_();
  }

  std::atomic<int> bind_error{0};

 private:
  std::mutex mutex_;
  std::function<void()> changed_;
};

platform::InterfaceAddress Row(std::string_view dotted) {
  platform::InterfaceAddress row;
  row.address = Ip(dotted);
  row.interface = "eth0";
  return row;
}

class NetworkWaitTest : public ::testing::Test {
 protected:
  NetworkWaitTest() {
    rt.network = &network;
    rt.config.ip_query_type = "SNMP";
  }
  ~NetworkWaitTest() override { rt.stop.shutdown.Set(); }

  // Runs the wait on a thread of its own and returns once it has told the host.
  std::future<int> StartWaiting(std::chrono::milliseconds retry) {
    auto result = std::async(std::launch::async, [this, retry] {
      return WaitForNetwork(
          {rt.config, network, nullptr}, rt.sockets.adapters, nullptr, rt.stop.shutdown, [this] { ++waiting_calls; },
          retry);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waiting_calls == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(waiting_calls, 1);
    return result;
  }

  WatchedNetwork network;
  Runtime rt;
  std::atomic<int> waiting_calls{0};
  testing::ReportCapture capture{ReportTarget::kConsole};
};

constexpr std::chrono::hours kNever{1};

// An address that comes is taken after the system tells of it, or after the period without.
TEST_F(NetworkWaitTest, ReportsOnceAndGoesOnWhenAnAddressComes) {
  for (const bool told : {true, false}) {
    SCOPED_TRACE(told ? "told by the system" : "seen after the period");
    ClearAdapterTable(rt.sockets.adapters);
    network.SetInterfaceAddresses({});
    testing::ReportCapture lines{ReportTarget::kConsole};
    waiting_calls = 0;
    std::future<int> result = StartWaiting(told ? kNever : std::chrono::milliseconds(300));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // looked at least once more
    network.SetInterfaceAddresses({Row("127.0.0.1"), Row("10.0.0.2")});
    if (told) network.Notify();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
    EXPECT_EQ(waiting_calls, 1);
    EXPECT_THAT(lines.console(), ElementsAre(ReportLine(msg::kNoUsableAdapter)));
    EXPECT_EQ(CountAdapters(rt.sockets.adapters), 1);
    EXPECT_EQ(rt.sockets.adapters[0].address.address, Ip("10.0.0.2"));
  }
}

TEST_F(NetworkWaitTest, StopEndsTheWaitPromptly) {
  std::future<int> result = StartWaiting(kNever);
  const auto asked = std::chrono::steady_clock::now();
  rt.stop.shutdown.Set();
  ASSERT_EQ(result.wait_for(std::chrono::seconds(1)), std::future_status::ready);
  EXPECT_EQ(result.get(), kStoppedWhileWaiting);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(500));
}

// A table is usable when it has rows and each can be bound now.
struct UsableCase {
  std::vector<const char*> rows;
  int bind_error;
  bool usable;
};

class AddressesUsableTest : public NetworkWaitTest, public ::testing::WithParamInterface<UsableCase> {};

TEST_P(AddressesUsableTest, RowsThatCanBeBound) {
  for (const char* row : GetParam().rows) AddAdapter(rt.sockets.adapters, "Lance", Ip(row));
  network.bind_error = GetParam().bind_error;
  EXPECT_EQ(AddressesUsable({rt.config, network, nullptr}, rt.sockets.adapters), GetParam().usable);
  for (testing::FakeUdpSocket* socket : network.sockets()) {
    ASSERT_EQ(socket->binds().size(), 1u);
    EXPECT_EQ(socket->binds()[0].local.port, 0);  // never port 123 of a running instance
  }
}

INSTANTIATE_TEST_SUITE_P(Tables, AddressesUsableTest,
                         ::testing::Values(UsableCase{{}, 0, false}, UsableCase{{"192.0.2.1"}, 0, true},
                                           UsableCase{{"192.0.2.1"}, 99, false},
                                           UsableCase{{"192.0.2.1", "192.0.2.7"}, 0, true}));

}  // namespace
}  // namespace chron
