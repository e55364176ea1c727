// Start-up and stop of a service, shared by chronsvc and chron95.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "config/named_objects.h"
#include "engine/runtime.h"
#include "platform/signals.h"

namespace chron {

inline constexpr int kExitAlreadyRunning = 183;  // ERROR_ALREADY_EXISTS
inline constexpr int kExitNoAdapter = 55;
inline constexpr int kExitNoThread = 155;

// What differs between the hosts at start-up.
struct StartHooks {
  // The registry method of adapter discovery (Windows NT bindings, or the Windows 95 classes).
  std::function<bool(Runtime&)> registry_discovery;
  // chron95: starts its shutdown watcher as the last step; returns 0 or an exit code.
  std::function<int(Runtime&)> last_step;
  // With "WaitForNetwork" set, once when the start finds no usable address and begins to wait
  // for one: the host tells its service manager that it runs.
  std::function<void()> waiting;
};

// The start-up sequence; 0 or the error code that ends the start, or kStoppedWhileWaiting
// (network_wait.h) for a stop while it waited for the network. Stores 0 in
// `specific_exit_code`. A failed start releases the workers it started, which then end unseen.
int ServiceStart(Runtime& rt, const StartHooks& hooks, uint32_t* specific_exit_code);

// Signals the shutdown event, reports it, and wakes the receive loop (WakeReceiveLoop: the
// zero-length datagram to the first adapter's own address and the waiter's wake-up; a stop
// during start-up wakes the loop when it starts). False only when the event could not be set.
bool RequestStop(Runtime& rt);

// Waits up to `limit` for the workers and the start-up and receive loop (counted as an activity
// by the host) to end; true when all have ended.
bool WaitFinished(Runtime& rt, std::chrono::milliseconds limit);

inline constexpr uint32_t kCtrlCEvent = 0;
inline constexpr uint32_t kCtrlBreakEvent = 1;
inline constexpr uint32_t kCtrlCloseEvent = 2;

// Debug mode: Ctrl+C and Ctrl+Break print the stop line and call RequestStop (true: handled);
// any other console event returns false and keeps the default handling (the process ends).
bool ConsoleControlHandler(Runtime& rt, uint32_t type);
// Debug mode: a control signal as the console delivers it.
void HandleConsoleSignal(Runtime& rt, platform::ControlSignal signal);

// Starts `body` on one of `workers`; 0, or kExitNoThread after reporting why no thread could be
// had.
int StartWorkerThread(WorkerThreads& workers, std::function<void()> body);

// Opens the socket of an adapter entry, allows it to broadcast when the server broadcasts, binds
// it to the entry's address and port 123 and reports it ready; 0, or the error it reported.
int OpenAdapterSocket(Runtime& rt, AdapterEntry& entry);

}  // namespace chron
