// The adapter that a poll request leaves from. Its socket's address is where the server sends
// the reply, so it must be one the server can reach: the address the system itself would send
// from, which on a host with several networks is not the first one of the table.
#pragma once

#include <cstdint>

#include "engine/sockets.h"
#include "platform/network.h"

namespace chron {

// The row of the table whose address the system's routing table chooses as source for
// `server` (network byte order); row 0, the first adapter, where the system cannot tell or
// the chosen address has no row of its own (a row bound to 0.0.0.0 sends from any address).
int RequestAdapter(const AdapterTable& adapters, platform::Network& network, uint32_t server);

}  // namespace chron
