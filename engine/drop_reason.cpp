#include "engine/drop_reason.h"

namespace chron {

const char* DropReasonName(DropReason reason) {
  static constexpr const char* kNames[kDropReasonCount] = {
      "wrong_sender",
      "not_awaited",
      "not_broadcast",
      "own_broadcast",
      "server_unsynchronised",
      "stratum_0",
      "bad_mac",
      "unknown_key",
      "deviation_limit",
      "malformed",
      "unexpected_mode",
      "bad_source",
      "unknown_version",
      "stratum_unsynchronised",
      "zero_receive",
      "transmit_before_receive",
      "reference_after_transmit",
      "root_distance",
      "impossible_delay",
      "delay_outlier",
      "offset_spike",
      "replayed",
      "refused_by_list",
      "rate_limited",
      "rate_ceiling",
      "nts_not_authentic",
  };
  const auto index = static_cast<size_t>(reason);
  return index < kDropReasonCount ? kNames[index] : "unknown";
}

DropReason DropReasonOf(SampleFault fault) {
  switch (fault) {
    case SampleFault::kVersion: return DropReason::kUnknownVersion;
    case SampleFault::kStratum: return DropReason::kStratumUnsynchronised;
    case SampleFault::kZeroReceive: return DropReason::kZeroReceive;
    case SampleFault::kTransmitBeforeReceive: return DropReason::kTransmitBeforeReceive;
    case SampleFault::kReferenceAfterTransmit: return DropReason::kReferenceAfterTransmit;
    case SampleFault::kRootDistance: return DropReason::kRootDistance;
    case SampleFault::kImpossibleDelay:
    case SampleFault::kNone: break;
  }
  return DropReason::kImpossibleDelay;
}

}  // namespace chron
