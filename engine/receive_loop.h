// The receive loop: the last stage of the service's main thread. Reads every datagram that
// reaches an adapter socket, takes its arrival time, and dispatches it by length and Mode to
// the server responder or the client.
#pragma once

#include "engine/runtime.h"

namespace chron {

// Text of an NTP Mode for the trace of dropped messages, e.g. "3 (client)"; `mode` 0 to 7.
const char* ModeText(unsigned mode);

// Releases the workers (start event), then receives and dispatches until a pass finds the
// shutdown event signalled. Returns 0.
int ReceiveLoop(Runtime& rt);

}  // namespace chron
