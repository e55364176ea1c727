// The platform layer's errors: std::error_code, empty for success. A failure of the system carries
// the system's own number (an errno value on Linux, a Win32 or Winsock code on Windows) in
// SystemCategory(); one that portable code finds itself carries a std::errc, or a PlatformError
// where no std::errc says it. Whoever reports an error takes its number from value() and its text
// from message().
#pragma once

#include <string>
#include <system_error>

namespace chron::platform {

// Sets `text` to the system's text for error `code` (an errno value on Linux, in the language of
// the process locale's messages) and returns true; returns false, leaving `text` as it was,
// when the system has no text for the code.
bool SystemErrorMessage(int code, std::string* text);

// The category of the system's error numbers. Its message() is the system's text, or "Der Text
// für Systemfehlermeldung N ist nicht zu finden !" for a number it has none for (also for every
// negative one); its conditions are those of std::system_category(), so that a code compares
// equal to the std::errc it means.
const std::error_category& SystemCategory();

// The system's error number `code` as an error (0: none, equal to std::error_code()).
inline std::error_code SystemError(int code) {
  return code == 0 ? std::error_code() : std::error_code(code, SystemCategory());
}

// The platform's own failures, which no system call reports: codes of PlatformCategory(), never
// equal to a system's code of the same number nor to any std::errc.
enum class PlatformError {
  kNotRegularFile = 1,        // a FIFO, a device, a folder, ... where a file's bytes are read
  kFileTooLarge,              // more bytes than the reader's limit
  kStatusFolderForeignOwner,  // the status file's folder is owned by another user (status_file.h)
  kStatusFolderOpenToOthers,  // ... may be changed by other users
  kStatusFolderLink,          // ... is a link itself
  kNoServiceProcessModule,    // the module of the Windows 95 service-process registration is missing
  kNoServiceProcessEntry,     // ... its entry point is
  kMacRefused,                // the crypto provider computed nothing (key or algorithm refused)
  kCryptoNotInThisBuild,      // the build has no provider of the algorithm
  kNotAuthentic,              // sealed data whose authentication does not match
  kTlsRefused,                // the TLS library refused a certificate, a key or a connection
};

// The category of PlatformError. Its message() is the German text the programs print; for the
// status folder's refusals the end of a sentence whose subject is the folder ("... gehört").
const std::error_category& PlatformCategory();

inline std::error_code make_error_code(PlatformError error) { return {static_cast<int>(error), PlatformCategory()}; }

}  // namespace chron::platform

template <>
struct std::is_error_code_enum<chron::platform::PlatformError> : std::true_type {};
