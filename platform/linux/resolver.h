// Linux: name resolution of the network facility (Network::ResolveHost and ResolveAny).
#pragma once

#include <string>
#include <string_view>
#include <system_error>

#include "platform/network.h"

namespace chron::platform::linux_net {

// getaddrinfo of `name` for `family` and `service`: the first address, the one the system
// prefers (RFC 6724 destination order). No error, or the error: getaddrinfo's own codes
// (negative) with gai_strerror's texts, a system failure (EAI_SYSTEM) with its errno value.
std::error_code Resolve(std::string_view name, int family, const char* service, SocketAddress* address);

}  // namespace chron::platform::linux_net
