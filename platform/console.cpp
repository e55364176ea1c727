// The console facility's part common to both systems: formatted text for WriteText.
#include <cstdarg>
#include <string>

#include "platform/console.h"

namespace chron::platform {

void PrintText(std::FILE* stream, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (length > 0) {
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    text.pop_back();  // the terminating zero
    WriteText(stream, text);
  }
  va_end(again);
}

}  // namespace chron::platform
