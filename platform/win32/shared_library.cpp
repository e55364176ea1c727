// Win32 implementation of run-time loading: LoadLibraryW / GetProcAddress / FreeLibrary.
#include "platform/error_text.h"
#include "platform/shared_library.h"
#include "platform/win32/win32.h"

namespace chron::platform {

std::error_code SharedLibrary::Load(const std::string& path, std::unique_ptr<SharedLibrary>* out,
                                    std::string* error_text) {
  HMODULE module = LoadLibraryW(win32::Widen(path).c_str());
  if (module == nullptr) {
    const int error = static_cast<int>(GetLastError());
    if (error_text != nullptr && !SystemErrorMessage(error, error_text)) *error_text = path;
    return SystemError(error);
  }
  out->reset(new SharedLibrary(reinterpret_cast<void*>(module)));
  return {};
}

SharedLibrary::~SharedLibrary() { FreeLibrary(static_cast<HMODULE>(handle_)); }

void* SharedLibrary::Symbol(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::string ExecutableDirectory() {
  wchar_t path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
  if (n == 0 || n >= sizeof path / sizeof path[0]) return ".";
  std::wstring dir(path, n);
  const size_t slash = dir.find_last_of(L"\\/");
  return slash == std::wstring::npos ? "." : win32::Narrow(dir.substr(0, slash));
}

bool FileIsReadable(const std::string& path) {
  win32::ScopedHandle file(CreateFileW(win32::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid();
}

}  // namespace chron::platform
