// systemd's notification protocol (sd_notify): one datagram per status change to the
// AF_UNIX socket named by NOTIFY_SOCKET ("@" at the start means an abstract name).
//   start pending -> STATUS= only; running -> READY=1;
//   stop pending  -> STOPPING=1 and EXTEND_TIMEOUT_USEC= (the wait hint, renewed per checkpoint);
//   stopped       -> STOPPING=1 and ERRNO=<Win32 exit code>; the process then exits with that code.
//   status text   -> STATUS=<the line> (what the service is doing: in step with whom, how far off).
#include "platform/service_manager.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/error_text.h"

namespace chron::platform {
namespace {

class NotifySocketManager : public ServiceManager {
 public:
  NotifySocketManager(int fd, sockaddr_un address, socklen_t length) : fd_(fd), address_(address), length_(length) {}
  ~NotifySocketManager() override { close(fd_); }

  std::error_code SetStatus(const ServiceStatus& status) override {
    std::string text;
    switch (status.state) {
      case ServiceState::kStartPending: text = "STATUS=Startet (" + std::to_string(status.checkpoint) + ")"; break;
      case ServiceState::kRunning: text = "READY=1\nSTATUS=Betriebsbereit"; break;
      case ServiceState::kStopPending:
        // Each checkpoint extends the stop time-out by the wait hint plus the checkpoint period.
        text = "STOPPING=1\nSTATUS=Wird beendet (" + std::to_string(status.checkpoint) +
               ")\nEXTEND_TIMEOUT_USEC=" + std::to_string((static_cast<uint64_t>(status.wait_hint_ms) + 250) * 1000);
        break;
      case ServiceState::kStopped:
        text = "STOPPING=1\nSTATUS=Beendet\nERRNO=" + std::to_string(status.win32_exit_code);
        break;
    }
    return Send(text);
  }

  std::error_code SetStatusText(const std::string& text) override {
    // One line: a line break would start another assignment.
    std::string line = text;
    for (char& c : line) c = c == '\n' ? ' ' : c;
    return Send("STATUS=" + line);
  }

 private:
  std::error_code Send(const std::string& text) {
    ssize_t sent =
        sendto(fd_, text.data(), text.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address_), length_);
    return sent < 0 ? SystemError(errno) : std::error_code();
  }

  int fd_;
  sockaddr_un address_;
  socklen_t length_;
};

}  // namespace

std::error_code ConnectServiceManager(std::unique_ptr<ServiceManager>* manager, bool* handler_failed) {
  *handler_failed = false;  // one step only: the notification socket
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (path == nullptr || path[0] == '\0') return SystemError(ENOTCONN);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  size_t length = std::strlen(path);
  if (length >= sizeof(address.sun_path)) return SystemError(ENAMETOOLONG);
  if (path[0] != '/' && path[0] != '@') return SystemError(EAFNOSUPPORT);
  std::memcpy(address.sun_path, path, length);
  if (path[0] == '@') address.sun_path[0] = '\0';
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return SystemError(errno);
  // Only the service itself speaks to the manager: children must not inherit the address.
  unsetenv("NOTIFY_SOCKET");
  *manager = std::make_unique<NotifySocketManager>(fd, address,
                                                   static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length));
  return {};
}

}  // namespace chron::platform
