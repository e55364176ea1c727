// The process frame both services share: it owns the runtime record, the machine registry and
// the control-signal watcher, starts the parts the program runs and stops them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include "engine/runtime.h"
#include "platform/registry.h"
#include "platform/signals.h"
#include "service/service_start.h"
#include "service/status_publisher.h"

namespace chron {

// What a program runs: chron95 the client alone, chronsvc client and server.
enum class HostParts { kClientOnly, kClientAndServer };

// The exit status of a program whose start was refused with `code` (a system error or one of
// the start's own codes): its low 8 bits, which is all a status holds, or 1 where those are 0,
// so that a refused start never reads as success.
inline int RefusedStatus(int code) { return (code & 0xFF) != 0 ? code & 0xFF : 1; }

class Host {
 public:
  explicit Host(HostParts parts);
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // The start and stop control of the running service (its events and worker threads).
  StopControl& stop() { return rt_.stop; }

  // Opens the machine hive and wires the runtime to the system's clock and network.
  void Open();
  // Reads the settings of the parts this host runs (all of them, or the client's alone).
  void ReadSettings();

  // Debug mode: reports and trace lines go to the console.
  static void EnterDebugMode();
  // Takes the control signals on a thread of its own and hands each to `handler`; no error or
  // the system's error. Block them first (platform::BlockControlSignals), before any thread exists.
  std::error_code WatchSignals(std::function<void(platform::ControlSignal)> handler);
  // The console's handling in debug mode: Ctrl+C and Ctrl+Break print the stop line and stop;
  // any other signal ends the process as it would without a handler.
  void HandleConsoleSignal(platform::ControlSignal signal);

  // Receives the status summary after each write of the status file (the service manager's
  // STATUS= line); set before Start.
  void SetStatusLine(std::function<void(const std::string&)> status_line) { status_line_ = std::move(status_line); }

  // The start-up sequence; 0 or the error code that ends the start. After a start it publishes
  // the status file until the process ends.
  int Start(const StartHooks& hooks, uint32_t* specific_exit_code);
  // Runs the receive loop until the stop.
  void RunReceiveLoop();
  bool RequestStop();
  // Waits up to `limit` for the workers and the activity of start-up and receive loop to end;
  // true when they have.
  bool WaitFinished(std::chrono::milliseconds limit);
  // True once the stop has been requested.
  bool Stopping();
  // Joins the worker threads; they have seen the stop or a failed start.
  void EndWorkers();
  // EndWorkers, then ends the status publisher (after one last write) and the control-signal
  // watcher (after its running handler): what the process does last before it returns from main.
  void End();

 private:
  const HostParts parts_;
  Runtime rt_;
  std::unique_ptr<platform::Registry> registry_;
  std::unique_ptr<platform::ControlSignalWatcher> signals_;
  std::function<void(const std::string&)> status_line_;
  std::unique_ptr<StatusPublisher> publisher_;  // declared after rt_: ends before it
};

}  // namespace chron
