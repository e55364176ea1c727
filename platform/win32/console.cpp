// Win32 implementation of the console facility: a console for a GUI program, text for it in
// UTF-16, key wait, window title, and the registration of chron95 as a Windows 95 service process
// (RegisterServiceProcess, looked up at run time).
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

#include "platform/console.h"
#include "platform/win32/win32.h"

namespace chron::platform {
namespace {

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

// The output code page that UseUtf8Console replaced; 0 while it replaced none.
std::atomic<UINT> g_previous_output_code_page{0};

}  // namespace

void UseUtf8Console() {
  const UINT previous = GetConsoleOutputCP();  // 0 without a console
  if (previous == 0 || previous == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
  g_previous_output_code_page.store(previous);
}

void RestoreConsole() {
  const UINT previous = g_previous_output_code_page.exchange(0);
  if (previous != 0) {
    std::fflush(stdout);
    std::fflush(stderr);
    SetConsoleOutputCP(previous);
  }
}

// A GUI program started without redirection has no standard handles: AllocConsole creates the
// console and sets them, and the C streams are opened on it.
void OpenConsole() {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output != nullptr && output != INVALID_HANDLE_VALUE) {
    if (IsConsole(STD_OUTPUT_HANDLE)) UseUtf8Console();  // a console of the starting program
    return;
  }
  if (!AllocConsole()) return;
  FILE* stream = nullptr;
  freopen_s(&stream, "CONOUT$", "w", stdout);
  freopen_s(&stream, "CONOUT$", "w", stderr);
  freopen_s(&stream, "CONIN$", "r", stdin);
  // The code page is the console's: it can only be set once the console exists.
  UseUtf8Console();
}

void WriteText(std::FILE* stream, std::string_view text) {
  const int fd = _fileno(stream);
  const auto console = fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode = 0;
  if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode)) {
    std::fflush(stream);
    const std::wstring wide = win32::Widen(text);
    // In pieces: up to Windows 7 a console write must fit into a heap of 64 KB shared with the
    // console (a larger one fails with ERROR_NOT_ENOUGH_MEMORY). No piece ends between the two
    // halves of a surrogate pair.
    constexpr size_t kPiece = 8192;
    size_t done = 0;
    while (done < wide.size()) {
      size_t piece = std::min(kPiece, wide.size() - done);
      if (piece < wide.size() - done && IS_HIGH_SURROGATE(wide[done + piece - 1])) --piece;
      DWORD written = 0;
      if (!WriteConsoleW(console, wide.data() + done, static_cast<DWORD>(piece), &written, nullptr) || written == 0)
        break;
      done += written;
    }
    if (done != 0 || wide.empty()) return;
    // Not a single character taken: the stream may still get the bytes.
  }
  std::fwrite(text.data(), 1, text.size(), stream);
}

bool StdinIsTerminal() { return IsConsole(STD_INPUT_HANDLE); }

// One key press, read without echo, line editing or Ctrl+C processing.
void WaitForKey() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD old_mode = 0;
  if (!GetConsoleMode(input, &old_mode)) return;
  SetConsoleMode(input, 0);
  for (;;) {
    INPUT_RECORD record{};
    DWORD read = 0;
    if (!ReadConsoleInputW(input, &record, 1, &read) || read == 0) break;
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) break;
  }
  SetConsoleMode(input, old_mode);
}

void SetTerminalTitle(std::string_view title) {
  if (!IsConsole(STD_OUTPUT_HANDLE)) return;
  std::string shown;
  for (char c : title) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) shown += c;
  }
  std::fflush(stdout);
  SetConsoleTitleW(win32::Widen(shown).c_str());
}

// Windows 95 service process: RegisterServiceProcess(process id, 1) from KERNEL32, looked up by
// name so that the program also loads where it does not exist. The process then runs on without
// its console.
std::error_code DetachAsDaemon() {
  HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
  if (kernel == nullptr) return PlatformError::kNoServiceProcessModule;
  using RegisterServiceProcessFunction = DWORD(WINAPI*)(DWORD, DWORD);
  auto register_service_process = win32::ProcAddress<RegisterServiceProcessFunction>(kernel, "RegisterServiceProcess");
  if (register_service_process == nullptr) return PlatformError::kNoServiceProcessEntry;
  if (register_service_process(GetCurrentProcessId(), 1) == 0) return SystemError(ERROR_ACCESS_DENIED);
  FreeConsole();
  return {};
}

// No process waits: the program that started chron95 got its answer when it was created.
void ConfirmDaemonStart(int) {}

}  // namespace chron::platform
