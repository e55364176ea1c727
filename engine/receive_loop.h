// The receive loop: the last stage of the service's main thread. Reads every datagram that
// reaches an adapter socket, takes its arrival time, and dispatches it by length and Mode to
// the server responder or the client.
#pragma once

#include "engine/receive_state.h"
#include "engine/contexts.h"

namespace chron {

// Text of an NTP Mode for the trace of dropped messages, e.g. "3 (client)"; `mode` 0 to 7.
const char* ModeText(unsigned mode);

// Reads one datagram from `socket` (an adapter's), takes its arrival time and acts on it:
// the server's reply, the client's judgement, or a trace of why it is ignored. `state` is the
// loop's own, kept from pass to pass.
void ReceiveOne(const ReceiveContext& ctx, ReceiveState& state, platform::UdpSocket& socket);

// Releases the workers (start event), then receives and dispatches until a pass finds the
// shutdown event signalled.
void ReceiveLoop(const ReceiveContext& ctx);

// Wakes the receive loop for a stop: the zero-length datagram from the first adapter entry's
// socket to that entry's own address (a failed send is reported as kShutdownPacketFailed) and the
// waiter's own wake-up beside it. Before the loop has started it does nothing: the loop wakes
// itself for a stop it finds already requested.
void WakeReceiveLoop(StopControl& stop, Sockets& sockets);

}  // namespace chron
