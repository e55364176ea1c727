// chron95 has no window: its message boxes are written to standard error (still the terminal
// when they appear) and kept in the system log under their caption, facility daemon.
#include "platform/message_box.h"

#include <syslog.h>

#include <cstdio>
#include <string>

namespace chron::platform {

void ShowErrorMessageBox(std::string_view caption, std::string_view text) {
  const std::string ident(caption);
  std::fprintf(stderr, "%s: %.*s\n", ident.c_str(), static_cast<int>(text.size()), text.data());
  openlog(ident.c_str(), LOG_PID, LOG_DAEMON);
  syslog(LOG_ERR, "%.*s", static_cast<int>(text.size()), text.data());
  closelog();
}

}  // namespace chron::platform
