// Following the system's addresses while the service runs: an address that appears gets a
// socket of its own and is reported ready like one found at start-up, the socket of an address
// that is gone is closed, and an address whose interface was made anew gets a new socket
// (the receive-only companions of the old one listened on the old interface).
#pragma once

#include <functional>

#include "engine/contexts.h"
#include "service/adapters.h"

namespace chron {

// What following works with: discovery's sources, which sockets the parts need (roles), the
// table it brings up to date and the stop control, whose mutex it holds while it swaps the table.
struct FollowContext {
  DiscoverySource source;
  Roles roles;
  Sockets& sockets;
  StopControl& stop;
};

// Sockets::follow_addresses: discovers the adapters again by the configured method
// (`registry_method` as for DiscoverAdapters) and brings the table and its sockets up to date.
std::function<void()> AddressFollower(const FollowContext& context, RegistryDiscovery registry_method);

}  // namespace chron
