// The module chroncfg.cpl: its application object and the export CPlApplet, which the Control
// Panel finds by that name (no decoration; stdcall on 32-bit Windows).
#include <memory>

#include "applet/applet.h"
#include "applet/win32/sheet_window.h"
#include "config/named_objects.h"
#include "platform/named_event.h"
#include "platform/registry.h"
#include "applet/win32/windows_api.h"

namespace chron {
namespace {

// The platform identifier of GetVersionExA: 1 on Windows 95, 2 on Windows NT.
PlatformId SystemPlatform() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!GetVersionExA(&info)) return PlatformId::kWinNt;
  return info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? PlatformId::kWin95 : PlatformId::kWinNt;
}

// Constructed when the module is loaded (process attach), destroyed when it is unloaded.
class CSntpApp {
 public:
  CSntpApp() : applet_(Services()) {
    // Creates the event or opens the one another process holds; without it the sheet simply
    // has no shutdown watch.
    if (platform::NamedEvent::Create(kShutdownEventName, &event_) != 0) event_.reset();
  }

 private:
  AppletServices Services() {
    AppletServices services;
    services.window_factory = win32_window::Win32SheetWindowFactory();
    services.shutdown_signalled = [this] {
      return event_ != nullptr && event_->Wait(0) == platform::WaitResult::kSignalled;
    };
    services.platform = SystemPlatform;
    services.open_registry = [] { return platform::OpenMachineRegistry(); };
    return services;
  }

  CSntpApplet applet_;
  std::unique_ptr<platform::NamedEvent> event_;
};

CSntpApp the_app;

}  // namespace
}  // namespace chron

extern "C" __declspec(dllexport) LONG CALLBACK CPlApplet(HWND window, UINT message, LPARAM param1, LPARAM param2) {
  return chron::CplDispatch(window, message, param1, param2);
}
