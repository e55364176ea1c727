// Windows: the status file in the common application data folder (C:\ProgramData\chron).
#include "platform/status_file.h"

// <windows.h> (through win32.h) before the headers that build on it.
#include "platform/win32/win32.h"

#include <cstdlib>
#include <string>

#include <sddl.h>
#include <shlobj.h>

#include "platform/win32/file_in.h"
#include "platform/win32/status_folder.h"

namespace chron::platform {

namespace win32 {

std::error_code JudgeStatusFolder(DWORD attributes, OwnerKind owner) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PlatformError::kStatusFolderLink;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return SystemError(ERROR_DIRECTORY);
  if (owner == OwnerKind::kOther) return PlatformError::kStatusFolderForeignOwner;
  return {};
}

std::wstring StatusFolderSddl(const std::wstring& writer_sid) {
  // D:P a protected DACL, nothing inherited; OICI passed on to files and folders in it.
  // FA all access; 0x1301bf modify (read, write, execute, delete); 0x1200a9 read and execute.
  return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;" + writer_sid + L")(A;OICI;0x1200a9;;;BU)";
}

}  // namespace win32

namespace {

// A writer renames its temporary within milliseconds; one a minute old was left by a killed one.
constexpr int64_t kLeftTemporaryAgeS = 60;

// Makes the folder `folder` with the status folder's own rights (StatusFolderSddl). 0, or the
// system's error (ERROR_ALREADY_EXISTS when something is there).
int CreateStatusFolder(const std::wstring& folder) {
  const std::vector<BYTE> writer = win32::ProcessUserSid();
  if (writer.empty()) return ERROR_NO_TOKEN;
  wchar_t* writer_sid = nullptr;
  if (!ConvertSidToStringSidW(const_cast<BYTE*>(writer.data()), &writer_sid)) return static_cast<int>(GetLastError());
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const bool converted = ConvertStringSecurityDescriptorToSecurityDescriptorW(
      win32::StatusFolderSddl(writer_sid).c_str(), SDDL_REVISION_1, &descriptor, nullptr);
  LocalFree(writer_sid);
  if (!converted) return static_cast<int>(GetLastError());
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const int error = CreateDirectoryW(folder.c_str(), &attributes) ? 0 : static_cast<int>(GetLastError());
  LocalFree(descriptor);
  return error;
}

// Opens the folder `folder` itself (a link at its name not followed), making it when it is
// missing: the handle, or INVALID_HANDLE_VALUE with the last error set. Held open without
// FILE_SHARE_DELETE, the handle keeps the folder where it is while the caller writes: nobody may
// rename or remove it meanwhile. (A share mode counts only beside an access to the data, here
// FILE_LIST_DIRECTORY; one for attributes and rights alone would not hold the name.)
HANDLE OpenStatusFolder(const std::wstring& folder) {
  auto open = [&] {
    return CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | READ_CONTROL | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  };
  const HANDLE opened = open();
  if (opened != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_NOT_FOUND) return opened;
  const int error = CreateStatusFolder(folder);
  if (error != 0 && error != ERROR_ALREADY_EXISTS) {
    SetLastError(static_cast<DWORD>(error));
    return INVALID_HANDLE_VALUE;
  }
  return open();
}

// The verdict on the folder `folder` opened as `handle` (JudgeStatusFolder): no error, a refusal
// or the system's error.
std::error_code JudgeOpenedFolder(const std::wstring& folder, HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return win32::LastError();
  // Wine opens what a Unix symbolic link leads to whatever the flags, but the attributes of the
  // path tell the link. On Windows both tell the same: the handle holds the name in place.
  const DWORD by_path = GetFileAttributesW(folder.c_str());
  const DWORD attributes = info.dwFileAttributes | (by_path == INVALID_FILE_ATTRIBUTES ? 0 : by_path);
  win32::OwnerKind owner = win32::OwnerKind::kOther;
  if (int error = win32::OwnerKindOf(handle, &owner)) return SystemError(error);
  return win32::JudgeStatusFolder(attributes, owner);
}

}  // namespace

std::string DefaultStatusFilePath() {
  wchar_t folder[MAX_PATH] = {};
  if (SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) {
    return "C:\\ProgramData\\chron\\status.json";
  }
  return win32::Narrow(folder) + "\\chron\\status.json";
}

std::string NtsServerKeysPath() {
  const char* own = std::getenv("CHRON_NTS_SERVER_KEYS");
  if (own != nullptr && *own != '\0') return own;
  const std::string status = DefaultStatusFilePath();
  return status.substr(0, status.find_last_of('\\') + 1) + "nts-server-keys";
}

std::string StatusFolderRefusalText(PlatformError refusal) {
  switch (refusal) {
    case PlatformError::kStatusFolderForeignOwner:
      return "weder SYSTEM noch den Administratoren noch dem Benutzer des SNTP Dienstes gehört";
    case PlatformError::kStatusFolderLink: return "eine symbolische Verknüpfung oder eine Verzeichnisverbindung ist";
    default: return "nicht verwendbar ist";
  }
}

std::error_code ReplaceFileContents(const std::string& path, const std::string& text) {
  const std::wstring wide_path = win32::Widen(path);
  const size_t slash = wide_path.find_last_of(L"\\/");
  // The folder with its separator ("" for the current one), and without it unless it is a root.
  const std::wstring prefix = slash == std::wstring::npos ? std::wstring() : wide_path.substr(0, slash + 1);
  const std::wstring name = wide_path.substr(prefix.size());
  if (name.empty() || name == L"." || name == L"..") return SystemError(ERROR_DIRECTORY);
  std::wstring folder = prefix.empty() ? L"." : prefix;
  if (folder.size() > 1 && folder[folder.size() - 2] != L':') folder.pop_back();
  win32::ScopedHandle held(OpenStatusFolder(folder));
  if (!held.valid()) return win32::LastError();
  if (std::error_code error = JudgeOpenedFolder(folder, held.get())) return error;
  win32::RemoveTemporariesIn(prefix, name, kLeftTemporaryAgeS);
  return SystemError(win32::ReplaceFileIn(prefix, name, text, FileSync::kCached));  // a record of the moment
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
