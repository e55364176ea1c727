#include "engine/shutdown_wait.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include "messages/report.h"

namespace chron {

bool WaitForShutdown(platform::Event& shutdown, int64_t timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  int64_t remaining = timeout_ms;
  for (;;) {
    switch (shutdown.Wait(remaining)) {
      case platform::WaitResult::kSignalled: return true;
      case platform::WaitResult::kTimeout: return false;
      case platform::WaitResult::kFailed:
        ReportMessage(msg::kShutdownTestFailed, {std::string(SystemErrorText(static_cast<uint32_t>(errno)))});
        break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kFailureBackoffMs));
    remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (remaining <= 0) return false;
  }
}

}  // namespace chron
