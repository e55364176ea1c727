// The system's sockaddr_in and sockaddr_in6 for a SocketAddress and back, shared by the network
// implementations of every system: each passes its own types, whose members have the same names
// and byte order, and its own AF_INET6 (which differs between the systems).
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

template <typename SockaddrIn6>
SockaddrIn6 ToSockaddr6(const SocketAddress& address, int af_inet6) {
  SockaddrIn6 result{};
  result.sin6_family = static_cast<decltype(result.sin6_family)>(af_inet6);
  result.sin6_port = address.port;
  std::memcpy(&result.sin6_addr, address.address6.data(), address.address6.size());
  result.sin6_scope_id = address.scope_id;
  return result;
}

template <typename SockaddrIn6>
SocketAddress FromSockaddr6(const SockaddrIn6& v6) {
  SocketAddress result;
  result.family = kAfInet6;
  result.port = v6.sin6_port;
  std::memcpy(result.address6.data(), &v6.sin6_addr, result.address6.size());
  result.scope_id = v6.sin6_scope_id;
  return result;
}

// The address of one entry of getaddrinfo's answer: IPv6 when its family is `af_inet6`, else IPv4.
template <typename SockaddrIn, typename SockaddrIn6, typename AddrInfo>
SocketAddress FromAddrinfo(const AddrInfo& info, int af_inet6) {
  if (info.ai_family == af_inet6) {
    SockaddrIn6 v6;
    std::memcpy(&v6, info.ai_addr, sizeof v6);
    return FromSockaddr6(v6);
  }
  SockaddrIn v4;
  std::memcpy(&v4, info.ai_addr, sizeof v4);
  SocketAddress result;
  result.port = v4.sin_port;
  static_assert(sizeof v4.sin_addr == sizeof result.address);
  std::memcpy(&result.address, &v4.sin_addr, sizeof result.address);
  return result;
}

}  // namespace chron::platform
