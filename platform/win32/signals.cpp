// Win32 implementation of the control requests: console events from SetConsoleCtrlHandler
// (Ctrl+C, Ctrl+Break, console closed) and the service controls that service_manager.cpp
// receives, all handed to one handler.
#include <mutex>

#include "platform/console.h"
#include "platform/signals.h"
#include "platform/win32/control.h"
#include "platform/win32/win32.h"

namespace chron::platform {

struct ControlSignalWatcher::State {
  Handler handler;
};

namespace {

// Held while a handler runs: one request at a time, in the order they arrive, and a watcher
// being destroyed waits for a running handler.
std::mutex g_watcher_mutex;
const ControlSignalWatcher::Handler* g_watcher = nullptr;  // the running watcher's

// The system calls this on a thread of its own for each console event.
BOOL WINAPI ConsoleRoutine(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT: return win32::DeliverControlSignal(ControlSignal::kInterrupt);
    case CTRL_BREAK_EVENT: return win32::DeliverControlSignal(ControlSignal::kBreak);
    case CTRL_CLOSE_EVENT: return win32::DeliverControlSignal(ControlSignal::kHangup);
    default: return FALSE;  // log-off and shut-down: the system's default handling
  }
}

}  // namespace

bool win32::DeliverControlSignal(ControlSignal signal) {
  std::lock_guard lock(g_watcher_mutex);
  if (g_watcher == nullptr) return false;
  (*g_watcher)(signal);
  return true;
}

// Nothing to block: the system delivers console events on threads of its own.
std::error_code BlockControlSignals() { return {}; }

std::error_code ControlSignalWatcher::Start(Handler handler, std::unique_ptr<ControlSignalWatcher>* out) {
  auto state = std::make_unique<State>();
  state->handler = std::move(handler);
  {
    std::lock_guard lock(g_watcher_mutex);
    g_watcher = &state->handler;
  }
  // A process without a console (a service) has no console events; that is no failure.
  SetConsoleCtrlHandler(ConsoleRoutine, TRUE);
  out->reset(new ControlSignalWatcher(std::move(state)));
  return {};
}

ControlSignalWatcher::ControlSignalWatcher(std::unique_ptr<State> state) : state_(std::move(state)) {}

ControlSignalWatcher::~ControlSignalWatcher() {
  SetConsoleCtrlHandler(ConsoleRoutine, FALSE);
  std::lock_guard lock(g_watcher_mutex);
  if (g_watcher == &state_->handler) g_watcher = nullptr;
}

// The default handling of a console event that no handler takes: the process ends at once with
// the status of an interrupted program.
void RestoreDefaultAndRaise(ControlSignal) {
  RestoreConsole();
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace chron::platform
