// This host's IPv4 addresses and the directed broadcast addresses of its interfaces, as the
// receive path asks for them with every datagram. The system's table is read again once it is
// older than `max_age`, so that an address added or removed while running soon counts.
// Used by the receive-loop thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/network.h"

namespace chron {

class HostAddresses {
 public:
  // `address` in network byte order.
  bool IsOwn(platform::Network& network, uint32_t address);
  bool IsDirectedBroadcast(platform::Network& network, uint32_t address);

  std::chrono::steady_clock::duration max_age = std::chrono::seconds(1);

 private:
  void Refresh(platform::Network& network);

  std::vector<uint32_t> own_;
  std::vector<uint32_t> broadcasts_;
  bool read_ = false;
  std::chrono::steady_clock::time_point read_at_;
};

// The IPv4 address (network byte order) inside an IPv4-mapped (::ffff:0:0/96) or translated
// (64:ff9b::/96, 64:ff9b:1::/48; RFC 6052) IPv6 address; empty for any other.
std::optional<uint32_t> EmbeddedIpv4(const platform::Ipv6Bytes& address);

// Whether a request from `from` may be answered: not from a zero, limited or directed
// broadcast, or multicast address, nor from port 0; for IPv6 not from the unspecified, loopback
// or a multicast address, nor from port 0, and an embedded IPv4 address (EmbeddedIpv4) is held
// to the IPv4 rule and must not be loopback. A reply to such a source would go to every host of
// a network, or nowhere.
bool IsAnswerableSource(HostAddresses& host, platform::Network& network, const platform::SocketAddress& from);

}  // namespace chron
