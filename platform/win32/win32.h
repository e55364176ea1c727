// The one way into <windows.h> for platform/win32 (only Win32 specific code includes it):
// Winsock 2 must come before windows.h, and the helpers below keep handles owned.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/error_text.h"

namespace chron::platform::win32 {

// The calling thread's last Win32 error (GetLastError) as an error.
inline std::error_code LastError() { return SystemError(static_cast<int>(GetLastError())); }

// A kernel handle kept in the `int` that the portable headers reserve for a handle: 64-bit
// Windows uses 32-bit values for kernel handles, so truncating and sign-extending them is safe
// (the rule that lets 32-bit and 64-bit processes share handles).
inline int HandleToInt(HANDLE handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }
inline HANDLE IntToHandle(int value) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value)); }

// GetProcAddress typed as the export's function type (null when the export is missing).
template <typename Function>
Function ProcAddress(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Closes a handle at the end of its scope.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
  ~ScopedHandle() {
    if (valid()) CloseHandle(handle_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// UTF-8 (the texts of this system) to UTF-16 for the wide API, and back.
std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

// Texts of the system in the current ANSI code page (the registry, FormatMessageA) and UTF-8.
std::string AnsiToUtf8(std::string_view text);
std::string Utf8ToAnsi(std::string_view text);

// A command line in UTF-16 split into its arguments (CommandLineToArgvW), each in UTF-8; empty
// when it cannot be split.
std::vector<std::string> SplitCommandLine(const wchar_t* command_line);

}  // namespace chron::platform::win32
