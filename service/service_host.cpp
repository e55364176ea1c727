#include "service/service_host.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <functional>
#include <thread>
#include <vector>

#include "messages/report.h"
#include "platform/arguments.h"
#include "platform/ascii_case.h"
#include "platform/console.h"
#include "platform/service_manager.h"
#include "platform/signals.h"
#include "service/adapters.h"
#include "service/host.h"
#include "service/network_wait.h"
#include "service/version.h"

namespace chron {
namespace {

constexpr char kServiceTitle[] = "Simple Network Time Protocol";

// The longest a stop may take, as the service unit's TimeoutStopSec allows: once it has passed
// the stop is reported done, and the process ends as soon as the activity that holds it up (a
// start-up held up by the system, a name look-up of the poll thread) has returned.
constexpr std::chrono::seconds kStopLimit{10};

// chronsvc's process: the host of client and server, and the service's status towards the
// service manager.
class ServiceProcess {
 public:
  int Run(const std::vector<std::string>& args);

 private:
  void ServiceMain();
  // Connected to the service manager: the service's main routine on a thread of its own, the
  // controls on the signal thread. The exit code the stop reported.
  int RunUnderServiceManager(const std::function<void(platform::ControlSignal)>& on_signal);
  void ServiceControlHandler(uint32_t control);
  void OnControlSignal(platform::ControlSignal signal);
  void ReportStatusLocked();
  void ReportRunningWhileWaiting();
  void StopHandshake();
  bool BeginStopHandshake();
  // Joins the workers and ends the signal watcher; returns `code`, the process's exit status.
  int End(int code);

  Host host_{HostParts::kClientAndServer};
  std::unique_ptr<platform::ServiceManager> manager_;  // absent in debug mode

  // The status record; guarded because the control handler and the service's main thread
  // both report through it.
  std::mutex status_mutex_;
  std::condition_variable stopped_cv_;
  platform::ServiceStatus status_;
  bool stopped_reported_ = false;
  bool stop_handshake_started_ = false;
  int start_code_ = 0;  // a refused start's code, 0 once started (ServiceMain's thread)
};

void ServiceProcess::ReportStatusLocked() {
  const std::error_code error = manager_->SetStatus(status_);
  if (error) ReportMessage(msg::kSetStatusFailed, {SystemErrorText(error)});
  if (status_.state == platform::ServiceState::kStopped) {
    stopped_reported_ = true;
    stopped_cv_.notify_all();
  }
}

// Stop pending with a checkpoint every 250 ms until every activity has ended, then stopped.
// A start that failed meanwhile has reported stopped with its own exit code already.
void ServiceProcess::StopHandshake() {
  const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
  {
    std::lock_guard lock(status_mutex_);
    if (stopped_reported_) return;
  }
  while (!host_.WaitFinished(std::chrono::milliseconds(250))) {
    std::lock_guard lock(status_mutex_);
    if (stopped_reported_ || std::chrono::steady_clock::now() >= deadline) break;
    ++status_.checkpoint;
    ReportStatusLocked();
  }
  std::lock_guard lock(status_mutex_);
  if (stopped_reported_) return;
  status_.state = platform::ServiceState::kStopped;
  status_.checkpoint = 0;
  status_.wait_hint_ms = 0;
  ReportStatusLocked();
}

bool ServiceProcess::BeginStopHandshake() {
  std::lock_guard lock(status_mutex_);
  if (stop_handshake_started_ || stopped_reported_) return false;
  stop_handshake_started_ = true;
  status_.win32_exit_code = 0;
  status_.checkpoint = 0;
  status_.state = platform::ServiceState::kStopPending;
  status_.wait_hint_ms = 500;
  return true;
}

// Waiting for the network, the service takes controls as when it runs: a stop ends the wait.
void ServiceProcess::ReportRunningWhileWaiting() {
  std::lock_guard lock(status_mutex_);
  if (stop_handshake_started_ || stopped_reported_) return;  // never running after stop pending
  status_.state = platform::ServiceState::kRunning;
  status_.checkpoint = 0;
  status_.wait_hint_ms = 0;
  ReportStatusLocked();
  manager_->SetStatusText("Wartet auf eine Netzwerkadresse");
}

void ServiceProcess::OnControlSignal(platform::ControlSignal signal) {
  using platform::ControlSignal;
  if (DebugMode()) {
    // The main thread ends the process once the receive loop and the workers have ended.
    host_.HandleConsoleSignal(signal);
    return;
  }
  switch (signal) {
    case ControlSignal::kStop: ServiceControlHandler(kServiceControlStop); break;
    case ControlSignal::kInterrogate: ServiceControlHandler(kServiceControlInterrogate); break;
    case ControlSignal::kHangup: ServiceControlHandler(kServiceControlHangup); break;
    default: platform::RestoreDefaultAndRaise(signal); break;
  }
}

void ServiceProcess::ServiceControlHandler(uint32_t control) {
  if (control == kServiceControlStop) {
    if (!BeginStopHandshake()) return;
    host_.RequestStop();
    StopHandshake();
    return;
  }
  if (control != kServiceControlInterrogate) ReportMessage(msg::kUnknownControlCode);
  std::lock_guard lock(status_mutex_);
  ReportStatusLocked();
}

void ServiceProcess::ServiceMain() {
  const bool service_mode = !DebugMode();
  StopControl& stop = host_.stop();
  // Start-up and the receive loop are one activity (Run begins it before a control can arrive),
  // so that a stop during start-up waits for it; every way out ends it.
  struct EndOfActivity {
    StopControl& stop;
    ~EndOfActivity() { stop.workers.End(); }
  } end_of_activity{stop};
  host_.ReadSettings();
  if (service_mode) {
    // manager_ is set before this thread starts and lives to the end of the process.
    host_.SetStatusLine([this](const std::string& text) { manager_->SetStatusText(text); });
  }

  uint32_t specific = 0;
  StartHooks hooks;
  hooks.registry_discovery = DiscoverAdaptersFromNtRegistry;
  if (service_mode) hooks.waiting = [this] { ReportRunningWhileWaiting(); };
  int code = host_.Start(hooks, &specific);
  if (code == kStoppedWhileWaiting) return;  // the stop handshake reports stopped, exit status 0
  start_code_ = code;
  if (code != 0) {
    if (!service_mode) return;
    std::lock_guard lock(status_mutex_);
    status_.win32_exit_code = static_cast<uint32_t>(code);
    status_.service_specific_exit_code = specific;
    status_.state = platform::ServiceState::kStopped;
    status_.checkpoint = 0;
    status_.wait_hint_ms = 0;
    ReportStatusLocked();
    return;
  }
  if (service_mode) {
    std::lock_guard lock(status_mutex_);
    if (stop_handshake_started_ || stopped_reported_) {
      // Stopped during start-up: never report running after stop pending. The workers are
      // released to see the stop and end; the handshake reports stopped once they have.
      stop.start.Set();
      if (stop.release_instance) stop.release_instance();
      return;
    }
    status_.state = platform::ServiceState::kRunning;
    status_.checkpoint = 0;
    status_.wait_hint_ms = 0;
    const std::error_code error = manager_->SetStatus(status_);
    if (error) {
      ReportMessage(msg::kSetStatusFailed, {SystemErrorText(error)});
      // No receive loop will run: release the workers so that they see the stop and end.
      stop.shutdown.Set();
      stop.start.Set();
      return;
    }
  }
  host_.RunReceiveLoop();
}

int ServiceProcess::Run(const std::vector<std::string>& args) {
  // Signals are taken by a thread of their own; they must be blocked before any thread exists.
  platform::BlockControlSignals();
  platform::UseUtf8Console();
  PrintBanner("SNTP v4 Client/Server für Windows NT", ServiceVersionText(ReadProductVersion()));
  bool debug = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const char* word = args[i].empty() ? "" : args[i].c_str() + 1;
    if (platform::EqualsIgnoringCase(word, "debug")) {
      debug = true;
    } else {
      platform::PrintText(stdout, "Unbekannter Parameter: %s\n", args[i].c_str());
    }
  }
  std::fflush(stdout);

