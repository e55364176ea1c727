// Win32 implementation of the file facility: the UTF-8 path through the wide API.
#include "platform/file.h"

#include <algorithm>
#include <utility>

#include "platform/win32/file_in.h"
#include "platform/win32/win32.h"

namespace chron::platform {
std::FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(win32::Widen(path).c_str(), win32::Widen(mode).c_str());
}

std::error_code ReadRegularFile(const std::string& path, size_t limit, std::string* text, FileFacts* facts) {
  text->clear();
  if (facts != nullptr) *facts = FileFacts{};
  // FILE_SHARE_DELETE: a writer may rename a new file over this one while it is read.
  win32::ScopedHandle file(CreateFileW(win32::Widen(path).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return win32::LastError();
  // A pipe or a console would make ReadFile wait for a writer.
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return PlatformError::kNotRegularFile;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return win32::LastError();
  if (static_cast<unsigned long long>(size.QuadPart) > limit) return PlatformError::kFileTooLarge;
  text->resize(limit + 1);
  size_t have = 0;
  while (have < text->size()) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(text->size() - have, 1u << 20));
    if (!ReadFile(file.get(), text->data() + have, want, &n, nullptr)) return win32::LastError();
    if (n == 0) break;
    have += n;
  }
  if (have > limit) return PlatformError::kFileTooLarge;
  text->resize(have);
  return {};
}

bool IsMissingFileError(const std::error_code& error) {
  return error == SystemError(ERROR_FILE_NOT_FOUND) || error == SystemError(ERROR_PATH_NOT_FOUND);
}

namespace {

// The folder of `path` (empty, or ending in its separator) and the file's name in it.
std::pair<std::wstring, std::wstring> SplitPath(const std::string& path) {
  const std::wstring target = win32::Widen(path);
  const size_t slash = target.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {std::wstring(), target};
  return {target.substr(0, slash + 1), target.substr(slash + 1)};
}

}  // namespace

std::error_code ReplaceFileAtomically(const std::string& path, std::string_view text, FileSync sync) {
  const auto [folder, name] = SplitPath(path);
  return SystemError(win32::ReplaceFileIn(folder, name, text, sync));
}

std::error_code ReplacePrivateFile(const std::string& path, std::string_view text) {
  return ReplaceFileAtomically(path, text, FileSync::kDurable);
}

void RemoveLeftTemporaries(const std::string& path) {
  const auto [folder, name] = SplitPath(path);
  win32::RemoveTemporariesIn(folder, name, 0);
}

void FileLock::Release() {
  if (handle_ == -1) return;
  const HANDLE lock = reinterpret_cast<HANDLE>(std::exchange(handle_, -1));
  OVERLAPPED whole{};
  UnlockFileEx(lock, 0, MAXDWORD, MAXDWORD, &whole);
  CloseHandle(lock);
}

std::error_code FileLock::Acquire(const std::string& path) {
  Release();
  const HANDLE lock =
      CreateFileW(win32::Widen(path + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (lock == INVALID_HANDLE_VALUE) return win32::LastError();
  OVERLAPPED whole{};
  if (!LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    const std::error_code error = win32::LastError();
    CloseHandle(lock);
    return error;
  }
  handle_ = reinterpret_cast<intptr_t>(lock);
  return {};
}

// The MSI's folder docs below INSTALLDIR (Program Files\SNTP).
std::string_view InstalledDocumentsFolder() { return "C:\\Program Files\\SNTP\\docs"; }

}  // namespace chron::platform
