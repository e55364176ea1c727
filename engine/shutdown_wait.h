// The engine's wait on the shutdown event between passes, with the pause after failures.
#pragma once

#include <cstdint>

#include "engine/runtime.h"

namespace chron {

// Pause after a failed select or send before the next try, in milliseconds.
inline constexpr int64_t kFailureBackoffMs = 100;

// Waits up to `timeout_ms` milliseconds on the shutdown event; true when it is signalled.
bool WaitForShutdown(Runtime& rt, int64_t timeout_ms);

}  // namespace chron
