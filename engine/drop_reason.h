// Why a received datagram was dropped: one counter per reason in the status record. The names
// are part of the status file's interface (field `counters.dropped`) and of chronstat's
// Prometheus output (label `reason`): keep them stable, add new ones at the end.
#pragma once

#include <cstddef>

#include "engine/client_math.h"

namespace chron {

enum class DropReason {
  kWrongSender,             // a reply not from the address and port the request went to
  kNotAwaited,              // a reply to no pending request, or one that was too long on its way
  kNotBroadcast,            // a broadcast sent straight to this host
  kOwnBroadcast,            // a broadcast of this host itself
  kServerUnsynchronised,    // leap indicator 1 or 3
  kStratum0,                // a kiss-o'-death
  kBadMac,                  // bad or missing MAC
  kUnknownKey,              // a key identifier the key file does not hold
  kDeviationLimit,          // an offset the deviation limit refused
  kMalformed,               // a length of no known format, or a zero Transmit Timestamp
  kUnexpectedMode,          // a Mode no active part takes
  kBadSource,               // a request from an address that cannot be answered
  kUnknownVersion,          // a version outside 1..4
  kStratumUnsynchronised,   // stratum above 15
  kZeroReceive,             // a reply without Receive Timestamp
  kTransmitBeforeReceive,   // T3 before T2
  kReferenceAfterTransmit,  // the server's clock set after it sent the message
  kRootDistance,            // root distance not below 1.5 s
  kImpossibleDelay,         // an impossible round trip
  kDelayOutlier,            // set aside by the discipline's delay filter
  kOffsetSpike,             // held back by the discipline: a lone offset far out of the jitter
  kReplayed,                // an authenticated broadcast not later than the last one taken
  kRefusedByList,           // a request Server\Allow or Server\Deny refuses, a broadcast Client\BroadcastFrom does
  kRateLimited,             // a request of a source over its rate limit
  kRateCeiling,             // a request above the ceiling of answers per second of all sources
  kNtsNotAuthentic,         // with NTS: a reply not ours, not authentic or malformed, a plain reply; a
                            // request with extension fields that are no NTS request
};
inline constexpr size_t kDropReasonCount = static_cast<size_t>(DropReason::kNtsNotAuthentic) + 1;

// The stable name of a reason, e.g. "wrong_sender".
const char* DropReasonName(DropReason reason);

// The reason a sample check's fault is counted under; `fault` is not kNone.
DropReason DropReasonOf(SampleFault fault);

}  // namespace chron
