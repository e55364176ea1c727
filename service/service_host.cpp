#include "service/service_host.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <strings.h>
#include <thread>

#include "config/configuration.h"
#include "engine/receive_loop.h"
#include "messages/report.h"
#include "platform/service_manager.h"
#include "platform/signals.h"
#include "service/adapters.h"
#include "service/service_config.h"
#include "service/service_start.h"
#include "service/version.h"

namespace chron {
namespace {

constexpr char kServiceTitle[] = "Simple Network Time Protocol";

Runtime g_rt;
std::unique_ptr<platform::Registry> g_registry;
std::unique_ptr<platform::ServiceManager> g_manager;  // absent in debug mode
std::unique_ptr<platform::ControlSignalWatcher> g_signals;

// The status record; guarded because the control handler and the service's main thread
// both report through it.
std::mutex g_status_mutex;
std::condition_variable g_stopped_cv;
platform::ServiceStatus g_status;
bool g_stopped_reported = false;
bool g_stop_handshake_started = false;

void ReportStatusLocked() {
  int error = g_manager->SetStatus(g_status);
  if (error != 0) ReportMessage(msg::kSetStatusFailed, {SystemErrorText(static_cast<uint32_t>(error))});
  if (g_status.state == platform::ServiceState::kStopped) {
    g_stopped_reported = true;
    g_stopped_cv.notify_all();
  }
}

// Stop pending with a checkpoint every 250 ms until every activity has ended, then stopped.
// A start that failed meanwhile has reported stopped with its own exit code already.
void StopHandshake() {
  for (;;) {
    {
      std::lock_guard lock(g_status_mutex);
      if (AllFinished(g_rt) || g_stopped_reported) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    std::lock_guard lock(g_status_mutex);
    if (AllFinished(g_rt) || g_stopped_reported) break;
    ++g_status.checkpoint;
    ReportStatusLocked();
  }
  std::lock_guard lock(g_status_mutex);
  if (g_stopped_reported) return;
  g_status.state = platform::ServiceState::kStopped;
  g_status.checkpoint = 0;
  g_status.wait_hint_ms = 0;
  ReportStatusLocked();
}

bool BeginStopHandshake() {
  std::lock_guard lock(g_status_mutex);
  if (g_stop_handshake_started || g_stopped_reported) return false;
  g_stop_handshake_started = true;
  g_status.win32_exit_code = 0;
  g_status.checkpoint = 0;
  g_status.state = platform::ServiceState::kStopPending;
  g_status.wait_hint_ms = 500;
  return true;
}

void OnControlSignal(platform::ControlSignal signal) {
  using platform::ControlSignal;
  if (DebugMode()) {
    HandleConsoleSignal(g_rt, signal);
    return;
  }
  switch (signal) {
    case ControlSignal::kStop: ServiceControlHandler(kServiceControlStop); break;
    case ControlSignal::kInterrogate: ServiceControlHandler(kServiceControlInterrogate); break;
    case ControlSignal::kHangup: ServiceControlHandler(kServiceControlHangup); break;
    default: platform::RestoreDefaultAndRaise(signal); break;
  }
}

void PrintBanner() {
  std::string version = ServiceVersionText(ReadProductVersion());
  std::printf("\nSNTP v4 Client/Server für Windows NT v%s\n%s\n%s\n\n", version.c_str(),
              kBannerNoticeLines[0], kBannerNoticeLines[1]);
  std::fflush(stdout);
}

// Ends the process at once: worker threads may still be on their way out.
[[noreturn]] void ExitProcess(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}

}  // namespace

void ServiceControlHandler(uint32_t control) {
  if (control == kServiceControlStop) {
    if (!BeginStopHandshake()) return;
    RequestStop(g_rt);
    StopHandshake();
    return;
  }
  if (control != kServiceControlInterrogate) ReportMessage(msg::kUnknownControlCode);
  std::lock_guard lock(g_status_mutex);
  ReportStatusLocked();
}

void ServiceMain(int /*argc*/, char** /*argv*/) {
  const bool service_mode = !DebugMode();
  // Start-up counts as the receive loop's activity (ServiceProgramMain clears its flag before a
  // control can arrive), so that a stop during start-up waits for it; every way out ends it.
  struct EndOfActivity {
    ~EndOfActivity() { g_rt.receive_finished = true; }
  } end_of_activity;
  ReadServiceConfiguration(*g_registry, &g_rt.config, ConfigSubset::kFull);

  uint32_t specific = 0;
  StartHooks hooks;
  hooks.registry_discovery = DiscoverAdaptersFromNtRegistry;
  int code = ServiceStart(g_rt, hooks, &specific);
  if (code != 0) {
    if (!service_mode) return;
    std::lock_guard lock(g_status_mutex);
    g_status.win32_exit_code = static_cast<uint32_t>(code);
    g_status.service_specific_exit_code = specific;
    g_status.state = platform::ServiceState::kStopped;
    g_status.checkpoint = 0;
    g_status.wait_hint_ms = 0;
    ReportStatusLocked();
    return;
  }
  if (service_mode) {
    std::lock_guard lock(g_status_mutex);
    if (g_stop_handshake_started || g_stopped_reported) {
      // Stopped during start-up: never report running after stop pending. The workers are
      // released to see the stop and end; the handshake reports stopped once they have.
      g_rt.start.Set();
      if (g_rt.release_instance) g_rt.release_instance();
      return;
    }
    g_status.state = platform::ServiceState::kRunning;
    g_status.checkpoint = 0;
    g_status.wait_hint_ms = 0;
    int error = g_manager->SetStatus(g_status);
    if (error != 0) {
      ReportMessage(msg::kSetStatusFailed, {SystemErrorText(static_cast<uint32_t>(error))});
      // No receive loop will run: release the workers so that they see the stop and end.
      g_rt.shutdown.Set();
      g_rt.start.Set();
      return;
    }
  }
  ReceiveLoop(g_rt);
}

int ServiceProgramMain(int argc, char** argv) {
  // Signals are taken by a thread of their own; they must be blocked before any thread exists.
  platform::BlockControlSignals();
  PrintBanner();
  bool debug = false;
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i][0] != '\0' ? argv[i] + 1 : argv[i];
    if (strcasecmp(word, "debug") == 0) {
      debug = true;
    } else {
      std::printf("Unbekannter Parameter: %s\n", argv[i]);
    }
  }
  std::fflush(stdout);

