// Windows: the status file in the common application data folder (C:\ProgramData\chron).
#include "platform/status_file.h"

#include <shlobj.h>

#include "platform/file.h"
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
  return ReplaceFileAtomically(path, text, FileSync::kCached);  // a record of the moment
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
