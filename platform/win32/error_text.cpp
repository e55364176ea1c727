// Win32 implementation of the system error text: FormatMessage(FROM_SYSTEM).
#include "platform/error_text.h"
#include "platform/win32/win32.h"

namespace chron::platform {

// The text in the language of the user (0x0400: neutral, default sub-language), as UTF-8 and
// with the line break the system ends its texts with.
bool SystemErrorMessage(int code, std::string* text) {
  wchar_t buffer[4096];
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code),
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer / sizeof buffer[0], nullptr);
  if (length == 0) return false;
  *text = win32::Narrow({buffer, length});
  return true;
}

}  // namespace chron::platform
