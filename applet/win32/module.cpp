// The module chroncfg.cpl: its application object and the export CPlApplet, which the Control
// Panel finds by that name (no decoration; stdcall on 32-bit Windows).
#include "applet/applet.h"
#include "applet/win32/sheet_window.h"
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
CSntpApp the_app(win32_window::Win32SheetWindowFactory(), SystemPlatform);

}  // namespace
}  // namespace chron

extern "C" __declspec(dllexport) LONG CALLBACK CPlApplet(HWND window, UINT message, LPARAM param1, LPARAM param2) {
  return chron::CplDispatch(window, message, param1, param2);
}
