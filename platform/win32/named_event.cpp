// Win32 implementation of the named manual-reset event: CreateEventW with the name. The kernel
// keeps the event while a handle is open and hands a new, not signalled one to whoever opens the
// name after the last handle has gone. (The machine is the Wine prefix, or the Windows session.)

#include "platform/error_text.h"
#include "platform/named_event.h"
#include "platform/win32/win32.h"

namespace chron::platform {

std::error_code NamedEvent::Create(std::string_view name, std::unique_ptr<NamedEvent>* out, bool* opened_existing) {
  out->reset();
  // No security attributes, manual reset, initially not signalled.
  HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, win32::Widen(name).c_str());
  if (handle == nullptr) return SystemError(static_cast<int>(GetLastError()));
  if (opened_existing != nullptr) *opened_existing = GetLastError() == ERROR_ALREADY_EXISTS;
  out->reset(
      new NamedEvent(win32::HandleToInt(handle), nullptr, std::string(name), static_cast<int>(GetCurrentProcessId())));
  return {};
}

// The kernel's object directory of the session: "BaseNamedObjects\<name>".
std::string NamedEvent::Location(std::string_view name) { return "BaseNamedObjects\\" + std::string(name); }

NamedEvent::~NamedEvent() { CloseHandle(win32::IntToHandle(handle_)); }

std::error_code NamedEvent::Set() {
  return SetEvent(win32::IntToHandle(handle_)) ? std::error_code() : SystemError(static_cast<int>(GetLastError()));
}

std::error_code NamedEvent::Reset() {
  return ResetEvent(win32::IntToHandle(handle_)) ? std::error_code() : SystemError(static_cast<int>(GetLastError()));
}

WaitResult NamedEvent::Wait(int64_t timeout_ms) {
  const DWORD timeout = timeout_ms == kInfinite                        ? INFINITE
                        : timeout_ms >= static_cast<int64_t>(INFINITE) ? INFINITE - 1
                                                                       : static_cast<DWORD>(timeout_ms);
  switch (WaitForSingleObject(win32::IntToHandle(handle_), timeout)) {
    case WAIT_OBJECT_0: return WaitResult::kSignalled;
    case WAIT_TIMEOUT: return WaitResult::kTimeout;
    default: return WaitResult::kFailed;
  }
}

}  // namespace chron::platform