  host_.Open();
  host_.stop().workers.Begin();  // until start-up, and the receive loop if it runs, have ended
  auto on_signal = [this](platform::ControlSignal signal) { OnControlSignal(signal); };

  if (debug) {
    platform::PrintText(stdout, "SNTP-Debug: Debugge %s.\n", kServiceTitle);
    std::fflush(stdout);
    Host::EnterDebugMode();
    host_.WatchSignals(on_signal);
    ServiceMain();
    // The workers saw the stop that ended the receive loop, or were released by a failed start,
    // whose status tells the script or unit that started the program that it did not run.
    return End(start_code_ != 0 ? RefusedStatus(start_code_) : 0);
  }

  return RunUnderServiceManager(on_signal);
}

int ServiceProcess::RunUnderServiceManager(const std::function<void(platform::ControlSignal)>& on_signal) {
  SetReportTarget(ReportTarget::kEventLog);
  bool handler_failed = false;
  std::error_code error = platform::ConnectServiceManager(&manager_, &handler_failed);
  if (error) {
    ReportMessage(handler_failed ? msg::kControlHandlerFailed : msg::kDispatcherFailed, {SystemErrorText(error)});
    return 0;
  }
  // The dispatcher: the service's main routine runs on a thread of its own, controls arrive
  // on the signal thread.
  status_ = platform::ServiceStatus{};
  error = host_.WatchSignals(on_signal);
  if (error) {
    ReportMessage(msg::kControlHandlerFailed, {SystemErrorText(error)});
    return 0;
  }
  std::thread service_thread([this] { ServiceMain(); });
  service_thread.join();

  std::unique_lock lock(status_mutex_);
  if (!stopped_reported_ && !stop_handshake_started_) {
    // The service ended by itself (run once, or it could not report running): it reports
    // its own stop once every activity has ended.
    lock.unlock();
    if (BeginStopHandshake()) StopHandshake();
    lock.lock();
  }
  stopped_cv_.wait(lock, [this] { return stopped_reported_; });
  const int exit_code = static_cast<int>(status_.win32_exit_code);
  lock.unlock();
  return End(exit_code);
}

int ServiceProcess::End(int code) {
  host_.End();
  platform::RestoreConsole();  // the console is the starting program's too
  return code;
}

}  // namespace

int ServiceProgramMain(int argc, char** argv) {
  // Lives to the end of the process: the worker and signal threads use it until then.
  static ServiceProcess process;
  return process.Run(platform::ProgramArguments(argc, argv));
}

}  // namespace chron
