// The clock discipline loop: turns the offsets the client measures into corrections of the
// clock (a slew or a step, and a frequency correction), numbers in and numbers out.
//
// Filter. Each sample's round-trip delay is compared with the least delay of the last
// kDelayHistory samples (itself included): a reply whose delay exceeds that minimum by more than
// max(kMinDelayTolerance, half the minimum) is dropped, because excess delay on one leg shifts
// the offset by up to half of it. The tolerance lets the tens of microseconds by which a loaded
// host's scheduling varies the delay pass; a reply held up in a queue does not. A sample's offset is only valid for the
// clock as it was when it was taken, so older samples are not reused after a correction; the filter only keeps delayed
// ones out. After kMaxDrops dropped in a row the path may have changed and the next is taken, but
// only the part of its offset beyond half its excess delay is applied (the rest may be the delay's
// asymmetry) and it teaches the frequency nothing. Broadcasts carry no delay and pass.
//
// Phase. Offsets below the step threshold (128 ms, the value NTP implementations use: above it
// a slew at 500 ppm would take over four minutes, during which the clock is knowingly wrong)
// are slewed, larger ones are stepped. Once the frequency is learnt, a slew takes kPhaseGain of
// the offset and the next offset still holds the rest: each sample's noise reaches the clock
// halved and averaged with the ones before (about 0.6 of it as RMS, where slewing in full passes
// all of it on). The first samples, a confirmed change and a sample after delayed ones are
// slewed in full.
//
// Frequency. A frequency-locked loop: after a slew the next offset, less the part of the slew
// not yet paid off, divided by the time since, is the frequency error left. The correction
// moves by that times a gain: 1 for the first kFastUpdates updates and when two residuals in a
// row stand out of the recent jitter (at least kMinJitterNs) by kChangeFactor with the same sign
// (the oscillator changed, e.g. with temperature; one alone may be noise), kSteadyGain otherwise, which averages the
// measurement noise (a regression over stored samples would too, but must be restarted on every change of the
// oscillator, and the FLL needs no history). Steps leave the frequency as it is; the time after one is measured from
// the step.
//
// Scatter. Noise of zero mean must not move the frequency or throw the clock about (a server whose
// replies alternate +-100 ms). A residual beyond twice kMaxFrequencyPpm times the interval is no
// frequency error the correction could follow: it raises the jitter to its size at once and
// teaches the FLL nothing; the frequency then learns from the offsets themselves, as a critically
// damped phase-locked loop, from the mean of two in a row (alternating ones cancel). Where the
// jitter over the interval exceeds kFrequencyNoisePpm, the FLL's gain is scaled by the square of
// their ratio (inverse variance, as a regression weighs its samples by their scatter). While the
// jitter exceeds what one interval can slew at kMaxSlewPpm, only so much of each offset is slewed
// that a typical one's slew takes half the interval: a slew replaced before its end moves the
// clock by the same amount whatever the offset, and the mean error of offsets scattering both ways
// would never be corrected. A residual that stands out right after a held one the other way is
// jitter, not a change.
//
// Spikes. A residual standing out alone is held back, not slewed: the next sample tells whether
// it was one (a broadcast that came late, which no round trip reveals, or a reply whose delay
// passed the filter) or the start of a change, which the next then confirms and corrects in
// full. A sample is held only when the one before was used, so a change costs at most one
// interval more.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/clock.h"

namespace chron {

// One measurement: offset (positive: the server is ahead, the clock must go forwards), its
// round-trip delay (negative: unknown, a broadcast) and the local clock's time when taken, all
// in nanoseconds.
struct LoopSample {
  int64_t offset_ns = 0;
  int64_t delay_ns = -1;
  int64_t at_ns = 0;
};

enum class LoopAction {
  kDrop,  // delayed sample, nothing to do
  kHold,  // a lone offset far out of the jitter, held back until the next sample tells more
  kSlew,  // slew `offset_ns`
  kStep,  // step by `offset_ns`
};

struct LoopDecision {
  LoopAction action = LoopAction::kDrop;
  int64_t offset_ns = 0;
  double frequency_ppm = 0;     // the correction to set (the whole of it, not a change)
  int64_t excess_delay_ns = 0;  // kDrop: how far the delay exceeded the minimum
  int64_t residual_ns = 0;      // kHold: the offset less the part of the last slew still owed
  int64_t jitter_ns = 0;        // kHold: the recent jitter it stood out of
};

class DisciplineLoop {
 public:
  static constexpr int64_t kStepThresholdNs = 128'000'000;
  static constexpr double kMaxFrequencyPpm = platform::kMaxFrequencyCorrectionPpm;
  static constexpr int kDelayHistory = 8;
  static constexpr int64_t kMinDelayTolerance = 50'000;
  static constexpr int kMaxDrops = 3;
  static constexpr int kFastUpdates = 2;
  static constexpr double kSteadyGain = 0.25;
  static constexpr double kPhaseGain = 0.5;
  static constexpr double kChangeFactor = 3.0;
  static constexpr double kMinJitterNs = 5000.0;  // below the noise of a LAN's timestamps
  static constexpr double kMinElapsedNs = 0.5e9;  // the least time between samples that tells a frequency
  static constexpr double kFrequencyNoisePpm = 50.0;

  // `frequency_ppm`: the correction the clock has at the start.
  explicit DisciplineLoop(double frequency_ppm = 0) : frequency_ppm_(frequency_ppm) {}

  LoopDecision Update(const LoopSample& sample);
  // The clock refused the correction: the loop forgets it was made.
  void Forget() { have_last_ = false; }

  double frequency_ppm() const { return frequency_ppm_; }

 private:
  bool DelayedSample(const LoopSample& sample, int64_t* excess);
  // The largest part of an offset to slew when the offsets scatter more than the interval can
  // slew (1 otherwise).
  double ScatterPhaseGain(double elapsed_ns) const;
  // The decision to step by `offset`; the next interval is measured from the step's end.
  LoopDecision Step(const LoopSample& sample, int64_t offset);
  // Stages of a slewed sample, given its `residual` (the offset less the phase still owed) over
  // `elapsed` ns since the last. A residual no reachable frequency explains teaches the frequency
  // through the phase: returns the phase gain. Any other one teaches it directly, unless it
  // stands out alone (returns the hold); sets *phase_gain.
  double LearnFromScatter(int64_t offset, double owed, double residual, double elapsed);
  std::optional<LoopDecision> LearnFromResidual(double residual, double elapsed, double* phase_gain);

  double frequency_ppm_ = 0;
  int64_t delays_[kDelayHistory] = {};
  int delay_count_ = 0;
  int delay_next_ = 0;
  int drops_ = 0;
  bool have_last_ = false;
  int64_t last_at_ns_ = 0;
  int64_t last_slew_ns_ = 0;    // the slew started at the last correction (0 after a step)
  int64_t left_ns_ = 0;         // the part of the last offset not slewed
  int64_t last_offset_ns_ = 0;  // the last offset slewed
  int updates_ = 0;             // frequency updates so far
  double jitter_ns_ = 0;        // RMS of recent offsets, exponentially averaged
  int standing_out_ = 0;        // sign of the last residual if it stood out of the jitter, else 0
  bool forced_ = false;         // the sample passed only because kMaxDrops were dropped before it
  bool set_aside_ = false;      // the last sample was held back or dropped for its delay
};

}  // namespace chron
