// Win32: FormatMessageW on the executable's own message table (resource type 11, name 1), as the
// Event Viewer formats the same table from the registered message file.
#include <vector>

#include "platform/message_table.h"
#include "platform/win32/win32.h"

namespace chron::platform {
namespace {

bool HasMessageTable() {
  static const bool present = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(11)) != nullptr;
  return present;
}

}  // namespace

bool FormatFromMessageTable(uint32_t id, std::span<const MessageInsertion> insertions, std::string* text, int* status) {
  if (!HasMessageTable()) return false;
  // The argument array: a pointer to a wide text for %n, the value for %n!d!.
  std::vector<std::wstring> texts;
  texts.reserve(insertions.size());
  std::vector<DWORD_PTR> arguments;
  for (const MessageInsertion& insertion : insertions) {
    if (insertion.is_number) {
      arguments.push_back(static_cast<DWORD_PTR>(static_cast<int32_t>(insertion.number)));
    } else {
      texts.push_back(win32::Widen(insertion.text));
      arguments.push_back(reinterpret_cast<DWORD_PTR>(texts.back().c_str()));
    }
  }
  wchar_t* buffer = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                     nullptr, id, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer), 80,
                     reinterpret_cast<va_list*>(arguments.data()));
  if (length == 0) {
    *status = static_cast<int>(GetLastError());
    text->clear();
    return true;
  }
  *text = win32::Narrow({buffer, length});
  LocalFree(buffer);
  *status = 0;
  return true;
}

}  // namespace chron::platform
