// The server's replies to the requests of one pass of the receive loop, sent together: one
// clock reading gives every reply its Transmit Timestamp just before the batch goes out, and
// each socket sends its replies with one system call where the system allows (sendmmsg).
// Used by the receive-loop thread only.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/auth.h"
#include "engine/ntp_message.h"
#include "platform/clock.h"
#include "platform/network.h"

namespace chron {

class ReportLimit;

class ReplyBatch {
 public:
  // While collecting, ServerReply adds its replies here instead of sending them.
  bool collecting = false;

  // A reply (host order, Transmit Timestamp still to be set) to `to` through `socket`, signed
  // with `key` when not null.
  void Add(platform::UdpSocket& socket, const NtpMessage& reply, const platform::SocketAddress& to,
           const SymmetricKey* key);
  // Sends what was added, in order, and forgets it. Failures are reported through `reports`.
  // Returns the number of replies the system took.
  size_t Send(platform::Clock& clock, ReportLimit& reports);

 private:
  struct Reply {
    platform::UdpSocket* socket;
    NtpMessage message;
    platform::SocketAddress to;
    const SymmetricKey* key;
    std::array<uint8_t, kNtpMessageWithAuthSize> bytes;
  };
  std::vector<Reply> replies_;
  std::vector<platform::OutgoingDatagram> datagrams_;  // kept between passes: no allocation in one
};

}  // namespace chron
