// This host's IPv4 addresses and the directed broadcast addresses of its interfaces, as the
// receive path asks for them with every datagram. The system's table is read again once it is
// older than `max_age`, so that an address added or removed while running soon counts.
// Used by the receive-loop thread only.
#pragma once

#include <chrono>
#include <cstdint>
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

// Whether a request from `from` may be answered: not from a zero, limited or directed
// broadcast, or multicast address, nor from port 0; for IPv6 not from the unspecified or a
// multicast address, nor from port 0. A reply to such a source would go to
// every host of a network, or nowhere.
bool IsAnswerableSource(HostAddresses& host, platform::Network& network, const platform::SocketAddress& from);

}  // namespace chron
