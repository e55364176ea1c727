// The client's discipline of the clock (value Client\Discipline = 1): instead of stepping the
// clock by every offset, it feeds the offsets to the loop of discipline_loop.h and applies its
// corrections, a slew or a step and the frequency correction, through the clock's own calls.
// With the value absent or 0 nothing of this runs and every reply steps the clock as before.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/discipline_loop.h"
#include "platform/clock.h"

namespace chron {

struct Runtime;

class ClockDiscipline {
 public:
  // `start_frequency_ppm`: the clock's correction in force at the start.
  ClockDiscipline(platform::Clock& clock, double start_frequency_ppm)
      : clock_(clock), loop_(start_frequency_ppm), frequency_ppm_(start_frequency_ppm) {}

  // Applies one sample whose offset the deviation limit has already allowed; `kind` and `sender`
  // name it in the trace ("Antwort" or "Broadcast", the dotted address). 1 when the clock was
  // slewed or stepped, 0 when the sample was set aside or the clock refused (reported as a
  // failed setting of the clock).
  int Apply(const LoopSample& sample, const char* kind, const std::string& sender);
  // What the last Apply did, as the status record names it ("slewed", "stepped", "failed"), or
  // null when it set the sample aside for its round trip.
  const char* LastCorrection() const { return last_correction_; }
  // The frequency correction in force, ppm (positive: the clock is made faster).
  double FrequencyPpm() const { return frequency_ppm_; }

  // Broadcast delay calibration (RFC 5905, section 8): a broadcast's offset lacks the network's
  // one-way delay. On the first broadcast and then on every kCalibrationEvery-th the client asks
  // the broadcasting host with a normal request; half the least round trip of the last
  // kCalibrations replies is added to broadcast offsets. One broadcasting server is assumed.
  static constexpr int kCalibrationEvery = 64;
  static constexpr int kCalibrations = 4;
  // Counts a broadcast; true when a calibration request is to be sent now.
  bool CalibrationDue() { return broadcasts_++ % kCalibrationEvery == 0; }
  // Takes the round trip of a reply (nanoseconds; negative ones are ignored).
  void NoteRoundTrip(int64_t delay_ns);
  // The one-way delay to add to a broadcast's offset, nanoseconds: 0 before any reply.
  int64_t BroadcastDelayNs() const;

 private:
  platform::Clock& clock_;
  DisciplineLoop loop_;
  double frequency_ppm_;  // the correction last set
  const char* last_correction_ = nullptr;
  uint64_t broadcasts_ = 0;
  int64_t round_trips_[kCalibrations] = {};
  int round_trip_count_ = 0;
  int round_trip_next_ = 0;
};

// Once at start-up: when `Configuration::client_discipline` is 1 and the clock can be
// disciplined, gives the runtime its discipline; where the clock cannot, the client steps as
// without it and the trace says why.
void StartDiscipline(Runtime& rt);

}  // namespace chron
