// Linux (glibc) implementation of the system error text.
#include "platform/error_text.h"

#include <string.h>

namespace chron::platform {
namespace {

// strerror_r has a GNU form (returns the text) and an XSI form (fills the buffer, returns 0).
[[maybe_unused]] const char* ResultText(const char* result, const char*) { return result; }
[[maybe_unused]] const char* ResultText(int result, const char* buffer) { return result == 0 ? buffer : nullptr; }

}  // namespace

bool SystemErrorMessage(int code, std::string* text) {
  // glibc answers "Unknown error N" for codes it has no text for; strerrordesc_np tells them apart.
  if (strerrordesc_np(code) == nullptr) return false;
  char buffer[1024];
  const char* message = ResultText(strerror_r(code, buffer, sizeof(buffer)), buffer);
  if (message == nullptr) return false;
  *text = message;
  return true;
}

}  // namespace chron::platform
