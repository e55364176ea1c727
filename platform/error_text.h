// The platform layer's errors: std::error_code. A failure of the system carries the system's own
// number (an errno value on Linux, a Win32 or Winsock code on Windows) in SystemCategory(); one
// that portable code finds itself carries a std::errc. Whoever reports an error takes its number
// from value() and its text from message().
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

// The system's error number `code` as an error (0: none).
inline std::error_code SystemError(int code) { return {code, SystemCategory()}; }

}  // namespace chron::platform
