// Linux: name resolution of the network facility (resolver.h).
#include "platform/linux/resolver.h"

#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/error_text.h"
#include "platform/sockaddr.h"

namespace chron::platform::linux_net {
namespace {

// getaddrinfo's own error codes (EAI_*, negative), with gai_strerror's texts.
const std::error_category& ResolverCategory() {
  class Category : public std::error_category {
   public:
    const char* name() const noexcept override { return "getaddrinfo"; }
    std::string message(int code) const override { return gai_strerror(code); }
  };
  static const Category category;
  return category;
}

}  // namespace

std::error_code Resolve(std::string_view name, int family, const char* service, SocketAddress* address) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* result = nullptr;
  const int status = getaddrinfo(std::string(name).c_str(), service, &hints, &result);
  if (status != 0) {
    // getaddrinfo's own codes are negative; a system failure carries an errno value.
    return status == EAI_SYSTEM ? SystemError(errno) : std::error_code(status, ResolverCategory());
  }
  *address = FromAddrinfo<sockaddr_in, sockaddr_in6>(*result, AF_INET6);
  freeaddrinfo(result);
  return {};
}

}  // namespace chron::platform::linux_net
