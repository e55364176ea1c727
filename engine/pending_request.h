// The client's latest request as replies are matched against it: the poll thread records each
// request just before sending it, and the receive loop takes it with the first reply that
// answers it, so that a repeated or second answer finds nothing outstanding.
#pragma once

#include <cstdint>
#include <mutex>

#include "engine/timestamp.h"
#include "platform/address.h"

namespace chron {

class PendingRequest {
 public:
  enum class Match {
    kTaken,           // answers the outstanding request, which is now answered
    kWrongOriginate,  // echoes no outstanding request (an older one, one already answered, none)
    kWrongSender,     // not from the address and port the request went to
  };

  // A request with Transmit Timestamp `transmit` (seconds << 32 | fraction) goes to `server`.
  void Record(uint64_t transmit, const platform::SocketAddress& server);

  // Judges a reply with Originate Timestamp `originate` from `from`; kTaken forgets the request.
  Match Take(const NtpTimestamp& originate, const platform::SocketAddress& from);

  // Transmit Timestamp of the latest request; 0 until the first.
  uint64_t transmit() const;

 private:
  mutable std::mutex mutex_;
  uint64_t transmit_ = 0;
  platform::SocketAddress server_{};
  bool outstanding_ = false;
};

}  // namespace chron
