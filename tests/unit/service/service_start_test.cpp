// Start-up of a service over the fake network with the real instance mutex: the reports and
// their order, the sockets, the exit codes; and the stop request, the console control handler
// and the wait for the workers.
#include "service/service_start.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/receive_loop.h"
#include "platform/named_mutex.h"
#include "platform/registry.h"
#include "service/adapters.h"
#include "tests/testutil/fake_clock.h"
#include "tests/testutil/fake_network.h"
#include "tests/testutil/report_capture.h"
#include "tests/unit/service/adapter_test_support.h"

namespace chron {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::Endpoint;
using testing::FakeNetwork;
using testing::FakeUdpSocket;
using testing::Ip;
using ::testing::IsEmpty;
using testing::ReportLine;

// The instance mutex is one per network namespace: a namespace of the test process's own keeps
// a service running on this machine, or another test process, from taking it first.
class OwnNetworkNamespace : public ::testing::Environment {
 public:
  void SetUp() override {
    if (unshare(CLONE_NEWNET) != 0) {
      std::fprintf(stderr, "note: no network namespace of our own (%s); the instance mutex is the machine's\n",
                   std::strerror(errno));
    }
  }
};
::testing::Environment* const kOwnNamespace = ::testing::AddGlobalTestEnvironment(new OwnNetworkNamespace);

// A fake network whose sockets can be made to fail Bind or EnableBroadcast by creation order.
class FaultyNetwork : public platform::Network {
 public:
  explicit FaultyNetwork(FakeNetwork& inner) : inner_(inner) {}
  std::error_code Startup() override { return inner_.Startup(); }
  std::error_code CreateUdpSocket(std::unique_ptr<platform::UdpSocket>* socket) override {
    const std::error_code error = inner_.CreateUdpSocket(socket);
    if (!error) {
      FakeUdpSocket* state = inner_.sockets().back();
      if (state->index() == bind_fails_at) state->FailBindWith(bind_error);
      if (state->index() == broadcast_fails_at) state->FailEnableBroadcastWith(broadcast_error);
      if (on_create) on_create(state->index());
    }
    return error;
  }
  std::unique_ptr<platform::SocketWaiter> CreateWaiter(const std::vector<platform::UdpSocket*>& sockets) override {
    return inner_.CreateWaiter(sockets);
  }
  std::error_code ResolveHost(std::string_view name, uint32_t* address) override {
    return inner_.ResolveHost(name, address);
  }
  std::vector<platform::InterfaceAddress> InterfaceAddresses() override { return inner_.InterfaceAddresses(); }
  std::error_code RouteSource(uint32_t destination, uint32_t* source) override {
    return inner_.RouteSource(destination, source);
  }

  // The system's address-change notification, fired by the test through address_changed.
  std::unique_ptr<platform::AddressWatch> WatchAddresses(const std::function<void()>& changed) override {
    address_changed = changed;
    return std::make_unique<platform::AddressWatch>();
  }

  std::function<void()> address_changed;
  size_t bind_fails_at = SIZE_MAX;
  int bind_error = 0;
  size_t broadcast_fails_at = SIZE_MAX;
  int broadcast_error = 0;
  std::function<void(size_t index)> on_create;  // after each socket is created

