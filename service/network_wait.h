// Waiting for the network at start-up (the product key's value "WaitForNetwork"): a start that
// finds no usable address reports so once, tells its service manager that it runs and looks
// again until an address is there, instead of ending with 55.
#pragma once

#include <chrono>
#include <functional>

#include "platform/event.h"
#include "service/adapters.h"

namespace chron {

// What the start returns when a stop came while it waited for the network: it did not complete,
// and the host ends as after a stop (exit status 0).
inline constexpr int kStoppedWhileWaiting = -1;

// How often the wait looks again when the system tells of no change.
inline constexpr std::chrono::milliseconds kNetworkRetry{5000};

// True when the adapter table found by discovery can be used: it has rows and each row's address
// can be bound now (a socket on port 0 of it, closed again; a configured address that is not yet
// the host's fails), or it has none and IPv6 is on with IPv6 addresses on the host.
bool AddressesUsable(const DiscoverySource& source, const AdapterTable& rows);

// Reports 0xc100001a once, calls `waiting`, then discovers the adapters again (as
// DiscoverAdapters, into `rows`) every `retry` and after every address change the
// system tells of, until AddressesUsable: 0, or kStoppedWhileWaiting as soon as the shutdown
// event is set.
int WaitForNetwork(const DiscoverySource& source, AdapterTable& rows, const RegistryDiscovery& registry_method,
                   platform::Event& shutdown, const std::function<void()>& waiting,
                   std::chrono::milliseconds retry = kNetworkRetry);

}  // namespace chron
