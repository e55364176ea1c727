#include "service/network_wait.h"

#include <memory>

#include "config/configuration.h"
#include "messages/report.h"
#include "platform/event.h"
#include "service/adapters.h"

namespace chron {
namespace {

// How long a stop may go unseen while waiting, in milliseconds.
constexpr int64_t kStopSliceMs = 100;

bool Bindable(platform::Network& network, uint32_t address) {
  std::unique_ptr<platform::UdpSocket> socket;
  if (network.CreateUdpSocket(&socket)) return false;
  // Port 0: any free port, so that the probe never holds port 123 of an earlier instance's.
  return !socket->Bind(platform::SocketAddress{platform::kAfInet, 0, address}, false);
}

}  // namespace

bool AddressesUsable(Runtime& rt) {
  int rows = 0;
  for (const AdapterEntry& entry : rt.sockets.adapters) {
    if (!entry.in_use) continue;
    ++rows;
    if (!Bindable(*rt.network, entry.address.address)) return false;
  }
  if (rows > 0) return true;
  if (rt.registry != nullptr) ReadIpv6Setting(*rt.registry, &rt.config);
  return rt.config.ipv6 != 0 && !rt.network->InterfaceAddresses6().empty();
}

int WaitForNetwork(Runtime& rt, const std::function<bool(Runtime&)>& registry_method,
                   const std::function<void()>& waiting, std::chrono::milliseconds retry) {
  platform::Event changed;
  // Watching before the report, so that no change after it is missed; destroyed before
  // `changed`: no notification comes after it.
  const std::unique_ptr<platform::AddressWatch> watch = rt.network->WatchAddresses([&changed] { changed.Set(); });
  ReportMessage(msg::kNoUsableAdapter);
  Trace("SNTP-Init: WaitForNetwork ist gesetzt, der SNTP Dienst wartet auf eine Netzwerkadresse.\n");
  if (waiting) waiting();
  auto next = std::chrono::steady_clock::now() + retry;
  for (;;) {
    if (rt.stop.shutdown.Wait(kStopSliceMs)) return kStoppedWhileWaiting;
    if (!changed.Wait(0) && std::chrono::steady_clock::now() < next) continue;
    changed.Reset();  // a change after this is looked at in the next round
    next = std::chrono::steady_clock::now() + retry;
    DiscoverAdapters(rt, registry_method);
    if (AddressesUsable(rt)) return 0;
  }
}

}  // namespace chron
