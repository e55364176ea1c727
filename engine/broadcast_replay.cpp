#include "engine/broadcast_replay.h"

#include <cstdlib>

#include "engine/client_math.h"

namespace chron {

namespace {

// `a` minus `b` in 2^-32 s: the difference of the 64-bit values read as signed, which holds
// across the NTP era's end for stamps within 68 years of each other.
int64_t Difference(uint64_t a, uint64_t b) { return static_cast<int64_t>(a - b); }

// A broadcast sent `transmit` and arriving at `arrival_ns` was sent later than one of
// (`earlier_transmit`, `earlier_arrival_ns`) by as much as it arrived later.
bool InStep(uint64_t earlier_transmit, int64_t earlier_arrival_ns, uint64_t transmit, int64_t arrival_ns) {
  const int64_t sent = NtpUnitsToNanoseconds(Difference(transmit, earlier_transmit));
  const int64_t arrived = arrival_ns - earlier_arrival_ns;
  return sent > 0 && arrived > 0 && std::llabs(sent - arrived) <= BroadcastReplay::kToleranceNs + arrived / 1000;
}

}  // namespace

ReplayVerdict BroadcastReplay::Judge(uint32_t key_id, uint64_t transmit, int64_t arrival_ns) {
  Line* line = nullptr;
  for (Line& candidate : lines_) {
    if (candidate.key_id == key_id) line = &candidate;
  }
  if (line == nullptr) {
    lines_.push_back(Line{key_id, transmit, arrival_ns, transmit});
    return ReplayVerdict::kTaken;
  }
  ReplayVerdict verdict = ReplayVerdict::kReplayed;
  if (Difference(transmit, line->last_taken) > 0 &&
      (Difference(transmit, line->highest) > 0 ||
       InStep(line->last_taken, line->last_taken_arrival_ns, transmit, arrival_ns))) {
    verdict = ReplayVerdict::kTaken;
  } else {
    const bool continues =
        line->length > 0 && InStep(line->latest_transmit, line->latest_arrival_ns, transmit, arrival_ns);
    line->length = continues ? line->length + 1 : 1;
    line->latest_transmit = transmit;
    line->latest_arrival_ns = arrival_ns;
    if (line->length < kLineLength) return ReplayVerdict::kReplayed;
    verdict = ReplayVerdict::kNewTimeLine;
  }
  line->last_taken = transmit;
  line->last_taken_arrival_ns = arrival_ns;
  if (Difference(transmit, line->highest) > 0) line->highest = transmit;
  line->length = 0;
  return verdict;
}

}  // namespace chron
