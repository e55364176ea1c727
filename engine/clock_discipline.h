// The client's discipline of the clock (value Client\Discipline = 1): instead of stepping the
// clock by every offset, it feeds the offsets to the loop of discipline_loop.h and applies its
// corrections, a slew or a step and the frequency correction, through the clock's own calls.
// With the value absent or 0 nothing of this runs and every reply steps the clock as before.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "config/configuration.h"
#include "engine/discipline_loop.h"
#include "engine/drop_reason.h"
#include "platform/clock.h"

namespace chron {

// What the discipline did with a sample.
struct Applied {
  enum class Kind { kSetAside, kSlewed, kStepped, kFailed };
  Kind kind = Kind::kSetAside;
  DropReason drop = DropReason::kDelayOutlier;  // why it was set aside
  bool ClockSet() const { return kind == Kind::kSlewed || kind == Kind::kStepped; }
};

class ClockDiscipline {
 public:
  // `start_frequency_ppm`: the clock's correction in force at the start.
  ClockDiscipline(platform::Clock& clock, double start_frequency_ppm)
      : clock_(clock), loop_(start_frequency_ppm), frequency_ppm_(start_frequency_ppm) {}

  // Applies one sample whose offset the deviation limit has already allowed; `kind` and `sender`
  // name it in the trace ("Antwort" or "Broadcast", the dotted address). A clock that refused
  // is reported as a failed setting of the clock.
  Applied Apply(const LoopSample& sample, const char* kind, const std::string& sender);
  // The frequency correction in force, ppm (positive: the clock is made faster).
  double FrequencyPpm() const { return frequency_ppm_; }

  // Broadcast delay calibration (RFC 5905, section 8): a broadcast's offset lacks the time from
  // the server reading its clock to the datagram's arrival. On each of the first kCalibrations
  // broadcasts and then on every kCalibrationEvery-th the client asks the broadcasting host with
  // a normal request, right after applying the broadcast. Calibrating only now and then is not
  // enough: the delay drifts by tens of microseconds within minutes, and a broadcast client
  // cannot tell a delay that changed from its own clock's error, so it follows the delay with
  // its clock unseen; every other broadcast keeps the median within about a minute of the
  // delay's drift. The reply's offset against the
  // broadcast's, carried over the correction applied in between (the step, or the part of the
  // slew paid off at kMaxSlewPpm), is the delay the broadcast really had. Half the round trip would
  // miss the part of it that only a broadcast has: the server's send path, idle since the last
  // broadcast, takes tens of microseconds longer than for a reply sent at once. The median of the
  // last kCalibrations such delays counts: later broadcasts cannot be filtered by their delay, and
  // the median is the delay that misses theirs least, where the least would leave the clock behind
  // by their typical excess over it. A
  // reply later than kCalibrationWindowNs after its broadcast, or whose delay is not between 0 and
  // its round trip plus kCalibrationSlackNs, measures nothing; before any delay is measured, half
  // the least round trip of the last kCalibrations replies counts. One broadcasting server is
  // assumed.
  static constexpr int kCalibrationEvery = 2;
  static constexpr int kCalibrations = 4;
  static constexpr int64_t kCalibrationWindowNs = 2'000'000'000;
  static constexpr int64_t kCalibrationSlackNs = 1'000'000;
  // Counts a broadcast; true when a calibration request is to be sent now.
  bool CalibrationDue() {
    const uint64_t index = broadcasts_++;
    return index < kCalibrations || index % kCalibrationEvery == 0;
  }
  // Takes a reply: its round trip and offset (nanoseconds; a negative round trip is ignored) and
  // the clock's time when it was taken.
  void NoteReply(int64_t delay_ns, int64_t offset_ns, int64_t at_ns);
  // The one-way delay to add to a broadcast's offset, nanoseconds: 0 before any reply.
  int64_t BroadcastDelayNs() const;

 private:
  platform::Clock& clock_;
  DisciplineLoop loop_;
  double frequency_ppm_;  // the correction last set
  uint64_t broadcasts_ = 0;
  // The last broadcast applied, until a reply calibrates against it.
  struct AppliedBroadcast {
    bool pending = false;
    int64_t at_ns = 0;      // the clock's time when it was taken, before its correction
    int64_t offset_ns = 0;  // its offset without a delay added
    int64_t step_ns = 0;    // the step made for it
    int64_t slew_ns = 0;    // the slew started for it
  } broadcast_;
  // Rings of the last kCalibrations round trips and measured broadcast delays, nanoseconds.
  struct Ring {
    int64_t values[kCalibrations] = {};
    int count = 0;
    int next = 0;
    void Add(int64_t value);
    int64_t Least() const;   // 0 when empty
    int64_t Median() const;  // of an even count the mean of the middle two; 0 when empty
  };
  Ring round_trips_;
  Ring delays_;
};

// Once at start-up: when `Configuration::client_discipline` is 1 and the clock can be
// disciplined, the client's discipline; where the clock cannot (null), the client steps as
// without it and the trace says why.
std::shared_ptr<ClockDiscipline> StartDiscipline(const Configuration& config, platform::Clock& clock);

}  // namespace chron
