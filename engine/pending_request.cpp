#include "engine/pending_request.h"

namespace chron {

void PendingRequest::Record(uint64_t transmit, const platform::SocketAddress& server) {
  std::lock_guard lock(mutex_);
  transmit_ = transmit;
  server_ = server;
  outstanding_ = true;
}

PendingRequest::Match PendingRequest::Take(const NtpTimestamp& originate, const platform::SocketAddress& from) {
  std::lock_guard lock(mutex_);
  if (!outstanding_ || !TimestampsEqual(originate, TimestampFromUint64(transmit_))) return Match::kWrongOriginate;
  if (!platform::SameEndpoint(from, server_)) return Match::kWrongSender;
  outstanding_ = false;
  return Match::kTaken;
}

uint64_t PendingRequest::transmit() const {
  std::lock_guard lock(mutex_);
  return transmit_;
}

}  // namespace chron
