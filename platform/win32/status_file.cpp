// Windows: the status file in the common application data folder (C:\ProgramData\chron).
#include "platform/status_file.h"

#include <shlobj.h>

#include "platform/win32/win32.h"

namespace chron::platform {

std::string DefaultStatusFilePath() {
  wchar_t folder[MAX_PATH] = {};
  if (SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) {
    return "C:\\ProgramData\\chron\\status.json";
  }
  return win32::Narrow(folder) + "\\chron\\status.json";
}

int ReplaceFileContents(const std::string& path, const std::string& text) {
  const std::wstring wide_path = win32::Widen(path);
  const size_t slash = wide_path.find_last_of(L"\\/");
  if (slash != std::wstring::npos && slash > 0) {
    if (!CreateDirectoryW(wide_path.substr(0, slash).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return static_cast<int>(GetLastError());
    }
  }
  const std::wstring temporary = wide_path + L".tmp";
  int error = 0;
  {
    win32::ScopedHandle file(
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return static_cast<int>(GetLastError());
    DWORD written = 0;
    if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
      error = static_cast<int>(GetLastError());
    } else if (written != text.size()) {
      error = ERROR_WRITE_FAULT;
    }
  }
  if (error != 0) {
    DeleteFileW(temporary.c_str());
    return error;
  }
  if (!MoveFileExW(temporary.c_str(), wide_path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const int error = static_cast<int>(GetLastError());
    DeleteFileW(temporary.c_str());
    return error;
  }
  return 0;
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

bool ProcessRunning(uint32_t pid) {
  if (pid == 0) return false;
  win32::ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process.valid()) return GetLastError() == ERROR_ACCESS_DENIED;  // exists, not ours to open
  DWORD code = 0;
  return GetExitCodeProcess(process.get(), &code) && code == STILL_ACTIVE;
}

}  // namespace chron::platform
