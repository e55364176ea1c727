// The system's own text for an error code.
#pragma once

#include <string>

namespace chron::platform {

// Sets `text` to the system's text for error `code` (an errno value on Linux, in the language of
// the process locale's messages) and returns true; returns false, leaving `text` as it was,
// when the system has no text for the code.
bool SystemErrorMessage(int code, std::string* text);

}  // namespace chron::platform
