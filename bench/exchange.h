// What chron_loadgen sends and what it counts as a good reply: plain SNTP (loadgen.cpp) or NTS
// (nts_exchange.cpp). Requests are matched to replies by their Transmit Timestamp, which the
// reply returns as its Originate Timestamp.
#pragma once

#include <cstddef>
#include <cstdint>

namespace chron::bench {

inline constexpr size_t kMaxDatagram = 1024;  // bytes: an NTS request or reply of ours or chronyd's

enum class Verdict {
  kGood,
  kBad,  // failed a check (for NTS: not authentic, foreign identifier, malformed)
  kNak,  // NTS NAK (kiss code NTSN): the server did not take the cookie
};

class Exchange {
 public:
  virtual ~Exchange() = default;
  // Writes the request with Transmit Timestamp `stamp` (NTP format, host order) to `out` (at
  // least kMaxDatagram bytes); its size, 0 when it could not be built.
  virtual size_t Build(uint64_t stamp, uint8_t* out) = 0;
  // The verdict on `size` bytes received for the request with `stamp`.
  virtual Verdict Check(const uint8_t* reply, size_t size, uint64_t stamp) = 0;
};

// The checks every reply has to pass: a server message (mode 4) of version 4, at least 48 bytes,
// with a usable stratum, not "unsynchronised", with non-zero Receive and Transmit Timestamps,
// Transmit not before Receive.
bool GoodHeader(const uint8_t* p, size_t size);

}  // namespace chron::bench
