// Portable part of the error texts: the category of the system's error numbers, and that of the
// platform's own failures.
#include "platform/error_text.h"

#include <string>

#include "platform/status_file.h"

namespace chron::platform {
namespace {

class SystemErrorCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "chron-system"; }
  std::string message(int code) const override {
    std::string text;
    if (code < 0 || !SystemErrorMessage(code, &text)) {
      text = "Der Text für Systemfehlermeldung " + std::to_string(code) + " ist nicht zu finden !";
    }
    return text;
  }
  std::error_condition default_error_condition(int code) const noexcept override {
    return std::system_category().default_error_condition(code);
  }
};

class PlatformErrorCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "chron"; }
  std::string message(int code) const override {
    const auto error = static_cast<PlatformError>(code);
    switch (error) {
      case PlatformError::kNotRegularFile: return "keine reguläre Datei";
      case PlatformError::kFileTooLarge: return "größer als erlaubt";
      case PlatformError::kStatusFolderForeignOwner:
      case PlatformError::kStatusFolderOpenToOthers:
      case PlatformError::kStatusFolderLink: return StatusFolderRefusalText(error);
      case PlatformError::kNoServiceProcessModule: return "Kann Modulehandle für KERNEL32.DLL nicht finden !";
      case PlatformError::kNoServiceProcessEntry:
        return "Kann Einsprungspunkt für \"RegisterServiceProcess\" in KERNEL32.DLL nicht finden !";
      case PlatformError::kMacRefused: return "der Kryptoanbieter lehnt die Berechnung ab";
      case PlatformError::kCryptoNotInThisBuild: return "das Verfahren ist in diesem Build nicht verfügbar";
      case PlatformError::kNotAuthentic: return "die Daten sind nicht authentisch";
      case PlatformError::kTlsRefused: return "die TLS-Bibliothek hat abgelehnt";
    }
    return "Fehler " + std::to_string(code);
  }
};

}  // namespace

const std::error_category& SystemCategory() {
  static const SystemErrorCategory category;
  return category;
}

const std::error_category& PlatformCategory() {
  static const PlatformErrorCategory category;
  return category;
}

}  // namespace chron::platform
