// The SNTP client: the poll thread that sends requests to the configured time server, and the
// handler that judges replies and broadcasts and sets the clock.
#pragma once

#include "engine/ntp_message.h"
#include "engine/contexts.h"
#include "platform/network.h"

namespace chron {

// Thread routine of the poll client: after the start event, sends one request per
// `Client\PollInterval` seconds from the first adapter's socket until the shutdown event.
void ClientPollThread(const ClientContext& ctx);

// Resolves `Client\TimeSource` (dotted address or host name) to `out` with port 123.
// False after reporting 0xc100002a.
bool ResolveTimeServer(const ClientContext& ctx, platform::SocketAddress* out);

// Judges a reply (Mode 4) or broadcast (any other Mode) in host order with arrival time `t4`,
// and steps the clock by the offset unless the deviation limit forbids it. A reply counts only
// from the address and port the pending request went to, and only once.
// Returns 1 when the clock was set, 0 otherwise.
int ClientHandleMessage(const ClientContext& ctx, const NtpMessage& m, const NtpTimestamp& t4,
                        const platform::SocketAddress& from);

}  // namespace chron
