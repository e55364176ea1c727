// Win32 implementation of the file facility: the UTF-8 path through the wide API.
#include "platform/file.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "platform/win32/win32.h"

namespace chron::platform {

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(win32::Widen(path).c_str(), win32::Widen(mode).c_str());
}

int ReadRegularFile(const std::string& path, size_t limit, std::string* text, FileFacts* facts) {
  text->clear();
  if (facts != nullptr) *facts = FileFacts{};
  // FILE_SHARE_DELETE: a writer may rename a new file over this one while it is read.
  win32::ScopedHandle file(CreateFileW(win32::Widen(path).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  // A pipe or a console would make ReadFile wait for a writer.
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return kNotRegularFile;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return static_cast<int>(GetLastError());
  if (static_cast<unsigned long long>(size.QuadPart) > limit) return kFileTooLarge;
  text->resize(limit + 1);
  size_t have = 0;
  while (have < text->size()) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(text->size() - have, 1u << 20));
    if (!ReadFile(file.get(), text->data() + have, want, &n, nullptr)) return static_cast<int>(GetLastError());
    if (n == 0) break;
    have += n;
  }
  if (have > limit) return kFileTooLarge;
  text->resize(have);
  return 0;
}

bool IsMissingFileError(int error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

int ReplaceFileAtomically(const std::string& path, std::string_view text, FileSync sync) {
  static std::atomic<unsigned> serial{0};
  const std::wstring target = win32::Widen(path);
  const std::wstring temporary =
      target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(serial++) + L".tmp";
  DWORD error = 0;
  {
    win32::ScopedHandle file(
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return static_cast<int>(GetLastError());
    DWORD written = 0;
    if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
      error = GetLastError();
    } else if (written != text.size()) {
      error = ERROR_WRITE_FAULT;
    } else if (sync == FileSync::kDurable && !FlushFileBuffers(file.get())) {
      error = GetLastError();
    }
  }
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | (sync == FileSync::kDurable ? MOVEFILE_WRITE_THROUGH : 0);
  if (error == 0 && !MoveFileExW(temporary.c_str(), target.c_str(), flags)) error = GetLastError();
  if (error != 0) DeleteFileW(temporary.c_str());
  return static_cast<int>(error);
}

void RemoveLeftTemporaries(const std::string& path) {
  // ReplaceFileAtomically's temporaries: "<file>.<process id>-<serial>.tmp" beside the file.
  const std::wstring target = win32::Widen(path);
  const size_t slash = target.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? std::wstring() : target.substr(0, slash + 1);
  const std::wstring name = target.substr(folder.size());
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((target + L".*-*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring entry = found.cFileName;
    // The pattern also meets short (8.3) names: the long one must begin with the file's name.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || entry.size() <= name.size() + 5 ||
        entry.compare(0, name.size() + 1, name + L".") != 0)
      continue;
    // Only digits and the one dash between the name's dot and ".tmp": the pattern may match more.
    const std::wstring middle = entry.substr(name.size() + 1, entry.size() - name.size() - 5);
    if (middle.find_first_not_of(L"0123456789-") != std::wstring::npos ||
        std::count(middle.begin(), middle.end(), L'-') != 1)
      continue;
    DeleteFileW((folder + entry).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

void FileLock::Release() {
  if (handle_ == -1) return;
  const HANDLE lock = reinterpret_cast<HANDLE>(std::exchange(handle_, -1));
  OVERLAPPED whole{};
  UnlockFileEx(lock, 0, MAXDWORD, MAXDWORD, &whole);
  CloseHandle(lock);
}

int FileLock::Acquire(const std::string& path) {
  Release();
  const HANDLE lock =
      CreateFileW(win32::Widen(path + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (lock == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  OVERLAPPED whole{};
  if (!LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    const DWORD error = GetLastError();
    CloseHandle(lock);
    return static_cast<int>(error);
  }
  handle_ = reinterpret_cast<intptr_t>(lock);
  return 0;
}

// The MSI's folder docs below INSTALLDIR (Program Files\SNTP).
std::string_view InstalledDocumentsFolder() { return "C:\\Program Files\\SNTP\\docs"; }

}  // namespace chron::platform
