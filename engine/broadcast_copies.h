// Recognises the further copies of one broadcast datagram. A broadcast reaches every socket
// that listens on its interface: with several addresses on one interface, one socket each,
// it arrives several times. Only the first copy is taken, so a broadcast sets the clock once
// and a request sent to a broadcast address is answered once. A copy has the same sender
// (address and port) and the same bytes, and arrives within `window` of the first: a datagram
// that differs in any byte (another key's MAC, a forgery) is no copy and cannot hide one.
// Used by the receive-loop thread only.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/network.h"

namespace chron {

class BroadcastCopies {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  static constexpr size_t kLongest = 68;  // an NTP message with key identifier and MAC

  // True when the same `size` bytes came from `from` within the window before `now`;
  // otherwise remembers them and returns false. Longer datagrams are never copies.
  bool Repeated(const platform::SocketAddress& from, const uint8_t* bytes, size_t size, TimePoint now);

  std::chrono::milliseconds window{2000};

 private:
  struct Seen {
    uint32_t address;  // network byte order
    uint16_t port;     // network byte order
    size_t size;
    std::array<uint8_t, kLongest> bytes;
    TimePoint at;
  };
  std::vector<Seen> seen_;  // at most kRemembered, oldest replaced first
  size_t next_ = 0;
};

}  // namespace chron
