#include "win95/win95_host.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "messages/report.h"
#include "platform/arguments.h"
#include "platform/ascii_case.h"
#include "platform/console.h"
#include "platform/message_box.h"
#include "platform/named_event.h"
#include "platform/signals.h"
#include "service/host.h"
#include "service/network_wait.h"
#include "service/version.h"
#include "win95/nettrans_class.h"

namespace chron {
namespace {

constexpr char kMessageBoxCaption[] = "SNTP Client";

// Opens the named shutdown event into *event: no error, or the error. chron95 runs only when it
// holds the event: one that no process could stop through it must not run at all. In normal mode
// it is opened before detaching, so the daemon inherits the handle and the foreground process
// returns only once the daemon holds the event: a stop set right after that is never lost.
std::error_code OpenShutdownEvent(std::unique_ptr<platform::NamedEvent>* event) {
  return platform::NamedEvent::Create(kShutdownEventName, event);
}

// The insertion of kCreateEventFailed for the error of OpenShutdownEvent: the system error text
// and where the event lives.
std::string ShutdownEventFailure(const std::error_code& error) {
  std::string reason = SystemErrorText(error);
  const std::string location = platform::NamedEvent::Location(kShutdownEventName);
  if (!location.empty()) reason += " (" + location + ")";
  return reason;
}

// How long the shutdown watcher waits on the named event at a time before it looks whether the
// client has stopped by itself (Ctrl+C, a single run), and so how long the end of the process
// may wait for it.
constexpr int64_t kWatchSliceMs = 100;

// Waits on the named event and stops the client when another process sets it; ends unseen once
// the client has stopped by other means.
void ShutdownWatcherThread(Host& host, platform::NamedEvent& event) {
  for (;;) {
    switch (event.Wait(kWatchSliceMs)) {
      case platform::WaitResult::kSignalled: host.RequestStop(); return;
      case platform::WaitResult::kFailed: return;
      case platform::WaitResult::kTimeout:
        if (host.Stopping()) return;
        break;
    }
  }
}

// Starts the client and runs it until the stop. Returns the exit status: 0, or that of a refused
// start, which has been reported. `started` learns it as soon as the start is over.
int Run(Host& host, platform::NamedEvent& shutdown_event, const std::function<void(int)>& started) {
  host.Open();
  host.ReadSettings();

  StartHooks hooks;
  hooks.registry_discovery = DiscoverAdaptersFromWin95Registry;
  // The shutdown watcher starts as the last step, or as soon as the start waits for the network,
  // so that a stop ends the wait.
  bool watching = false;
  auto start_watcher = [&host, &shutdown_event](WorkerThreads& workers) {
    return StartWorkerThread(workers, [&host, &shutdown_event] { ShutdownWatcherThread(host, shutdown_event); });
  };
  hooks.waiting = [&] {
    started(0);
    watching = start_watcher(host.stop().workers) == 0;
  };
  hooks.last_step = [&](WorkerThreads& workers) { return watching ? 0 : start_watcher(workers); };
  uint32_t specific = 0;
  const int code = host.Start(hooks, &specific);
  if (code == kStoppedWhileWaiting) return 0;
  if (code != 0) {
    started(RefusedStatus(code));
    return RefusedStatus(code);
  }
  started(0);
  host.RunReceiveLoop();
  return 0;
}

// What the process does last: the workers have seen the stop (or a failed start), their last
// lines come before the closing prompt.
int End(int status) {
  std::fflush(stdout);
  platform::RestoreConsole();
  return status;
}

}  // namespace

namespace {

// The system lacks the registration: its module or its entry point is missing.
bool RegistrationMissing(const std::error_code& error) {
  return error == platform::PlatformError::kNoServiceProcessModule ||
         error == platform::PlatformError::kNoServiceProcessEntry;
}

}  // namespace

std::string RegistrationFailureText(const std::error_code& error) {
  return RegistrationMissing(error) ? error.message() : "Kann SNTP Dienst nicht beim Dienstmanager anmelden !";
}

void ReportRegistrationFailure(const std::error_code& error) {
  platform::ShowErrorMessageBox(kMessageBoxCaption, RegistrationFailureText(error));
  if (!RegistrationMissing(error)) ReportMessage(msg::kServiceRegistrationFailed);
}

bool CommandLineSelectsDebug(const std::string& command_line) {
  return platform::AsciiLowercase(command_line).find("-debug") != std::string::npos;
}

int Win95ProgramMain(int argc, char** argv) {
  const std::vector<std::string> args = platform::ProgramArguments(argc, argv);
  std::string command_line;
  for (size_t i = 1; i < args.size(); ++i) {
    if (i > 1) command_line += ' ';
    command_line += args[i];
  }
  const bool debug = CommandLineSelectsDebug(command_line);
  int status = 0;  // the exit status: not 0 when the client was refused its start
  // The shutdown event is opened before anything runs and closed only after every thread that
  // uses it has ended (the host ends them before it is destroyed).
  std::unique_ptr<platform::NamedEvent> shutdown_event;
  Host host(HostParts::kClientOnly);

  if (debug) {
    platform::OpenConsole();
    // Control signals are taken by a thread of their own: block them before any thread exists.
    platform::BlockControlSignals();
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    platform::SetTerminalTitle("SNTP Client für Windows 95");
    Host::EnterDebugMode();
    host.WatchSignals([&host](platform::ControlSignal signal) { host.HandleConsoleSignal(signal); });
    PrintBanner("SNTP v4 Client für Windows 95", Win95VersionText(ReadProductVersion()));
    if (const std::error_code error = OpenShutdownEvent(&shutdown_event)) {
      ReportMessage(msg::kCreateEventFailed, {ShutdownEventFailure(error)});
      status = 1;
    } else {
      status = Run(host, *shutdown_event, [](int) {});
    }
    host.EndWorkers();
    platform::WriteText(stdout, "\n<Console wird mit jeder Taste geschlossen>\n");
    platform::WaitForKey();
  } else {
    // No console: the reports go to the system log, as the service's do.
    SetReportTarget(ReportTarget::kEventLog);
    if (const std::error_code error = OpenShutdownEvent(&shutdown_event)) {
      // Normal mode shows nothing but message boxes: this one says why chron95 did not start.
      const std::string reason = ShutdownEventFailure(error);
      std::string text;
      if (!FormatCatalogueMessage(msg::kCreateEventFailed, {reason}, &text)) text = reason;
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      platform::ShowErrorMessageBox(kMessageBoxCaption, text);
      ReportMessage(msg::kCreateEventFailed, {reason});
      return End(1);
    }
    const std::error_code error = platform::DetachAsDaemon();
    if (error) {
      ReportRegistrationFailure(error);
      status = 1;
    } else {
      status = Run(host, *shutdown_event, platform::ConfirmDaemonStart);
    }
  }
  host.End();
  return End(status);
}

}  // namespace chron
