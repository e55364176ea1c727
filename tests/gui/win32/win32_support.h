// Helpers of the applet's tests under Wine: the module loaded as the Control Panel loads it,
// the product key of the registry, and a driver thread that acts on the sheet with window
// messages while CPL_DBLCLK runs it on the test's main thread.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace chron::testing {

// chroncfg.cpl, loaded once (LoadLibrary) for the whole test program.
HMODULE Module();
std::wstring ModulePath();
LONG CallApplet(UINT message, LPARAM param1 = 0, LPARAM param2 = 0);

// The product key HKLM\SOFTWARE\Orbek\SNTP\1.01 and its subkeys Client and Server.
void DeleteProductKey();
void SetDword(const wchar_t* subkey, const wchar_t* name, DWORD value);  // subkey L"" is the product key
void SetString(const wchar_t* subkey, const wchar_t* name, const std::wstring& value);
std::optional<DWORD> Dword(const wchar_t* subkey, const wchar_t* name);
std::optional<std::wstring> String(const wchar_t* subkey, const wchar_t* name);
// Every value of the three keys with its type and data, to compare before and after.
std::wstring Snapshot();

// A message box of the applet, answered with OK.
struct MessageSeen {
  bool seen = false;
  std::wstring caption, text;
};

// The open sheet as the driver sees it. Actions that may open a message box are posted, so the
// driver stays free to answer it; queries are sent.
class Sheet {
 public:
  explicit Sheet(HWND window) : window_(window) {}
  HWND window() const { return window_; }
  HWND Page(int index) const;  // null while the page has not been created
  HWND Item(int index, int id) const { return GetDlgItem(Page(index), id); }
  int CurrentPage() const;
  std::wstring Text(int index, int id) const;
  bool Checked(int index, int id) const;
  bool Enabled(int index, int id) const { return IsWindowEnabled(Item(index, id)) != FALSE; }
  bool HasFocus(int index, int id) const;

  void SetText(int index, int id, const std::wstring& text) const;
  void Click(int index, int id) const;  // BM_CLICK
  void ClickArrow(int index, int updown_id, bool up) const;
  void SelectPage(int index) const;  // PSM_SETCURSEL: the page being left is validated
  void PressOk() const;
  void PressCancel() const;

  // Answers the next message box of the applet within `timeout_ms`.
  MessageSeen AnswerMessageBox(int timeout_ms = 10000) const;
  bool WaitClosed(int timeout_ms = 10000) const;
  // A picture of the sheet (or, with whole_screen, of the screen) as <screenshots>/<name>.png;
  // true when the file was written.
  bool Screenshot(const std::string& name, bool whole_screen = false) const;

 private:
  HWND window_;
};

// Polls `condition` every 20 ms for up to `timeout_ms`.
bool WaitFor(const std::function<bool()>& condition, int timeout_ms = 10000);

// Runs CPL_DBLCLK on this thread while `driver` runs on another once the sheet exists (before
// it shows, when `visible` is false). The driver must end the sheet; if it returns with the
// sheet still open, it is cancelled. Returns CPlApplet's result.
LONG RunSheet(const std::function<void(const Sheet&)>& driver, bool visible = true);

// The applet's top-level windows on this thread with caption `caption`.
HWND FindAppletWindow(DWORD thread, const std::wstring& caption, bool visible);

}  // namespace chron::testing
