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

bool AddressesUsable(const DiscoverySource& source, const AdapterTable& rows) {
  int in_use = 0;
  for (const AdapterEntry& entry : rows) {
    if (!entry.in_use) continue;
    ++in_use;
    if (!Bindable(source.network, entry.address.address)) return false;
  }
  if (in_use > 0) return true;
  return source.config.ipv6 != 0 && !source.network.InterfaceAddresses6().empty();
}

int WaitForNetwork(const DiscoverySource& source, AdapterTable& rows, const RegistryDiscovery& registry_method,
                   platform::Event& shutdown, const std::function<void()>& waiting, std::chrono::milliseconds retry) {
  platform::Event changed;
  // Watching before the report, so that no change after it is missed; destroyed before
  // `changed`: no notification comes after it.
  const std::unique_ptr<platform::AddressWatch> watch = source.network.WatchAddresses([&changed] { changed.Set(); });
  ReportMessage(msg::kNoUsableAdapter);
  Trace("SNTP-Init: WaitForNetwork ist gesetzt, der SNTP Dienst wartet auf eine Netzwerkadresse.\n");
  if (waiting) waiting();
  auto next = std::chrono::steady_clock::now() + retry;
  for (;;) {
    if (shutdown.Wait(kStopSliceMs)) return kStoppedWhileWaiting;
    if (!changed.Wait(0) && std::chrono::steady_clock::now() < next) continue;
    changed.Reset();  // a change after this is looked at in the next round
    next = std::chrono::steady_clock::now() + retry;
    DiscoverAdapters(source, rows, registry_method);
    if (AddressesUsable(source, rows)) return 0;
  }
}

}  // namespace chron
