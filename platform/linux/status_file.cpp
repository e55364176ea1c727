// Linux: the status file in the service's runtime directory (systemd's RuntimeDirectory=chron).
#include "platform/status_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace chron::platform {

std::string DefaultStatusFilePath() { return "/run/chron/status.json"; }

int ReplaceFileContents(const std::string& path, const std::string& text) {
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    // World-readable: the record holds nothing secret and chronstat runs as any user.
    if (::mkdir(path.substr(0, slash).c_str(), 0755) != 0 && errno != EEXIST) return errno;
  }
  const std::string temporary = path + ".tmp." + std::to_string(getpid());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  int error = 0;
  size_t done = 0;
  while (done < text.size() && error == 0) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) error = n < 0 ? errno : EIO;
    if (n > 0) done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(temporary.c_str());
  return error;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool ProcessRunning(uint32_t pid) {
  if (pid == 0 || pid > 0x7FFFFFFFu) return false;
  // Signal 0 checks existence only; EPERM: it exists but belongs to another user.
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace chron::platform
