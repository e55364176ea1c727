#include "platform/event.h"

#include <chrono>

namespace chron::platform {

void Event::Set() {
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
  }
  cv_.notify_all();
}

void Event::Reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

bool Event::Wait(int64_t timeout_ms) {
  std::unique_lock lock(mutex_);
  // A test must not enter the kernel: the receive loop tests the event after every datagram.
  if (timeout_ms == 0) return signalled_;
  if (timeout_ms == kInfinite) {
    cv_.wait(lock, [this] { return signalled_; });
    return true;
  }
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return signalled_; });
}

}  // namespace chron::platform
