// Portable part of reading files: the texts of the reading errors.
#include "platform/file.h"

#include "platform/error_text.h"

namespace chron::platform {

std::string FileErrorText(const std::error_code& error, size_t limit) {
  if (error == PlatformError::kFileTooLarge) return "größer als " + std::to_string(limit) + " Bytes";
  if (error.category() != SystemCategory()) return error.message();
  std::string text;
  if (!SystemErrorMessage(error.value(), &text)) text = "Fehler " + std::to_string(error.value());
  return text;
}

}  // namespace chron::platform
