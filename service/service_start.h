// Start-up and stop of a service, shared by chronsvc and chron95.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "config/named_objects.h"
#include "engine/runtime.h"
#include "service/adapters.h"
#include "platform/signals.h"

namespace chron {

inline constexpr int kExitAlreadyRunning = 183;  // ERROR_ALREADY_EXISTS
inline constexpr int kExitNoAdapter = 55;
inline constexpr int kExitNoThread = 155;

// What differs between the hosts at start-up.
struct StartHooks {
  // The registry method of adapter discovery (Windows NT bindings, or the Windows 95 classes).
  RegistryDiscovery registry_discovery;
  // chron95: starts its shutdown watcher on `workers` as the last step; returns 0 or an exit code.
  std::function<int(WorkerThreads& workers)> last_step;
  // With "WaitForNetwork" set, once when the start finds no usable address and begins to wait
  // for one: the host tells its service manager that it runs.
  std::function<void()> waiting;
};

// The start-up sequence; 0 or the error code that ends the start, or kStoppedWhileWaiting
// (network_wait.h) for a stop while it waited for the network. Stores 0 in
// `specific_exit_code`. A failed start releases the workers it started, which then end unseen.
// The one function that sees every part of the service: it fills them, and hands each thread
// the context of what it uses.
int ServiceStart(Runtime& rt, const StartHooks& hooks, uint32_t* specific_exit_code);

// Signals the shutdown event, reports it, and wakes the receive loop (WakeReceiveLoop: the
// zero-length datagram to the first adapter's own address and the waiter's wake-up; a stop
// during start-up wakes the loop when it starts). False only when the event could not be set.
bool RequestStop(StopControl& stop, Sockets& sockets);

// Waits up to `limit` for the workers and the start-up and receive loop (counted as an activity
// by the host) to end; true when all have ended.
bool WaitFinished(StopControl& stop, std::chrono::milliseconds limit);

inline constexpr uint32_t kCtrlCEvent = 0;
inline constexpr uint32_t kCtrlBreakEvent = 1;
inline constexpr uint32_t kCtrlCloseEvent = 2;

// Debug mode: Ctrl+C and Ctrl+Break print the stop line and call RequestStop (true: handled);
// any other console event returns false and keeps the default handling (the process ends).
bool ConsoleControlHandler(StopControl& stop, Sockets& sockets, uint32_t type);
// Debug mode: a control signal as the console delivers it.
void HandleConsoleSignal(StopControl& stop, Sockets& sockets, platform::ControlSignal signal);

// Starts `body` on one of `workers`; 0, or kExitNoThread after reporting why no thread could be
// had.
int StartWorkerThread(WorkerThreads& workers, std::function<void()> body);

// Opens the socket of an adapter entry, allows it to broadcast when the server broadcasts, binds
// it to the entry's address and port 123 and reports it ready; 0, or the error it reported.
int OpenAdapterSocket(platform::Network& network, const Roles& roles, AdapterEntry& entry);

}  // namespace chron
