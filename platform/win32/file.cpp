// Win32 implementation of opening a file: the UTF-8 path and the mode through _wfopen.
#include "platform/file.h"

#include "platform/win32/win32.h"

namespace chron::platform {

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(win32::Widen(path).c_str(), win32::Widen(mode).c_str());
}

}  // namespace chron::platform
