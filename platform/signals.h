// Console and service-manager control requests that reach the process as signals.
#pragma once

#include <functional>
#include <memory>
#include <system_error>

namespace chron::platform {

enum class ControlSignal {
  kInterrupt,    // Ctrl+C (SIGINT)
  kBreak,        // Ctrl+Break (SIGQUIT)
  kStop,         // stop request of the service manager (SIGTERM)
  kInterrogate,  // interrogate request of the service manager (SIGUSR1)
  kHangup,       // console closed (SIGHUP)
};

// Blocks the five control signals in the calling thread; threads created afterwards inherit
// that. Call it at start-up before any thread exists, so that only the watcher thread below ever
// receives them. Returns no error or the system's error.
std::error_code BlockControlSignals();

// A thread that receives the blocked control signals and calls the handler for each, on that
// thread, in the order they arrive. The handler may do any work. Destroying the object stops the
// thread (waiting for a running handler to return); signals then stay blocked and pending.
class ControlSignalWatcher {
 public:
  using Handler = std::function<void(ControlSignal)>;
  // Returns no error and sets *out, or the system's error. Call BlockControlSignals first.
  static std::error_code Start(Handler handler, std::unique_ptr<ControlSignalWatcher>* out);

  ~ControlSignalWatcher();
  ControlSignalWatcher(const ControlSignalWatcher&) = delete;
  ControlSignalWatcher& operator=(const ControlSignalWatcher&) = delete;

 private:
  struct State;
  explicit ControlSignalWatcher(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// Gives the signal back its default action and delivers it to the calling thread, as the system
// does for a console event that no handler takes: for each of them the process ends at once.
void RestoreDefaultAndRaise(ControlSignal signal);

}  // namespace chron::platform
