// Win32: the watch over the system's IPv4 addresses and interfaces (Network::WatchAddresses),
// change notifications of the IP helper library.
#pragma once

#include <functional>
#include <memory>

#include "platform/network.h"

namespace chron::platform::win32 {

// A watch that calls `changed` on the IP helper library's threads after an IPv4 address or an
// interface changes, or null where the system offers no such notifications.
std::unique_ptr<AddressWatch> WatchIpHelper(const std::function<void()>& changed);

}  // namespace chron::platform::win32
