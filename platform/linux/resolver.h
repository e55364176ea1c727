// Linux: name resolution of the network facility (Network::ResolveHost and ResolveAny).
#pragma once

#include <string>
#include <string_view>
#include <system_error>

#include "platform/network.h"

namespace chron::platform::linux_net {

// getaddrinfo of `name` for `family` and `service`: the first address, the one the system
// prefers (RFC 6724 destination order). No error, or the error with its text.
std::error_code Resolve(std::string_view name, int family, const char* service, SocketAddress* address,
                        std::string* error_text);

}  // namespace chron::platform::linux_net
