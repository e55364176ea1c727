// Linux: the status file in the service's runtime directory (systemd's RuntimeDirectory=chron).
#include "platform/status_file.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file.h"

namespace chron::platform {

std::string DefaultStatusFilePath() { return "/run/chron/status.json"; }

int ReplaceFileContents(const std::string& path, const std::string& text) {
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    // World-readable: the record holds nothing secret and chronstat runs as any user.
    if (::mkdir(path.substr(0, slash).c_str(), 0755) != 0 && errno != EEXIST) return errno;
  }
  return ReplaceFileAtomically(path, text, FileSync::kCached);  // a record of the moment, on a memory file system
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool ProcessRunning(uint32_t pid) {
  if (pid == 0 || pid > 0x7FFFFFFFu) return false;
  // Signal 0 checks existence only; EPERM: it exists but belongs to another user.
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace chron::platform
