// Named manual-reset event shared by all processes of one machine.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/event.h"

namespace chron::platform {

// The event exists while at least one handle to it is open, in any process. Whoever opens it
// while no handle exists gets a new event, not signalled, even if the last holder crashed while
// it was signalled. A "machine" is the network namespace: the same name on another test host is
// another event. Handles are not inherited by programs started with exec; a child created by
// fork shares the parent's handles.
class NamedEvent {
 public:
  // Creates the event not signalled, or opens the existing one in its current state; then
  // *opened_existing (may be null) says which. No error and *out set, or the system's error (an
  // errno value on Linux, a Win32 code on Windows) with *out empty.
  static std::error_code Create(std::string_view name, std::unique_ptr<NamedEvent>* out,
                                bool* opened_existing = nullptr);

  // Where the event of `name` lives on this machine, for reports (on Linux its file under
  // /dev/shm); empty when that cannot be told.
  static std::string Location(std::string_view name);

  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  // Signals the event and releases every waiter of every process. No error, or the system's.
  std::error_code Set();
  // Returns the event to not signalled. No error, or the system's.
  std::error_code Reset();
  // Waits up to `timeout_ms` milliseconds (kInfinite: no limit, 0: test only). A waiter is
  // released by a Set that happens while it waits even if a Reset follows at once.
  WaitResult Wait(int64_t timeout_ms);

 private:
  NamedEvent(int handle, std::atomic<uint32_t>* state, std::string path, int owner)
      : handle_(handle), state_(state), path_(std::move(path)), owner_(owner) {}
  int handle_;
  // Shared state word: bit 0 = signalled, bits 1-31 = number of Sets that found it not signalled.
  std::atomic<uint32_t>* state_;
  std::string path_;  // where the object is named
  int owner_;         // process that opened the handle; a forked copy never removes the name
};

}  // namespace chron::platform
