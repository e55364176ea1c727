// Win32 implementation of chron95's message box: MessageBoxW without owner window.
#include "platform/message_box.h"
#include "platform/win32/win32.h"

namespace chron::platform {

void ShowErrorMessageBox(std::string_view caption, std::string_view text) {
  MessageBoxW(nullptr, win32::Widen(text).c_str(), win32::Widen(caption).c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace chron::platform
