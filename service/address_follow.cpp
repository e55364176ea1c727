#include "service/address_follow.h"

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <utility>

#include "messages/report.h"
#include "service/adapters.h"
#include "service/service_start.h"

namespace chron {
namespace {

using InterfaceOf = std::map<uint32_t, uint32_t>;  // address (network byte order) -> interface index

InterfaceOf Interfaces(platform::Network& network) {
  InterfaceOf result;
  for (const platform::InterfaceAddress& row : network.InterfaceAddresses()) result[row.address] = row.interface_index;
  return result;
}

uint32_t IndexOf(const InterfaceOf& interfaces, uint32_t address) {
  const auto found = interfaces.find(address);
  return found == interfaces.end() ? 0 : found->second;
}

class Follower {
 public:
  Follower(const FollowContext& context, RegistryDiscovery registry_method)
      : cx_(context), registry_method_(std::move(registry_method)), interfaces_(Interfaces(context.source.network)) {}

  void Follow() {
    AdapterTable found;  // the rows discovery finds now, without sockets
    DiscoverAdapters(cx_.source, found, registry_method_);
    const InterfaceOf now = Interfaces(cx_.source.network);

    // The rows of the new table: a row of the old one where the address stays on the same
    // interface, otherwise a new socket.
    AdapterTable next;
    std::array<int, kMaxAdapters> taken_from{};
    std::array<bool, kMaxAdapters> kept{};
    size_t filled = 0;
    bool changed = false;
    for (const AdapterEntry& entry : found) {
      if (!entry.in_use) continue;
      const int old = KeptRow(entry.address.address, now, kept);
      AdapterEntry& row = next[filled];
      row.in_use = true;
      row.name = entry.name;
      row.address = entry.address;
      taken_from[filled] = old;
      if (old >= 0) {
        kept[static_cast<size_t>(old)] = true;
        row.address.port = cx_.sockets.adapters[static_cast<size_t>(old)].address.port;
        changed = changed || old != static_cast<int>(filled);
      } else {
        changed = true;
        if (OpenAdapterSocket(cx_.source.network, cx_.roles, row) != 0) {  // reported; the address stays without a row
          row = AdapterEntry{};
          continue;
        }
      }
      ++filled;
    }
    for (size_t i = 0; i < cx_.sockets.adapters.size(); ++i) {
      const AdapterEntry& entry = cx_.sockets.adapters[i];
      if (!entry.in_use || kept[i]) continue;
      changed = true;
      Trace("SNTP-Init: Der Netzwerkadapter %s (%s) ist nicht mehr verfügbar.\n", entry.name.c_str(),
            platform::DottedAddress(entry.address.address).c_str());
    }
    interfaces_ = now;
    if (!changed) return;
    {
      std::lock_guard stop_lock(cx_.stop.mutex);
      std::unique_lock table_lock(cx_.sockets.adapters_mutex);
      for (size_t i = 0; i < filled; ++i) {
        if (taken_from[i] >= 0)
          next[i].socket = std::move(cx_.sockets.adapters[static_cast<size_t>(taken_from[i])].socket);
      }
      cx_.sockets.adapters.swap(next);
    }
    // `next` now holds the old table: the sockets of the addresses that are gone close here.
  }

 private:
  int KeptRow(uint32_t address, const InterfaceOf& now, const std::array<bool, kMaxAdapters>& kept) const {
    for (size_t i = 0; i < cx_.sockets.adapters.size(); ++i) {
      const AdapterEntry& entry = cx_.sockets.adapters[i];
      if (kept[i] || !entry.in_use || !entry.socket || entry.address.address != address) continue;
      if (IndexOf(interfaces_, address) == IndexOf(now, address)) return static_cast<int>(i);
    }
    return -1;
  }

  FollowContext cx_;
  RegistryDiscovery registry_method_;
  InterfaceOf interfaces_;  // where the addresses of the table's sockets were
};

}  // namespace

std::function<void()> AddressFollower(const FollowContext& context, RegistryDiscovery registry_method) {
  auto follower = std::make_shared<Follower>(context, std::move(registry_method));
  return [follower] { follower->Follow(); };
}

}  // namespace chron
