// Portable part of reading files: the texts of the reading errors.
#include "platform/file.h"

#include "platform/error_text.h"

namespace chron::platform {

std::string FileErrorText(int error, size_t limit) {
  if (error == kNotRegularFile) return "keine reguläre Datei";
  if (error == kFileTooLarge) return "größer als " + std::to_string(limit) + " Bytes";
  std::string text;
  if (!SystemErrorMessage(error, &text)) text = "Fehler " + std::to_string(error);
  return text;
}

}  // namespace chron::platform
