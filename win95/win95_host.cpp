#include "win95/win95_host.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "config/configuration.h"
#include "engine/receive_loop.h"
#include "messages/report.h"
#include "platform/console.h"
#include "platform/message_box.h"
#include "platform/named_event.h"
#include "platform/signals.h"
#include "service/service_config.h"
#include "service/service_start.h"
#include "service/version.h"
#include "win95/registry_adapters.h"

namespace chron {
namespace {

constexpr char kMessageBoxCaption[] = "SNTP Client";
constexpr char kRegistrationRefused[] = "Kann SNTP Dienst nicht beim Dienstmanager anmelden !";

Runtime g_rt;
std::unique_ptr<platform::Registry> g_registry;
std::unique_ptr<platform::ControlSignalWatcher> g_signals;
// Opened before anything runs and held until the process ends (never closed).
std::unique_ptr<platform::NamedEvent> g_shutdown_event;

// Opens the named shutdown event: 0, or the error with the insertion of kCreateEventFailed (the
// system error text and where the event lives) in *reason. chron95 runs only when it holds the event:
// one that no process could stop through it must not run at all. In normal mode it is opened
// before detaching, so the daemon inherits the handle and the foreground process returns only
// once the daemon holds the event: a stop set right after that is never lost.
int OpenShutdownEvent(std::string* reason) {
  const int error = platform::NamedEvent::Create(kShutdownEventName, &g_shutdown_event);
  if (error == 0) return 0;
  *reason = SystemErrorText(static_cast<uint32_t>(error));
  const std::string location = platform::NamedEvent::Location(kShutdownEventName);
  if (!location.empty()) *reason += " (" + location + ")";
  return error;
}

// Waits on the named event and stops the client when another process sets it.
void ShutdownWatcherThread() {
  if (g_shutdown_event->Wait(platform::kInfinite) == platform::WaitResult::kSignalled) RequestStop(g_rt);
}

int StartShutdownWatcher(Runtime&) {
  int error = StartWorkerThread(ShutdownWatcherThread);
  if (error != 0) {
    ReportMessage(msg::kThreadCreateFailed, {SystemErrorText(static_cast<uint32_t>(error))});
    return kExitNoThread;
  }
  return 0;
}

void PrintBanner() {
  std::string version = Win95VersionText(ReadProductVersion());
  std::printf("\nSNTP v4 Client für Windows 95 v%s\n%s\n%s\n\n", version.c_str(), kBannerNoticeLines[0],
              kBannerNoticeLines[1]);
}

void Run() {
  g_registry = platform::OpenMachineRegistry(ReportRegistryComplaint);
  g_rt.host = HostKind::kWin95;
  g_rt.registry = g_registry.get();
  g_rt.clock = &platform::SystemClock();
  g_rt.network = &platform::SystemNetwork();
  g_rt.request_stop = [] { return RequestStop(g_rt); };
  ReadServiceConfiguration(*g_registry, &g_rt.config, ConfigSubset::kClientOnly);

  StartHooks hooks;
  hooks.registry_discovery = DiscoverAdaptersFromWin95Registry;
  hooks.last_step = StartShutdownWatcher;
  uint32_t specific = 0;
  if (ServiceStart(g_rt, hooks, &specific) != 0) return;
  ReceiveLoop(g_rt);
}

}  // namespace

bool CommandLineSelectsDebug(const std::string& command_line) {
  std::string lower = command_line;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find("-debug") != std::string::npos;
}

int Win95ProgramMain(int argc, char** argv) {
  std::string command_line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) command_line += ' ';
    command_line += argv[i];
  }
  const bool debug = CommandLineSelectsDebug(command_line);

  if (debug) {
    // Control signals are taken by a thread of their own: block them before any thread exists.
    platform::BlockControlSignals();
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    platform::SetConsoleTitle("SNTP Client für Windows 95");
    SetDebugMode(true);
    SetReportTarget(ReportTarget::kConsole);
    platform::ControlSignalWatcher::Start([](platform::ControlSignal s) { HandleConsoleSignal(g_rt, s); },
                                          &g_signals);
    PrintBanner();
    std::string reason;
    if (OpenShutdownEvent(&reason) == 0) {
      Run();
    } else {
      ReportMessage(msg::kCreateEventFailed, {reason});
    }
    std::printf("\n<Console wird mit jeder Taste geschlossen>\n");
    platform::WaitForKey();
  } else {
    SetReportTarget(ReportTarget::kDiscard);
    std::string reason;
    if (OpenShutdownEvent(&reason) != 0) {
      // Normal mode shows nothing but message boxes: this one says why chron95 did not start.
      std::string text;
      if (!FormatCatalogueMessage(msg::kCreateEventFailed, {reason}, &text)) text = reason;
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      platform::ShowErrorMessageBox(kMessageBoxCaption, text);
      std::_Exit(0);
    }
    int error = platform::DetachAsDaemon();
    if (error != 0) {
      platform::ShowErrorMessageBox(kMessageBoxCaption, kRegistrationRefused);
      ReportMessage(msg::kServiceRegistrationFailed);
    } else {
      Run();
    }
  }
  std::fflush(stdout);
  // Worker threads may still be waiting (the shutdown watcher); end without unwinding them.
  std::_Exit(0);
}

}  // namespace chron
