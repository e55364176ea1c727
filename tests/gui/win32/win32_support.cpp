// Helpers of the applet's tests under Wine.
#include "win32_support.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <prsht.h>

#include <cstring>
#include <thread>
#include <vector>

namespace chron::testing {
namespace {

constexpr wchar_t kProductKey[] = L"SOFTWARE\\Orbek\\SNTP\\1.01";
constexpr wchar_t kMessageCaption[] = L"Konfiguration - SNTP";
constexpr wchar_t kSheetCaption[] = L"Konfiguration - Simple Network Time Protocol Client/Server";

// A Unix path as Wine's drive Z: shows it.
std::wstring DosPath(const std::string& unix_path) {
  std::wstring path = L"Z:";
  for (char c : unix_path) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

std::wstring KeyPath(const wchar_t* subkey) {
  std::wstring path = kProductKey;
  if (subkey[0] != L'\0') path += std::wstring(L"\\") + subkey;
  return path;
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace

std::wstring ModulePath() { return DosPath(CHRON_APPLET_MODULE); }

HMODULE Module() {
  static HMODULE module = LoadLibraryW(ModulePath().c_str());
  return module;
}

LONG CallApplet(UINT message, LPARAM param1, LPARAM param2) {
  using Proc = LONG(CALLBACK*)(HWND, UINT, LPARAM, LPARAM);
  auto proc = reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(Module(), "CPlApplet")));
  return proc(nullptr, message, param1, param2);
}

void DeleteProductKey() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orbek"); }

static void SetValue(const wchar_t* subkey, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, KeyPath(subkey).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  RegCloseKey(key);
}

void SetDword(const wchar_t* subkey, const wchar_t* name, DWORD value) {
  SetValue(subkey, name, REG_DWORD, &value, sizeof(value));
}

void SetString(const wchar_t* subkey, const wchar_t* name, const std::wstring& value) {
  SetValue(subkey, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::optional<DWORD> Dword(const wchar_t* subkey, const wchar_t* name) {
  DWORD value = 0, size = sizeof(value), type = 0;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, KeyPath(subkey).c_str(), name, RRF_RT_ANY, &type, &value, &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::wstring> String(const wchar_t* subkey, const wchar_t* name) {
  wchar_t value[8192];
  DWORD size = sizeof(value), type = 0;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, KeyPath(subkey).c_str(), name, RRF_RT_ANY, &type, value, &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  return std::wstring(value);
}

std::wstring Snapshot() {
  std::wstring out;
  for (const wchar_t* subkey : {L"", L"Client", L"Server"}) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KeyPath(subkey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    for (DWORD i = 0;; ++i) {
      wchar_t name[256];
      BYTE data[16384];
      DWORD name_size = 256, data_size = sizeof(data), type = 0;
      if (RegEnumValueW(key, i, name, &name_size, nullptr, &type, data, &data_size) != ERROR_SUCCESS) break;
      out += std::wstring(subkey) + L"\\" + name + L"=" + std::to_wstring(type) + L":";
      for (DWORD b = 0; b < data_size; ++b) out += std::to_wstring(data[b]) + L",";
      out += L"\n";
    }
    RegCloseKey(key);
  }
  return out;
}

bool WaitFor(const std::function<bool()>& condition, int timeout_ms) {
  for (int waited = 0;; waited += 20) {
    if (condition()) return true;
    if (waited >= timeout_ms) return false;
    Sleep(20);
  }
}

HWND FindAppletWindow(DWORD thread, const std::wstring& caption, bool visible) {
  struct Search {
    const std::wstring* caption;
    bool visible;
    HWND found;
  } search{&caption, visible, nullptr};
  EnumThreadWindows(
      thread,
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        if ((!s->visible || IsWindowVisible(window)) && WindowText(window) == *s->caption) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND Sheet::Page(int index) const {
  return reinterpret_cast<HWND>(SendMessageW(window_, PSM_INDEXTOHWND, static_cast<WPARAM>(index), 0));
}

int Sheet::CurrentPage() const {
  const auto current = reinterpret_cast<HWND>(SendMessageW(window_, PSM_GETCURRENTPAGEHWND, 0, 0));
  return static_cast<int>(SendMessageW(window_, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(current), 0));
}

std::wstring Sheet::Text(int index, int id) const { return WindowText(Item(index, id)); }

bool Sheet::Checked(int index, int id) const { return SendMessageW(Item(index, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

bool Sheet::HasFocus(int index, int id) const {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  return GetGUIThreadInfo(GetWindowThreadProcessId(window_, nullptr), &info) && info.hwndFocus == Item(index, id);
}

void Sheet::SetText(int index, int id, const std::wstring& text) const {
  SendMessageW(Item(index, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Sheet::Click(int index, int id) const { PostMessageW(Item(index, id), BM_CLICK, 0, 0); }

void Sheet::ClickArrow(int index, int updown_id, bool up) const {
  const HWND arrows = Item(index, updown_id);
  RECT r{};
  GetClientRect(arrows, &r);
  const LPARAM point = MAKELPARAM(r.right / 2, up ? r.bottom / 4 : r.bottom * 3 / 4);
  PostMessageW(arrows, WM_LBUTTONDOWN, MK_LBUTTON, point);
  PostMessageW(arrows, WM_LBUTTONUP, 0, point);
}

void Sheet::SelectPage(int index) const { PostMessageW(window_, PSM_SETCURSEL, static_cast<WPARAM>(index), 0); }

void Sheet::PressOk() const { PostMessageW(window_, PSM_PRESSBUTTON, PSBTN_OK, 0); }

void Sheet::PressCancel() const { PostMessageW(window_, PSM_PRESSBUTTON, PSBTN_CANCEL, 0); }

MessageSeen Sheet::AnswerMessageBox(int timeout_ms) const {
  MessageSeen seen;
  const DWORD thread = GetWindowThreadProcessId(window_, nullptr);
  HWND box = nullptr;
  if (!WaitFor([&] { return (box = FindAppletWindow(thread, kMessageCaption, true)) != nullptr; }, timeout_ms)) {
    return seen;
  }
  seen.seen = true;
  seen.caption = WindowText(box);
  // The text is the static control that has one (the icon is a static without text).
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t cls[32];
    GetClassNameW(child, cls, 32);
    if (lstrcmpiW(cls, L"Static") == 0 && !WindowText(child).empty()) seen.text = WindowText(child);
  }
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  WaitFor([&] { return !IsWindow(box); });
  return seen;
}

bool Sheet::WaitClosed(int timeout_ms) const {
  return WaitFor([&] { return !IsWindow(window_); }, timeout_ms);
}

bool Sheet::Screenshot(const std::string& name, bool whole_screen) const {
  CreateDirectoryW(DosPath(CHRON_SCREENSHOT_DIR).c_str(), nullptr);
  const std::string path = std::string(CHRON_SCREENSHOT_DIR) + "/" + name + ".png";
  DeleteFileW(DosPath(path).c_str());
  RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(300);  // the sheet's thread paints
  std::string command = "/usr/bin/import -window root ";
  RECT r{};
  if (!whole_screen && GetWindowRect(window_, &r)) {
    command += "-crop " + std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + "+" +
               std::to_string(r.left) + "+" + std::to_string(r.top) + " +repage ";
  }
  command += path;
  // Wine starts a Unix program given by its path, but does not wait for its end: the picture is
  // there once the file ends with the PNG's last chunk.
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return WaitFor([&] {
    HANDLE file = CreateFileW(DosPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char tail[8] = {};
    DWORD read = 0;
    const bool complete = SetFilePointer(file, -12, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
                          ReadFile(file, tail, 8, &read, nullptr) && read == 8 && std::memcmp(tail + 4, "IEND", 4) == 0;
    CloseHandle(file);
    return complete;
  });
}

LONG RunSheet(const std::function<void(const Sheet&)>& driver, bool visible) {
  const DWORD thread = GetCurrentThreadId();
  std::thread driving([&] {
    HWND window = nullptr;
    if (!WaitFor([&] { return (window = FindAppletWindow(thread, kSheetCaption, visible)) != nullptr; })) {
      ADD_FAILURE() << "the sheet did not open";
      return;
    }
    const Sheet sheet(window);
    driver(sheet);
    if (IsWindow(window)) {
      ADD_FAILURE() << "the driver left the sheet open; cancelled";
      while (HWND box = FindAppletWindow(thread, kMessageCaption, true)) {
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        WaitFor([&] { return !IsWindow(box); });
      }
      sheet.PressCancel();
    }
  });
  const LONG result = CallApplet(5 /* CPL_DBLCLK */);
  driving.join();
  return result;
}

}  // namespace chron::testing
