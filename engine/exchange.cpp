#include "engine/exchange.h"

namespace chron {

DropReason DropReasonOf(Refusal refusal) {
  switch (refusal) {
    case Refusal::kOwnBroadcast: return DropReason::kOwnBroadcast;
    case Refusal::kServerUnsynchronised: return DropReason::kServerUnsynchronised;
    case Refusal::kZeroTransmit: return DropReason::kMalformed;
    case Refusal::kWrongSender: return DropReason::kWrongSender;
    case Refusal::kKissOfDeath: return DropReason::kStratum0;
    case Refusal::kWrongOriginate:
    case Refusal::kTooLongUnderway:
    case Refusal::kNone: break;
  }
  return DropReason::kNotAwaited;
}

Refusal CheckArrival(const Received& r, bool own_sender, PendingRequest& pending, uint32_t* travel) {
  if (r.broadcast && own_sender) return Refusal::kOwnBroadcast;
  const uint32_t leap = GetLeapIndicator(r.m);
  if (leap == 1 || leap == 3) return Refusal::kServerUnsynchronised;
  if (r.m.transmit_time.seconds == 0 && r.m.transmit_time.fraction == 0) return Refusal::kZeroTransmit;
  if (!r.broadcast) {
    switch (pending.Take(r.m.originate_time, r.from)) {
      case PendingRequest::Match::kWrongOriginate: return Refusal::kWrongOriginate;
      case PendingRequest::Match::kWrongSender: return Refusal::kWrongSender;
      case PendingRequest::Match::kTaken: break;
    }
    *travel = WholeSecondsBetween(r.t4, r.m.originate_time);
    if (*travel > 1) return Refusal::kTooLongUnderway;
  }
  return GetStratum(r.m) == 0 ? Refusal::kKissOfDeath : Refusal::kNone;
}

SampleFacts SampleFactsOf(const NtpMessage& m, uint64_t t1, const NtpTimestamp& t4, bool broadcast) {
  SampleFacts facts;
  facts.broadcast = broadcast;
  facts.version = GetVersionNumber(m);
  facts.stratum = GetStratum(m);
  facts.precision = GetPrecision(m);
  facts.root_delay = GetRootDelay(m);
  facts.root_dispersion = GetRootDispersion(m);
  facts.reference = TimestampToUint64(m.reference_time);
  facts.t1 = t1;
  facts.t2 = TimestampToUint64(m.receive_time);
  facts.t3 = TimestampToUint64(m.transmit_time);
  facts.t4 = TimestampToUint64(t4);
  return facts;
}

}  // namespace chron
