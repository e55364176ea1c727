// Win32 implementation of opening and reading files: the UTF-8 path through the wide API.
#include "platform/file.h"

#include <algorithm>

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

}  // namespace chron::platform