  g_registry = platform::OpenMachineRegistry(ReportRegistryComplaint);
  g_rt.host = HostKind::kNtService;
  g_rt.registry = g_registry.get();
  g_rt.clock = &platform::SystemClock();
  g_rt.network = &platform::SystemNetwork();
  g_rt.request_stop = [] { return RequestStop(g_rt); };
  g_rt.receive_finished = false;  // until start-up, and the receive loop if it runs, have ended

  if (debug) {
    std::printf("SNTP-Debug: Debugge %s.\n", kServiceTitle);
    std::fflush(stdout);
    SetDebugMode(true);
    SetReportTarget(ReportTarget::kConsole);
    platform::ControlSignalWatcher::Start(OnControlSignal, &g_signals);
    ServiceMain(argc, argv);
    // No service manager waits for the workers here; give them a moment to end and print
    // their last trace lines, so that the trace is complete.
    for (int i = 0; i < 20 && !AllFinished(g_rt); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ExitProcess(0);
  }

  SetReportTarget(ReportTarget::kEventLog);
  int error = platform::ConnectServiceManager(&g_manager);
  if (error != 0) {
    ReportMessage(msg::kDispatcherFailed, {SystemErrorText(static_cast<uint32_t>(error))});
    return 0;
  }
  // The dispatcher: the service's main routine runs on a thread of its own, controls arrive
  // on the signal thread.
  g_status = platform::ServiceStatus{};
  error = platform::ControlSignalWatcher::Start(OnControlSignal, &g_signals);
  if (error != 0) {
    ReportMessage(msg::kControlHandlerFailed, {SystemErrorText(static_cast<uint32_t>(error))});
    return 0;
  }
  std::thread service_thread(ServiceMain, argc, argv);
  service_thread.join();

  std::unique_lock lock(g_status_mutex);
  if (!g_stopped_reported && !g_stop_handshake_started) {
    // The service ended by itself (run once, or it could not report running): it reports
    // its own stop once every activity has ended.
    lock.unlock();
    if (BeginStopHandshake()) StopHandshake();
    lock.lock();
  }
  g_stopped_cv.wait(lock, [] { return g_stopped_reported; });
  int exit_code = static_cast<int>(g_status.win32_exit_code);
  lock.unlock();
  ExitProcess(exit_code);
}

}  // namespace chron
