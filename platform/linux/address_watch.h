// Linux: the watch over the system's IPv4 addresses and network links
// (Network::WatchAddresses), a netlink socket read by a thread of its own.
#pragma once

#include <functional>
#include <memory>

#include "platform/network.h"

namespace chron::platform::linux_net {

// A watch that calls `changed` after each burst of address and link messages, or null where
// the netlink socket cannot be opened.
std::unique_ptr<AddressWatch> WatchNetlink(const std::function<void()>& changed);

}  // namespace chron::platform::linux_net
