#include "engine/shutdown_wait.h"

namespace chron {

bool WaitForShutdown(Runtime& rt, int64_t timeout_ms) { return rt.shutdown.Wait(timeout_ms); }

}  // namespace chron
