// The client's side of an exchange, decided without I/O: whether a reply or broadcast is
// refused before its timestamps are looked at, and the facts of a sample that CheckSample
// judges. The caller traces and counts what this decides.
#pragma once

#include <cstdint>

#include "engine/client_math.h"
#include "engine/drop_reason.h"
#include "engine/ntp_message.h"
#include "engine/pending_request.h"
#include "platform/address.h"

namespace chron {

// What refuses a message before its timestamps are looked at, in the order of the checks.
enum class Refusal {
  kNone,
  kOwnBroadcast,          // a broadcast of this host itself
  kServerUnsynchronised,  // leap indicator 1 or 3
  kZeroTransmit,          // no time in it (RFC 4330, section 5): it would move the clock by decades
  kWrongOriginate,        // a reply to no pending request
  kWrongSender,           // a reply not from where the request went
  kTooLongUnderway,       // a reply more than a second on its way
  kKissOfDeath,           // stratum 0 (RFC 4330, section 8)
};

// The status record's reason for a refusal.
DropReason DropReasonOf(Refusal refusal);

// A reply (mode 4) or broadcast (any other mode) as it arrived: the message in host order and
// its arrival time T4.
struct Received {
  const NtpMessage& m;
  const NtpTimestamp& t4;
  const platform::SocketAddress& from;
  bool broadcast;
};

// The checks in the order their traces come. `own_sender`: a broadcast sent from an address of
// this host (the caller knows its addresses). A reply that passes them is taken from `pending`
// and is no longer awaited; `travel` is set to the whole seconds a reply was on its way.
Refusal CheckArrival(const Received& r, bool own_sender, PendingRequest& pending, uint32_t* travel);

// What CheckSample judges of a message with T1 `t1` (2^-32 s; for a broadcast its Originate
// Timestamp) and arrival `t4`.
SampleFacts SampleFactsOf(const NtpMessage& m, uint64_t t1, const NtpTimestamp& t4, bool broadcast);

}  // namespace chron
