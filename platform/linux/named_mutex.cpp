// Linux implementation of the named mutex: an abstract Unix socket name ("\0<name>", socket type
// SOCK_STREAM) bound for the lifetime of the handle. Abstract names belong to the network
// namespace and are freed by the kernel when the last descriptor of the socket is closed.
#include "platform/named_mutex.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/error_text.h"

namespace chron::platform {

std::error_code NamedMutex::Create(std::string_view name, std::unique_ptr<NamedMutex>* out, bool* already_exists) {
  out->reset();
  *already_exists = false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // sun_path[0] stays 0 (abstract name); the name follows without a terminator.
  if (name.empty() || name.find('\0') != std::string_view::npos) return SystemError(EINVAL);
  if (name.size() > sizeof(address.sun_path) - 1) return SystemError(ENAMETOOLONG);
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());

  const int handle = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (handle < 0) return SystemError(errno);
  if (bind(handle, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    const int error = errno;
    close(handle);
    if (error == EADDRINUSE) {
      *already_exists = true;
      return {};
    }
    return SystemError(error);
  }
  out->reset(new NamedMutex(handle));
  return {};
}

NamedMutex::~NamedMutex() { close(handle_); }

}  // namespace chron::platform
