#include "engine/shutdown_wait.h"

namespace chron {

bool WaitForShutdown(platform::Event& shutdown, int64_t timeout_ms) { return shutdown.Wait(timeout_ms); }

}  // namespace chron