 private:
  FakeNetwork& inner_;
};

template <typename Condition>
bool Eventually(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

platform::InterfaceAddress Row(std::string_view dotted) {
  platform::InterfaceAddress row;
  row.address = Ip(dotted);
  row.interface = "eth0";
  return row;
}

bool Signalled(platform::Event& event) { return event.Wait(0); }

// Network first: it outlives the runtime's socket handles.
class ServiceStartTest : public ::testing::Test {
 protected:
  ServiceStartTest() {
    rt.clock = &clock;
    rt.network = &faulty;
    rt.config.client_active = 0;
    rt.config.client_broadcast = 0;
    rt.config.server_active = 0;
    rt.config.server_broadcast = 0;
    rt.config.ip_query_type = "SNMP";
    network.SetInterfaceAddresses({Row("10.0.0.2"), Row("127.0.0.1"), Row("10.0.0.1")});
    hooks.registry_discovery = [](const DiscoverySource&, AdapterTable&) -> bool {
      ADD_FAILURE() << "registry method not expected";
      return false;
    };
  }

  // Workers started by a test end here: they wait on the start event, then see the shutdown.
  void TearDown() override {
    rt.stop.shutdown.Set();
    rt.stop.start.Set();
    EXPECT_TRUE(WaitFinished(rt.stop, std::chrono::seconds(5)));
    if (rt.stop.release_instance) rt.stop.release_instance();
  }

  int Start() {
    specific = 7;
    const int result = ServiceStart(rt, hooks, &specific);
    EXPECT_EQ(specific, 0u);
    return result;
  }

  std::vector<std::string> Console() const { return capture.console(); }

  FakeNetwork network;
  FaultyNetwork faulty{network};
  testing::FakeClock clock{1'700'000'000'000'000'000};
  Runtime rt;
  StartHooks hooks;
  uint32_t specific = 7;
  testing::ReportCapture capture{ReportTarget::kConsole};
};

const std::string kPreparing = ReportLine(msg::kServicePreparing);
const std::string kStarted = ReportLine(msg::kServiceInitialised);
const std::string kAdapter1 = ReportLine(msg::kAdapterReady, {"<unbekannt>", "10.0.0.1"});
const std::string kAdapter2 = ReportLine(msg::kAdapterReady, {"<unbekannt>", "10.0.0.2"});

TEST_F(ServiceStartTest, ServerWithBroadcastsAndBroadcastClientInOrder) {
  rt.config.server_active = 1;
  rt.config.server_broadcast = 1;
  rt.config.server_broadcast_interval = 60;
  rt.config.client_active = 1;
  rt.config.client_broadcast = 1;
  ASSERT_EQ(Start(), 0);
  EXPECT_THAT(Console(),
              ElementsAre(kPreparing, kAdapter1, kAdapter2, ReportLine(msg::kBroadcastInterval, {int64_t{60}}),
                          ReportLine(msg::kServerStarted), ReportLine(msg::kClientAcceptsBroadcasts), kStarted));
  EXPECT_EQ(network.startup_calls(), 1);
  ASSERT_EQ(network.sockets().size(), 2u);
  const char* expected[] = {"10.0.0.1", "10.0.0.2"};
  for (size_t i = 0; i < 2; ++i) {
    FakeUdpSocket* socket = network.socket(i);
    EXPECT_EQ(socket->enable_broadcast_calls(), 1);
    ASSERT_EQ(socket->binds().size(), 1u);
    EXPECT_TRUE(testing::SameEndpoint(socket->binds()[0].local, Endpoint(expected[i], 123)));
    EXPECT_TRUE(socket->binds()[0].accept_broadcasts);
    EXPECT_TRUE(testing::SameEndpoint(rt.sockets.adapters[i].address, Endpoint(expected[i], 123)));
  }
  // The broadcaster waits for the start event; broadcasts are taken by the receive loop.
  EXPECT_FALSE(WaitFinished(rt.stop, std::chrono::milliseconds(0)));
  // The broadcaster is released only by the start event.
  EXPECT_TRUE(network.socket(0)->sent().empty());
}

TEST_F(ServiceStartTest, ServerWithoutBroadcastsAndPollingClient) {
  rt.config.server_active = 1;
  rt.config.server_broadcast = 0;
  rt.config.client_active = 1;
  rt.config.client_broadcast = 0;
  rt.config.client_time_source = "ntp.example";
  ASSERT_EQ(Start(), 0);
  EXPECT_THAT(Console(), ElementsAre(kPreparing, kAdapter1, kAdapter2, ReportLine(msg::kBroadcastsOff),
                                     ReportLine(msg::kClientStarted), kStarted));
  for (FakeUdpSocket* socket : network.sockets()) {
    EXPECT_EQ(socket->enable_broadcast_calls(), 0);
    EXPECT_FALSE(socket->binds().at(0).accept_broadcasts);
  }
  EXPECT_FALSE(WaitFinished(rt.stop, std::chrono::milliseconds(0)));  // the poll thread waits for the start
}

TEST_F(ServiceStartTest, PollingClientWithoutTimeSourceStartsNoThread) {
  rt.config.client_active = 1;
  rt.config.client_broadcast = 0;
  ASSERT_EQ(Start(), 0);
  EXPECT_THAT(Console(), ElementsAre(kPreparing, kAdapter1, kAdapter2, ReportLine(msg::kClientModeInvalid), kStarted));
  EXPECT_TRUE(WaitFinished(rt.stop, std::chrono::milliseconds(0)));
}

TEST_F(ServiceStartTest, NeitherClientNorServerRunsTheReceiveLoopAlone) {
  ASSERT_EQ(Start(), 0);
  EXPECT_THAT(Console(), ElementsAre(kPreparing, kAdapter1, kAdapter2, kStarted));
  EXPECT_TRUE(WaitFinished(rt.stop, std::chrono::milliseconds(0)));
  for (FakeUdpSocket* socket : network.sockets()) {
    EXPECT_EQ(socket->enable_broadcast_calls(), 0);
    EXPECT_FALSE(socket->binds().at(0).accept_broadcasts);
  }
}

// SO_BROADCAST only while the server broadcasts; broadcast reception only while the client
// takes broadcasts.
struct SocketModeCase {
  uint32_t server_active, server_broadcast, client_active, client_broadcast;
  bool so_broadcast, accept_broadcasts;
};

class SocketModeTest : public ServiceStartTest, public ::testing::WithParamInterface<SocketModeCase> {};

TEST_P(SocketModeTest, SocketsFollowTheConfiguration) {
  const SocketModeCase& c = GetParam();
  rt.config.server_active = c.server_active;
  rt.config.server_broadcast = c.server_broadcast;
  rt.config.client_active = c.client_active;
  rt.config.client_broadcast = c.client_broadcast;
  rt.config.client_time_source = "ntp.example";
  ASSERT_EQ(Start(), 0);
  ASSERT_EQ(network.sockets().size(), 2u);
  for (FakeUdpSocket* socket : network.sockets()) {
    EXPECT_EQ(socket->enable_broadcast_calls(), c.so_broadcast ? 1 : 0);
    EXPECT_EQ(socket->binds().at(0).accept_broadcasts, c.accept_broadcasts);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, SocketModeTest,
                         ::testing::Values(SocketModeCase{1, 1, 0, 1, true, false},
                                           SocketModeCase{1, 0, 1, 1, false, true},
                                           SocketModeCase{0, 1, 1, 1, false, true},
                                           SocketModeCase{0, 1, 1, 0, false, false},
                                           SocketModeCase{1, 1, 1, 0, true, false}));

TEST_F(ServiceStartTest, RegistryMethodComesFromTheHost) {
  rt.config.ip_query_type = "Registry";
  hooks.registry_discovery = [](const DiscoverySource&, AdapterTable& rows) {
    ClearAdapterTable(rows);
    return AddAdapter(rows, "Lance", Ip("192.0.2.1"));
  };
  ASSERT_EQ(Start(), 0);
  EXPECT_THAT(Console(), ElementsAre(kPreparing, ReportLine(msg::kAdapterReady, {"Lance", "192.0.2.1"}), kStarted));
}

TEST_F(ServiceStartTest, BindFailureEndsTheStartWithItsCode) {
  faulty.bind_fails_at = 1;
  faulty.bind_error = 98;
  EXPECT_EQ(Start(), 98);
  EXPECT_THAT(Console(),
              ElementsAre(kPreparing, kAdapter1,
                          ReportLine(msg::kWinsockError, {"SNTP-Init", "bind(<unbekannt> (10.0.0.2))", int64_t{98}})));
}

TEST_F(ServiceStartTest, SocketFailureEndsTheStartWithItsCode) {
  network.FailCreateSocketWith(24);
  EXPECT_EQ(Start(), 24);
  EXPECT_THAT(Console(),
              ElementsAre(kPreparing, ReportLine(msg::kWinsockError,
                                                 {"SNTP-Init", "socket(<unbekannt> (10.0.0.1))", int64_t{24}})));
}

TEST_F(ServiceStartTest, BroadcastModeFailureEndsTheStartWithItsCode) {
  rt.config.server_active = 1;
  rt.config.server_broadcast = 1;
  faulty.broadcast_fails_at = 0;
  faulty.broadcast_error = 13;
  EXPECT_EQ(Start(), 13);
  EXPECT_THAT(Console(), ElementsAre(kPreparing, ReportLine(msg::kAdapterBroadcastModeFailed,
                                                            {"<unbekannt>", "10.0.0.1", int64_t{13}})));
  EXPECT_FALSE(network.socket(0)->bound());
  EXPECT_TRUE(WaitFinished(rt.stop, std::chrono::milliseconds(0)));  // no broadcaster was started
}

TEST_F(ServiceStartTest, NetworkStartupFailureEndsTheStart) {
  network.FailStartupWith(97);
  EXPECT_EQ(Start(), 97);
  EXPECT_THAT(Console(),
              ElementsAre(kPreparing, ReportLine(msg::kWinsockError, {"SNTP-Init", "WSAStartup()", int64_t{97}})));
  EXPECT_TRUE(network.sockets().empty());
}

TEST_F(ServiceStartTest, NoUsableAdapterEndsWithFiftyFive) {
  network.SetInterfaceAddresses({Row("127.0.0.1")});
  rt.config.client_active = 1;
  EXPECT_EQ(Start(), kExitNoAdapter);
  EXPECT_EQ(kExitNoAdapter, 55);
  EXPECT_THAT(Console(), ElementsAre(kPreparing, ReportLine(msg::kNoUsableAdapter)));
}

// With WaitForNetwork the start reports the missing address once, tells the host and goes on
// in the usual order once an address comes.
TEST_F(ServiceStartTest, WaitForNetworkGoesOnOnceAnAddressComes) {
  network.SetInterfaceAddresses({Row("127.0.0.1")});
  rt.config.wait_for_network = 1;
  rt.config.client_active = 1;
  rt.config.client_broadcast = 1;
  std::atomic<int> waiting{0};
  hooks.waiting = [&waiting] { ++waiting; };
  std::future<int> result = std::async(std::launch::async, [this] { return Start(); });
  ASSERT_TRUE(Eventually([&] { return waiting == 1; }));
  network.SetInterfaceAddresses({Row("10.0.0.1")});
  faulty.address_changed();
  ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(result.get(), 0);
  EXPECT_EQ(waiting, 1);
  EXPECT_THAT(Console(), ElementsAre(kPreparing, ReportLine(msg::kNoUsableAdapter), kAdapter1,
                                     ReportLine(msg::kClientAcceptsBroadcasts), kStarted));
}

// A list of the hive that does not parse is reported at start and closes the server.
TEST_F(ServiceStartTest, BrokenAccessListIsReportedAndAnswersNobody) {
  rt.config.server_allow = "10.0.0.0/8 10.0.0.0/33";
  rt.config.client_active = 1;
  rt.config.client_broadcast = 1;
  ASSERT_EQ(Start(), 0);
  EXPECT_THAT(Console(), ::testing::Contains(ReportLine(msg::kAddressListInvalid, {"Server\\Allow", "10.0.0.0/33"})));
  EXPECT_FALSE(rt.protection.server.Admits(Endpoint("10.0.0.7", 123)));
}

TEST_F(ServiceStartTest, UnknownQueryTypeIsReportedThenNoAdapter) {
  rt.config.ip_query_type = "bogus";
  EXPECT_EQ(Start(), 55);
  EXPECT_THAT(Console(), ElementsAre(kPreparing, ReportLine(msg::kIpQueryTypeInvalid, {"bogus"}),
                                     ReportLine(msg::kNoUsableAdapter)));
}

TEST_F(ServiceStartTest, SecondInstanceEndsWithOneEightyThree) {
  EXPECT_STREQ(kInstanceMutexName, "Orbek.SNTP.Active.Mutex");
  std::unique_ptr<platform::NamedMutex> other;
  bool exists = false;
  ASSERT_FALSE(platform::NamedMutex::Create(kInstanceMutexName, &other, &exists));
  ASSERT_FALSE(exists);
  EXPECT_EQ(Start(), kExitAlreadyRunning);
  EXPECT_EQ(kExitAlreadyRunning, 183);
  EXPECT_THAT(Console(), ElementsAre(kPreparing, ReportLine(msg::kAlreadyRunning)));
  EXPECT_EQ(network.startup_calls(), 0);
  EXPECT_FALSE(rt.stop.release_instance);  // nothing of the other instance's to release

  // Once the other instance is gone the start succeeds, holds the mutex, and releases it at
  // the end of the receive loop.
  other.reset();
  ASSERT_EQ(Start(), 0);
  std::unique_ptr<platform::NamedMutex> probe;
  ASSERT_FALSE(platform::NamedMutex::Create(kInstanceMutexName, &probe, &exists));
  EXPECT_TRUE(exists);
  ASSERT_TRUE(rt.stop.release_instance);
  rt.stop.release_instance();
  ASSERT_FALSE(platform::NamedMutex::Create(kInstanceMutexName, &probe, &exists));
  EXPECT_FALSE(exists);
  EXPECT_TRUE(probe);
  rt.stop.release_instance = nullptr;
}

TEST_F(ServiceStartTest, ClientOnlyHostIgnoresTheServerAndRunsItsLastStepLast) {
  rt.server_part = false;
  rt.config.server_active = 1;
  rt.config.server_broadcast = 1;
  rt.config.client_active = 1;
  rt.config.client_broadcast = 0;
  std::vector<std::string> seen_by_last_step;
  hooks.last_step = [&](WorkerThreads&) {
    seen_by_last_step = Console();
    return 0;
  };
  ASSERT_EQ(Start(), 0);
  const std::vector<std::string> before_last = {kPreparing, kAdapter1, kAdapter2, ReportLine(msg::kClientModeInvalid)};
  EXPECT_THAT(seen_by_last_step, ElementsAreArray(before_last));
  std::vector<std::string> all = before_last;
  all.push_back(kStarted);
  EXPECT_THAT(Console(), ElementsAreArray(all));
  for (FakeUdpSocket* socket : network.sockets()) EXPECT_EQ(socket->enable_broadcast_calls(), 0);
  EXPECT_TRUE(WaitFinished(rt.stop, std::chrono::milliseconds(0)));
}

TEST_F(ServiceStartTest, FailingLastStepEndsTheStartWithItsCodeAndItsWorkersUnseen) {
  rt.server_part = false;
  rt.config.client_active = 1;
  rt.config.client_broadcast = 0;
  rt.config.client_time_source = "192.0.2.7";
  hooks.last_step = [](WorkerThreads&) { return kExitNoThread; };
  EXPECT_EQ(Start(), 155);
  // The poll thread it had started ends without a request or a report.
  EXPECT_TRUE(WaitFinished(rt.stop, std::chrono::seconds(5)));
  EXPECT_THAT(Console(), ElementsAre(kPreparing, kAdapter1, kAdapter2, ReportLine(msg::kClientStarted)));
  for (FakeUdpSocket* socket : network.sockets()) EXPECT_TRUE(socket->sent().empty());
}

// --- stop ------------------------------------------------------------------------------------------

// Runs the receive loop on a thread of its own; Ended() tells whether it ended within 2 s (if
// not, a datagram ends it so that the test can go on).
class LoopThread {
 public:
  LoopThread(Runtime& rt, FakeNetwork& network)
      : rt_(rt), network_(network), thread_([this, &rt] {
          ReceiveLoop(rt.Receive());
          returned_ = true;
        }) {}
  ~LoopThread() { Ended(); }
  bool Ended() {
    if (!thread_.joinable()) return ended_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < deadline && !returned_.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ended_ = returned_.load();
    if (!ended_) {
      rt_.stop.shutdown.Set();
      network_.socket(0)->Push({}, Endpoint("10.0.0.9", 123));
    }
    thread_.join();
    return ended_;
  }

 private:
  Runtime& rt_;
  FakeNetwork& network_;
  std::atomic<bool> returned_{false};
  std::thread thread_;
  bool ended_ = false;
};

// A stop that arrives while start-up creates the first or the second adapter socket: it leaves
// the half-filled adapter table alone, and the receive loop, once it runs, ends at once with
// one wake-up datagram and one wake of its waiter.
class StopDuringStartUpTest : public ServiceStartTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(StopDuringStartUpTest, LeavesTheTableAloneAndTheLoopWakesForIt) {
  faulty.on_create = [this](size_t index) {
    if (index != GetParam()) return;
    EXPECT_TRUE(RequestStop(rt.stop, rt.sockets));
    for (FakeUdpSocket* socket : network.sockets()) EXPECT_TRUE(socket->sent().empty()) << socket->index();
  };
  ASSERT_EQ(Start(), 0);
  faulty.on_create = nullptr;
  EXPECT_TRUE(network.socket(0)->sent().empty());
  LoopThread loop(rt, network);
  EXPECT_TRUE(loop.Ended()) << "the stop during start-up was lost";
  ASSERT_EQ(network.socket(0)->sent().size(), 1u);
  EXPECT_TRUE(network.socket(0)->sent()[0].bytes.empty());
  EXPECT_TRUE(network.socket(1)->sent().empty());
  EXPECT_EQ(network.wake_calls(), 1);
  const std::vector<std::string> console = Console();
  EXPECT_EQ(std::count(console.begin(), console.end(), ReportLine(msg::kStopRequestHandled)), 1);
}

INSTANTIATE_TEST_SUITE_P(AtEachSocket, StopDuringStartUpTest, ::testing::Values(size_t{0}, size_t{1}));

// The wake-up datagram cannot be sent (its address is gone, a firewall drops it): the waiter's
// own wake-up ends the loop all the same, and the failed send is reported.
TEST_F(ServiceStartTest, StopEndsTheLoopWhenTheWakeUpDatagramFails) {
  ASSERT_EQ(Start(), 0);
  LoopThread loop(rt, network);
  ASSERT_TRUE(rt.stop.start.Wait(2000));
  ASSERT_TRUE(Eventually([this] {
    std::lock_guard lock(rt.stop.mutex);
    return rt.stop.loop_waiter != nullptr;
  }));
  network.socket(0)->FailSendWith(101);
  EXPECT_TRUE(RequestStop(rt.stop, rt.sockets));
  EXPECT_TRUE(loop.Ended()) << "the stop waited for a datagram";
  EXPECT_THAT(Console(), ::testing::Contains(ReportLine(msg::kShutdownPacketFailed, {int64_t{101}})));
  EXPECT_EQ(network.wake_calls(), 1);
}

class StopTest : public ::testing::Test {
 protected:
  FakeUdpSocket* AddAdapter(std::string_view dotted) {
    AdapterEntry& entry = rt.sockets.adapters[count_++];
    entry.in_use = true;
    entry.name = "eth";
    entry.address = Endpoint(dotted, 123);
    EXPECT_FALSE(network.CreateUdpSocket(&entry.socket));
    EXPECT_FALSE(entry.socket->Bind(entry.address, false));
    return network.sockets().back();
  }

  // What the receive loop does when it starts: from then on a stop may use the table.
  void LoopStarted() {
    std::lock_guard lock(rt.stop.mutex);
    rt.stop.may_wake = true;
  }

  FakeNetwork network;
  Runtime rt;
  size_t count_ = 0;
  testing::ReportCapture capture{ReportTarget::kConsole};
};

TEST_F(StopTest, RequestStopSignalsAndWakesTheFirstAdapterSocket) {
  FakeUdpSocket* first = AddAdapter("10.0.0.1");
  FakeUdpSocket* second = AddAdapter("10.0.0.2");
  LoopStarted();
  EXPECT_FALSE(Signalled(rt.stop.shutdown));
  EXPECT_TRUE(RequestStop(rt.stop, rt.sockets));
  EXPECT_TRUE(Signalled(rt.stop.shutdown));
  EXPECT_THAT(capture.console(), ElementsAre(ReportLine(msg::kStopRequestHandled)));
  ASSERT_EQ(first->sent().size(), 1u);
  EXPECT_TRUE(first->sent()[0].bytes.empty());
  EXPECT_TRUE(testing::SameEndpoint(first->sent()[0].peer, Endpoint("10.0.0.1", 123)));
  EXPECT_EQ(first->pending(), 1u);  // it arrives on the socket the receive loop waits on
  EXPECT_TRUE(second->sent().empty());
}

TEST_F(StopTest, FailedWakeUpIsReportedAndStillCountsAsStopped) {
  FakeUdpSocket* first = AddAdapter("10.0.0.1");
  first->FailSendWith(101);
  LoopStarted();
  EXPECT_TRUE(RequestStop(rt.stop, rt.sockets));
  EXPECT_TRUE(Signalled(rt.stop.shutdown));
  EXPECT_THAT(capture.console(), ElementsAre(ReportLine(msg::kStopRequestHandled),
                                             ReportLine(msg::kShutdownPacketFailed, {int64_t{101}})));
}

TEST_F(StopTest, RequestStopWithoutAdaptersOnlySignals) {
  EXPECT_TRUE(RequestStop(rt.stop, rt.sockets));
  EXPECT_TRUE(Signalled(rt.stop.shutdown));
  EXPECT_THAT(capture.console(), ElementsAre(ReportLine(msg::kStopRequestHandled)));
}

TEST_F(StopTest, ConsoleControlHandlerStopsOnCtrlCAndCtrlBreakOnly) {
  FakeUdpSocket* first = AddAdapter("10.0.0.1");
  LoopStarted();
  for (uint32_t type : {2u, 5u, 6u}) {
    EXPECT_FALSE(ConsoleControlHandler(rt.stop, rt.sockets, type)) << type;
  }
  EXPECT_FALSE(Signalled(rt.stop.shutdown));
  EXPECT_THAT(capture.console(), IsEmpty());
  EXPECT_TRUE(first->sent().empty());

  for (uint32_t type : {kCtrlCEvent, kCtrlBreakEvent}) {
    EXPECT_TRUE(ConsoleControlHandler(rt.stop, rt.sockets, type)) << type;
  }
  EXPECT_TRUE(Signalled(rt.stop.shutdown));
  const std::string stopping = "SNTP-Control: Stoppe Simple Network Time Protocol.\n";
  EXPECT_THAT(capture.console(), ElementsAre(stopping, ReportLine(msg::kStopRequestHandled), stopping,
                                             ReportLine(msg::kStopRequestHandled)));
  EXPECT_EQ(first->sent().size(), 2u);
}

TEST_F(StopTest, FinishedWaitsForEveryWorkerAndTheReceiveActivity) {
  EXPECT_TRUE(WaitFinished(rt.stop, std::chrono::milliseconds(0)));  // nothing started counts as finished
  rt.stop.workers.Begin();
  platform::Event release;
  ASSERT_EQ(StartWorkerThread(rt.stop.workers, [&release] { release.Wait(platform::kInfinite); }), 0);
  EXPECT_FALSE(WaitFinished(rt.stop, std::chrono::milliseconds(20)));
  rt.stop.workers.End();
  EXPECT_FALSE(WaitFinished(rt.stop, std::chrono::milliseconds(20)));
  release.Set();
  EXPECT_TRUE(WaitFinished(rt.stop, std::chrono::seconds(5)));
  rt.stop.workers.Join();
  EXPECT_THAT(capture.console(), IsEmpty());
}

}  // namespace
}  // namespace chron
