// Win32 implementation of the service manager connection: StartServiceCtrlDispatcherW on a
// thread of its own (which returns once the service has reported itself stopped; the manager
// waits for it when it goes, bounded, since a start that failed never reports that), RegisterServiceCtrlHandlerW for
// the service "SNTP", SetServiceStatus.
//
// The dispatcher calls the service main routine below, which only registers the control handler
// and returns; the program's own service routine then runs as it does on every system, and the
// control requests reach it through the ControlSignalWatcher (stop, interrogate; any other code
// as the hang-up request, which the service answers as an unknown control code). The control
// handler runs on the dispatcher thread and may take as long as the stop handshake needs.
#include <condition_variable>
#include <mutex>

#include "platform/service_manager.h"
#include "platform/win32/control.h"
#include "platform/win32/win32.h"

namespace chron::platform {
namespace {

wchar_t kServiceName[] = L"SNTP";

std::mutex g_connect_mutex;
std::condition_variable g_connected_cv;
bool g_connect_done = false;
DWORD g_connect_error = 0;
bool g_handler_failed = false;  // the error is RegisterServiceCtrlHandlerW's
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
HANDLE g_dispatcher = nullptr;  // the dispatcher's thread

// How long the end of the connection waits for the dispatcher to return, in milliseconds.
constexpr DWORD kDispatcherEndMs = 5000;

DWORD WINAPI DispatcherThread(LPVOID);

// Waits up to `wait_ms` for the dispatcher's thread to return; one that has not returned by then
// ends with the process.
void EndDispatcher(DWORD wait_ms) {
  if (g_dispatcher == nullptr) return;
  WaitForSingleObject(g_dispatcher, wait_ms);
  CloseHandle(g_dispatcher);
  g_dispatcher = nullptr;
}

void FinishConnect(DWORD error, bool handler_failed) {
  std::lock_guard lock(g_connect_mutex);
  if (g_connect_done) return;
  g_connect_error = error;
  g_handler_failed = handler_failed;
  g_connect_done = true;
  g_connected_cv.notify_all();
}

void WINAPI ControlHandler(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP: win32::DeliverControlSignal(ControlSignal::kStop); break;
    case SERVICE_CONTROL_INTERROGATE: win32::DeliverControlSignal(ControlSignal::kInterrogate); break;
    default: win32::DeliverControlSignal(ControlSignal::kHangup); break;
  }
}

void WINAPI DispatchedServiceMain(DWORD, LPWSTR*) {
  g_status_handle = RegisterServiceCtrlHandlerW(kServiceName, ControlHandler);
  FinishConnect(g_status_handle == nullptr ? GetLastError() : 0, g_status_handle == nullptr);
}

class WindowsServiceManager : public ServiceManager {
 public:
  ~WindowsServiceManager() override { EndDispatcher(kDispatcherEndMs); }
  std::error_code SetStatus(const ServiceStatus& status) override {
    SERVICE_STATUS record{};
    record.dwServiceType = status.service_type;
    record.dwCurrentState = static_cast<DWORD>(status.state);
    record.dwControlsAccepted = status.controls_accepted;
    record.dwWin32ExitCode = status.win32_exit_code;
    record.dwServiceSpecificExitCode = status.service_specific_exit_code;
    record.dwCheckPoint = status.checkpoint;
    record.dwWaitHint = status.wait_hint_ms;
    return SetServiceStatus(g_status_handle, &record) ? std::error_code() : win32::LastError();
  }
};

}  // namespace

// No error once the control handler is registered; otherwise the error of StartServiceCtrlDispatcherW
// (1063, ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, for a program started from a console) or of
// RegisterServiceCtrlHandlerW.
namespace {

DWORD WINAPI DispatcherThread(LPVOID) {
  SERVICE_TABLE_ENTRYW table[] = {{kServiceName, DispatchedServiceMain}, {nullptr, nullptr}};
  // Returns only when the service has reported itself stopped, or at once on failure.
  if (!StartServiceCtrlDispatcherW(table)) FinishConnect(GetLastError(), false);
  return 0;
}

}  // namespace

std::error_code ConnectServiceManager(std::unique_ptr<ServiceManager>* manager, bool* handler_failed) {
  g_dispatcher = CreateThread(nullptr, 0, DispatcherThread, nullptr, 0, nullptr);
  if (g_dispatcher == nullptr) return win32::LastError();
  std::unique_lock lock(g_connect_mutex);
  g_connected_cv.wait(lock, [] { return g_connect_done; });
  *handler_failed = g_handler_failed;
  if (g_connect_error != 0) {
    lock.unlock();
    // A dispatcher that failed has returned; one whose handler failed runs until the process ends.
    EndDispatcher(g_handler_failed ? 0 : kDispatcherEndMs);
    return SystemError(static_cast<int>(g_connect_error));
  }
  *manager = std::make_unique<WindowsServiceManager>();
  return {};
}

}  // namespace chron::platform
