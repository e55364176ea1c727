// A poll client's time source given as an IPv6 address or a name of either family, taken when
// the value "IPv6" is set and `Client\TimeSource` is no dotted IPv4 address.
#pragma once

#include <string_view>

#include "engine/contexts.h"

namespace chron {

// The address inside brackets ("[fe80::1%eth0]" -> "fe80::1%eth0"); other text as it is.
std::string_view WithoutBrackets(std::string_view text);

// Resolves `Client\TimeSource` (an IPv6 address, bare or bracketed, with a zone for a
// link-local one, or a name) to the first address the system orders (RFC 6724), IPv6 or IPv4,
// port 123. False after reporting 0xc100002a.
bool ResolveAnyTimeServer(const ClientContext& ctx, platform::SocketAddress* out);

}  // namespace chron
