// Socket addresses as values, and the byte-order and dotted-text helpers: portable code without
// system calls, used by the network facility and by the protocol code that only compares and
// prints addresses. Addresses and ports in SocketAddress are in network byte order, as in a
// sockaddr_in.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace chron::platform {

inline constexpr uint16_t kAfInet = 2;
// This program's mark of an IPv6 address; the systems' own AF_INET6 differ (10 on Linux, 23 on
// Windows), so each implementation translates it.
inline constexpr uint16_t kAfInet6 = 10;
inline constexpr uint32_t kInaddrNone = 0xFFFFFFFFu;  // inet_addr's answer for text that is no address

using Ipv6Bytes = std::array<uint8_t, 16>;  // network byte order

struct SocketAddress {
  uint16_t family = kAfInet;
  uint16_t port = 0;     // network byte order
  uint32_t address = 0;  // network byte order; IPv4 only
  // IPv6 only: the address, and the interface number (sin6_scope_id) of a link-local one.
  Ipv6Bytes address6{};
  uint32_t scope_id = 0;
  // IPv6 only: for a received datagram the host's own address it was sent to (all zero where not
  // known). A send to an address carrying it goes out from that address, so that a reply comes
  // from the address asked; all zero lets the routing table choose.
  Ipv6Bytes local6{};
};

// The same host and port: family, address, and for IPv6 the scope (the local address is no part).
bool SameEndpoint(const SocketAddress& a, const SocketAddress& b);

uint16_t HostToNetwork16(uint16_t value);
uint32_t HostToNetwork32(uint32_t value);
inline uint16_t NetworkToHost16(uint16_t value) { return HostToNetwork16(value); }
inline uint32_t NetworkToHost32(uint32_t value) { return HostToNetwork32(value); }

// inet_ntoa: dotted form of an address in network byte order.
std::string DottedAddress(uint32_t address);
// inet_addr: address in network byte order, or kInaddrNone (also for "255.255.255.255").
uint32_t ParseDottedAddress(std::string_view text);

}  // namespace chron::platform
