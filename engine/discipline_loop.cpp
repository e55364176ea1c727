#include "engine/discipline_loop.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "platform/clock.h"

namespace chron {

bool DisciplineLoop::DelayedSample(const LoopSample& sample, int64_t* excess) {
  *excess = 0;
  forced_ = false;
  if (sample.delay_ns < 0) return false;
  delays_[delay_next_] = sample.delay_ns;
  delay_next_ = (delay_next_ + 1) % kDelayHistory;
  delay_count_ = std::min(delay_count_ + 1, kDelayHistory);
  const int64_t least = *std::min_element(delays_, delays_ + delay_count_);
  *excess = sample.delay_ns - least;
  const bool delayed = *excess > std::max(kMinDelayTolerance, least / 2);
  if (!delayed || drops_ >= kMaxDrops) {
    forced_ = delayed;
    drops_ = 0;
    return false;
  }
  ++drops_;
  set_aside_ = true;
  return true;
}

double DisciplineLoop::ScatterPhaseGain(double elapsed_ns) const {
  // Residuals are differences of two offsets, an offset's own scatter about half theirs: such
  // an offset's slew takes half the interval, which leaves room for the mean error besides.
  const double slewable = elapsed_ns * platform::kMaxSlewPpm * 1e-6;
  return jitter_ns_ > slewable ? slewable / jitter_ns_ : 1.0;
}

LoopDecision DisciplineLoop::Step(const LoopSample& sample, int64_t offset) {
  LoopDecision decision;
  decision.action = LoopAction::kStep;
  decision.offset_ns = offset;
  decision.frequency_ppm = frequency_ppm_;
  // The next sample's local time is on the other side of the step: measured from its end.
  set_aside_ = false;
  have_last_ = true;
  last_at_ns_ = sample.at_ns + offset;
  last_slew_ns_ = 0;
  left_ns_ = 0;
  last_offset_ns_ = 0;
  return decision;
}

double DisciplineLoop::LearnFromScatter(int64_t offset, double owed, double residual, double elapsed) {
  // No frequency the correction can reach carries the clock this far in one interval: the
  // residual is scatter, and the jitter is at least its size at once. The frequency learns from
  // the phase instead, as a critically damped phase-locked loop (frequency gain a quarter of the
  // phase gain squared), from the mean of this offset and the last, in which offsets that
  // alternate cancel.
  jitter_ns_ = std::max(std::fabs(residual), std::sqrt(0.75 * jitter_ns_ * jitter_ns_ + 0.25 * residual * residual));
  standing_out_ = 0;
  const double phase_gain = ScatterPhaseGain(elapsed);
  // The last offset less the part of its slew paid since: what it would read now.
  const double last = static_cast<double>(last_offset_ns_ - last_slew_ns_) + owed;
  const double mean = 0.5 * (static_cast<double>(offset) + last);
  frequency_ppm_ += 0.25 * phase_gain * phase_gain * mean / elapsed * 1e6;
  frequency_ppm_ = std::clamp(frequency_ppm_, -kMaxFrequencyPpm, kMaxFrequencyPpm);
  return phase_gain;
}

std::optional<LoopDecision> DisciplineLoop::LearnFromResidual(double residual, double elapsed, double* phase_gain) {
  // A residual standing out of the jitter is an oscillator change only when the one before stood
  // out the same way: a single one is as likely a sample that noise carried off.
  const bool stands_out =
      updates_ >= kFastUpdates && std::fabs(residual) > kChangeFactor * std::max(jitter_ns_, kMinJitterNs);
  const int sign = residual > 0 ? 1 : -1;
  if (stands_out && standing_out_ != sign && !set_aside_) {
    set_aside_ = true;
    standing_out_ = sign;
    LoopDecision hold;
    hold.action = LoopAction::kHold;
    hold.residual_ns = std::llround(residual);
    hold.jitter_ns = std::llround(jitter_ns_);
    hold.frequency_ppm = frequency_ppm_;
    return hold;
  }
  const bool changed = stands_out && standing_out_ == sign;
  // One standing out the other way right after a held one undoes it: scatter, not a change.
  const bool reversed = stands_out && standing_out_ == -sign;
  standing_out_ = stands_out && !reversed ? sign : 0;
  const bool steady = updates_ >= kFastUpdates && !changed;
  double gain = steady ? kSteadyGain : 1.0;
  if (steady) *phase_gain = kPhaseGain;
  // A change of the oscillator is not jitter: the estimate learns only from the others.
  if (updates_ >= kFastUpdates && (!stands_out || reversed)) {
    jitter_ns_ = std::sqrt(0.75 * jitter_ns_ * jitter_ns_ + 0.25 * residual * residual);
  } else if (updates_ == kFastUpdates - 1) {
    jitter_ns_ = std::max(jitter_ns_, std::fabs(residual));  // the first after the fast updates sets the scale
  }
  // Weighed by the inverse of its noise's variance once that noise (the jitter, this residual
  // included, over the interval) exceeds kFrequencyNoisePpm: zero-mean scatter must not move the
  // frequency.
  const double noise_ppm = jitter_ns_ / elapsed * 1e6;
  if (noise_ppm > kFrequencyNoisePpm) gain *= (kFrequencyNoisePpm / noise_ppm) * (kFrequencyNoisePpm / noise_ppm);
  // But never less than an even share among the intervals learnt from so far: the first estimate
  // rests on one noisy interval, and the running mean of all of them converges where the noise's
  // weight alone would take hundreds of polls to undo it.
  if (steady) gain = std::max(gain, std::min(kSteadyGain, 1.0 / (updates_ + 1)));
  frequency_ppm_ += gain * residual / elapsed * 1e6;
  frequency_ppm_ = std::clamp(frequency_ppm_, -kMaxFrequencyPpm, kMaxFrequencyPpm);
  *phase_gain = std::min(*phase_gain, ScatterPhaseGain(elapsed));
  ++updates_;
  return std::nullopt;
}

LoopDecision DisciplineLoop::Update(const LoopSample& sample) {
  LoopDecision decision;
  if (DelayedSample(sample, &decision.excess_delay_ns)) {
    decision.frequency_ppm = frequency_ppm_;
    return decision;
  }
  int64_t offset = sample.offset_ns;
  if (forced_) {
    // Excess delay on one leg carries the offset off by at most half of it: only what lies
    // beyond that is certain to be the clock's error.
    const int64_t doubt = decision.excess_delay_ns / 2;
    offset = offset > doubt ? offset - doubt : offset < -doubt ? offset + doubt : 0;
  }
  if (offset >= kStepThresholdNs || offset <= -kStepThresholdNs) {
    LoopDecision step = Step(sample, offset);
    step.excess_delay_ns = decision.excess_delay_ns;
    return step;
  }
  double phase_gain = 1.0;
  const double elapsed = static_cast<double>(sample.at_ns - last_at_ns_);
  if (have_last_ && elapsed >= kMinElapsedNs && !forced_) {
    // What is left of the last slew is phase still owed, not frequency error.
    const double paid = elapsed * platform::kMaxSlewPpm * 1e-6;
    const double owed = std::copysign(std::max(std::fabs(static_cast<double>(last_slew_ns_)) - paid, 0.0),
                                      static_cast<double>(last_slew_ns_));
    const double residual = static_cast<double>(offset) - owed - static_cast<double>(left_ns_);
    if (std::fabs(residual) > 2 * kMaxFrequencyPpm * 1e-6 * elapsed) {
      phase_gain = LearnFromScatter(offset, owed, residual, elapsed);
    } else if (std::optional<LoopDecision> hold = LearnFromResidual(residual, elapsed, &phase_gain)) {
      hold->excess_delay_ns = decision.excess_delay_ns;
      return *hold;
    }
  }
  const int64_t slew = std::llround(phase_gain * static_cast<double>(offset));
  left_ns_ = offset - slew;
  last_slew_ns_ = slew;
  decision.action = LoopAction::kSlew;
  decision.offset_ns = slew;
  decision.frequency_ppm = frequency_ppm_;
  set_aside_ = false;
  have_last_ = true;
  last_at_ns_ = sample.at_ns;
  last_offset_ns_ = offset;
  return decision;
}

}  // namespace chron
