// A message box of a program without a window of its own (chron95).
#pragma once

#include <string_view>

namespace chron::platform {

// Shows `text` under `caption` with the error icon and an OK button where a window system is
// used; on Linux the text goes to standard error and to the system log under `caption`.
void ShowErrorMessageBox(std::string_view caption, std::string_view text);

}  // namespace chron::platform
