#include "service/service_start.h"

#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "config/configuration.h"
#include "config/keys.h"
#include "engine/auth.h"
#include "engine/client.h"
#include "engine/clock_discipline.h"
#include "engine/protection.h"
#include "engine/receive_loop.h"
#include "engine/server.h"
#include "messages/report.h"
#include "platform/named_mutex.h"
#include "service/address_follow.h"
#include "service/adapters.h"
#include "service/network_wait.h"
#include "service/nts_start.h"

namespace chron {
namespace {

std::string AdapterText(const AdapterEntry& entry) {
  return entry.name + " (" + platform::DottedAddress(entry.address.address) + ")";
}

// Opens and binds the socket of every adapter entry in use; 0, or the error that ends the start.
int OpenAdapterSockets(platform::Network& network, const Roles& roles, AdapterTable& table, int* counted) {
  *counted = 0;
  for (AdapterEntry& entry : table) {
    if (!entry.in_use) continue;
    if (const int error = OpenAdapterSocket(network, roles, entry); error != 0) return error;
    ++*counted;
  }
  return 0;
}

// With the value "IPv6" set: the IPv6 socket on every IPv6 address of the host. A failure, or a
// host without IPv6 addresses, is reported and leaves the service on IPv4, where the poll client
// resolves names to IPv4 addresses alone.
void OpenIpv6Socket(const Configuration& config, platform::Network& network, Sockets& sockets) {
  if (config.ipv6 == 0) return;
  std::unique_ptr<platform::UdpSocket> socket;
  std::error_code error = network.CreateUdpSocket6(&socket);
  if (error) {
    ReportMessage(msg::kWinsockError, {std::string("SNTP-Init"), std::string("socket(IPv6)"), int64_t{error.value()}});
    return;
  }
  platform::SocketAddress any;
  any.family = platform::kAfInet6;
  any.port = platform::HostToNetwork16(kNtpPort);
  error = socket->Bind(any, false);
  if (error) {
    ReportMessage(msg::kWinsockError, {std::string("SNTP-Init"), std::string("bind(IPv6)"), int64_t{error.value()}});
    return;
  }
  // Where IPv6 is switched off, socket and bind may still succeed, and only every send would
  // fail: a host with no IPv6 address at all (not even ::1) has none to serve or poll from.
  const std::vector<platform::InterfaceAddress6> rows = network.InterfaceAddresses6();
  if (rows.empty()) {
    ReportMessage(msg::kIpv6Unavailable);
    return;
  }
  sockets.ipv6_socket = std::move(socket);
  for (const platform::InterfaceAddress6& row : rows) {
    platform::SocketAddress address;
    address.family = platform::kAfInet6;
    address.address6 = row.address;
    address.scope_id = row.scope_id;
    Trace("SNTP-Init: IPv6-Adresse %s (%s) ist betriebsbereit.\n", platform::AddressText(address).c_str(),
          row.interface.c_str());
  }
}

}  // namespace

int OpenAdapterSocket(platform::Network& network, const Roles& roles, AdapterEntry& entry) {
  entry.address.port = platform::HostToNetwork16(kNtpPort);
  std::error_code error = network.CreateUdpSocket(&entry.socket);
  if (error) {
    ReportMessage(msg::kWinsockError, {"SNTP-Init", "socket(" + AdapterText(entry) + ")", int64_t{error.value()}});
    return error.value();
  }
  if (roles.server_broadcasts) {
    error = entry.socket->EnableBroadcast();
    if (error) {
      ReportMessage(msg::kAdapterBroadcastModeFailed,
                    {entry.name, platform::DottedAddress(entry.address.address), int64_t{error.value()}});
      return error.value();
    }
  }
  error = entry.socket->Bind(entry.address, roles.client_accepts_broadcasts);
  if (error) {
    ReportMessage(msg::kWinsockError, {"SNTP-Init", "bind(" + AdapterText(entry) + ")", int64_t{error.value()}});
    return error.value();
  }
  ReportMessage(msg::kAdapterReady, {entry.name, platform::DottedAddress(entry.address.address)});
  return 0;
}

int StartWorkerThread(WorkerThreads& workers, std::function<void()> body) {
  const std::error_code error = workers.Start(std::move(body));
  if (!error) return 0;
  ReportMessage(msg::kThreadCreateFailed, {error.message()});
  return kExitNoThread;
}

namespace {

// A worker of the client or the server: released by the receive loop's start, or by a start-up
// that failed after it had been started, which it leaves unseen.
std::function<void()> AfterStart(StopControl& stop, std::function<void()> body) {
  return [&stop, body = std::move(body)] {
    stop.start.Wait(platform::kInfinite);  // a failed wait is the body's to report
    if (!stop.start_abandoned) body();
  };
}

// The instance mutex, open to everyone on the machine (on Linux no security descriptor is
// needed), held from here until the receive loop ends. 0, or the exit code of the start.
int HoldInstance(StopControl& stop) {
  bool already_exists = false;
  std::unique_ptr<platform::NamedMutex> instance_mutex;
  if (const std::error_code error =
          platform::NamedMutex::Create(kInstanceMutexName, &instance_mutex, &already_exists)) {
    Trace("CreateMutex() = %d\n", error.value());
    ReportMessage(msg::kInstanceCheckFailed);  // its text has no place for the error text
    return error.value();
  }
  if (already_exists) {
    ReportMessage(msg::kAlreadyRunning);
    return kExitAlreadyRunning;
  }
  stop.release_instance = [held = std::shared_ptr<platform::NamedMutex>(std::move(instance_mutex))]() mutable {
    held.reset();
  };
  return 0;
}

// The server's broadcast thread and the client's poll thread, where the settings ask for them,
// with their reports. kExitNoThread when one cannot be started.
int StartServerAndClient(const ServerContext& server, const ClientContext& client) {
  if (client.roles.server_active) {
    if (server.config.server_broadcast != 0) {
      ReportMessage(msg::kBroadcastInterval, {int64_t{server.config.server_broadcast_interval}});
      if (StartWorkerThread(server.stop.workers, AfterStart(server.stop, [server] { BroadcastThread(server); })) != 0)
        return kExitNoThread;
      ReportMessage(msg::kServerStarted);
    } else {
      ReportMessage(msg::kBroadcastsOff);
    }
  }
  if (client.roles.client_active) {
    if (client.config.client_broadcast != 0) {
      // With Client\NTS the client takes no broadcasts (ReportNtsSettings says so).
      if (client.roles.client_accepts_broadcasts) ReportMessage(msg::kClientAcceptsBroadcasts);
    } else if (client.config.client_time_source.empty()) {
      ReportMessage(msg::kClientModeInvalid);
    } else {
      if (StartWorkerThread(client.stop.workers, AfterStart(client.stop, [client] { ClientPollThread(client); })) != 0)
        return kExitNoThread;
      ReportMessage(msg::kClientStarted);
    }
  }
  return 0;
}

int StartUp(Runtime& rt, const StartHooks& hooks, uint32_t* specific_exit_code) {
  *specific_exit_code = 0;
  ReportMessage(msg::kServicePreparing);
  std::string clock = rt.clock->Description();
  if (!clock.empty()) Trace("SNTP-Debug: %s\n", clock.c_str());

  if (const int held = HoldInstance(rt.stop); held != 0) return held;
  if (const std::error_code startup = rt.network->Startup()) {
    ReportMessage(msg::kWinsockError, {"SNTP-Init", "WSAStartup()", int64_t{startup.value()}});
    return startup.value();
  }
  rt.protection = ProtectionOf(rt.config);
  ReportListFaults(rt.protection);
  rt.auth = LoadAuthentication(rt.config);
  rt.client.discipline = StartDiscipline(rt.config, *rt.clock);

  // A discovery that failed (a value of IPQueryType it does not know, bindings missing from the
  // registry) is the settings' fault, which no waiting mends.
  const DiscoverySource source{rt.config, *rt.network, rt.registry};
  AdapterTable& table = rt.sockets.adapters;
  if (DiscoverAdapters(source, table, hooks.registry_discovery) && rt.config.wait_for_network != 0 &&
      !AddressesUsable(source, table)) {
    const int waited = WaitForNetwork(source, table, hooks.registry_discovery, rt.stop.shutdown, hooks.waiting);
    if (waited != 0) return waited;
  }
  int counted = 0;
  int error = OpenAdapterSockets(*rt.network, rt.roles(), table, &counted);
  if (error != 0) return error;
  OpenIpv6Socket(rt.config, *rt.network, rt.sockets);
  if (counted == 0 && !rt.sockets.ipv6_socket) {
    ReportMessage(msg::kNoUsableAdapter);
    return kExitNoAdapter;
  }
  rt.sockets.follow_addresses = AddressFollower({source, rt.roles(), rt.sockets, rt.stop}, hooks.registry_discovery);
  PrepareNts(rt.config, rt.roles(), *rt.clock, rt.status, rt.nts);
  rt.nts_ke = rt.nts.ke_client.get();
  if (nts::NtsKeServer* ke = rt.nts.ke_server.get()) {
    rt.nts_keys = &rt.nts.server_keys;
    rt.status.NtsServing();
    if (StartWorkerThread(rt.stop.workers, AfterStart(rt.stop, [ke, &stop = rt.stop] { ke->Run(stop.shutdown); })) != 0)
      return kExitNoThread;
  }
  // The shutdown and start events are created with the runtime record and cannot fail here.

  if (StartServerAndClient(rt.Server(), rt.Client()) != 0) return kExitNoThread;
  if (hooks.last_step) {
    error = hooks.last_step(rt.stop.workers);
    if (error != 0) return error;
  }
  ReportMessage(msg::kServiceInitialised);
  return 0;
}

}  // namespace

int ServiceStart(Runtime& rt, const StartHooks& hooks, uint32_t* specific_exit_code) {
  const int code = StartUp(rt, hooks, specific_exit_code);
  if (code != 0) {
    rt.stop.start_abandoned = true;
    rt.stop.start.Set();
  }
  return code;
}

bool RequestStop(StopControl& stop, Sockets& sockets) {
  stop.shutdown.Set();
  ReportMessage(msg::kStopRequestHandled);
  WakeReceiveLoop(stop, sockets);
  return true;
}

bool ConsoleControlHandler(StopControl& stop, Sockets& sockets, uint32_t type) {
  if (type != kCtrlCEvent && type != kCtrlBreakEvent) return false;
  WriteConsole("SNTP-Control: Stoppe Simple Network Time Protocol.\n");
  RequestStop(stop, sockets);
  return true;
}

void HandleConsoleSignal(StopControl& stop, Sockets& sockets, platform::ControlSignal signal) {
  uint32_t type = signal == platform::ControlSignal::kInterrupt ? kCtrlCEvent
                  : signal == platform::ControlSignal::kBreak   ? kCtrlBreakEvent
                                                                : kCtrlCloseEvent;
  if (!ConsoleControlHandler(stop, sockets, type)) platform::RestoreDefaultAndRaise(signal);
}

bool WaitFinished(StopControl& stop, std::chrono::milliseconds limit) { return stop.workers.WaitEnded(limit); }

}  // namespace chron
