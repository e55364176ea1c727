// Unnamed manual-reset event within one process. Its waits cannot fail.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace chron::platform {

enum class WaitResult { kSignalled, kTimeout, kFailed };
inline constexpr int64_t kInfinite = -1;

class Event {
 public:
  void Set();
  void Reset();
  // Waits up to `timeout_ms` milliseconds (kInfinite: no limit, 0: test only); true when the
  // event is signalled, false after the time-out.
  bool Wait(int64_t timeout_ms);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace chron::platform
