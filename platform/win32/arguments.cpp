// Win32: the command line and the environment in UTF-16, converted to UTF-8. main's argv and
// getenv give them in the ANSI code page, where a character outside it (a "ü" under a code page
// without it, any Cyrillic letter under 1252) is lost.
#include "platform/arguments.h"
#include "platform/win32/win32.h"

// After windows.h, which WIN32_LEAN_AND_MEAN keeps from including it.
#include <shellapi.h>

namespace chron::platform {

namespace win32 {

std::vector<std::string> SplitCommandLine(const wchar_t* command_line) {
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(command_line, &count);
  if (words == nullptr) return {};
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) arguments.push_back(Narrow(words[i]));
  LocalFree(words);
  return arguments;
}

}  // namespace win32

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> arguments = win32::SplitCommandLine(GetCommandLineW());
  if (!arguments.empty()) return arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(win32::AnsiToUtf8(argv[i]));
  return arguments;
}

// The process's environment block itself, which the C runtime's _putenv keeps up to date too.
std::string EnvironmentValue(const char* name) {
  const std::wstring wide_name = win32::Widen(name);
  std::wstring value;
  DWORD size = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);  // with the terminating zero
  while (size != 0) {
    value.assign(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
    if (length < size) {
      value.resize(length);
      return win32::Narrow(value);
    }
    size = length;  // it grew in between
  }
  return {};
}

}  // namespace chron::platform
