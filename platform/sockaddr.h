// The system's sockaddr_in for a SocketAddress, shared by the network implementations of every
// system: each passes its own sockaddr_in, whose members have the same names and byte order.
#pragma once

#include <cstring>

#include "platform/network.h"

namespace chron::platform {

template <typename SockaddrIn>
SockaddrIn ToSockaddr(const SocketAddress& address) {
  SockaddrIn result{};
  result.sin_family = kAfInet;  // AF_INET on every system
  result.sin_port = address.port;
  // The address's four bytes as they are (s_addr is a macro on Windows, so not named here).
  static_assert(sizeof result.sin_addr == sizeof address.address);
  std::memcpy(&result.sin_addr, &address.address, sizeof address.address);
  return result;
}

}  // namespace chron::platform
