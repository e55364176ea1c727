#include "engine/clock_discipline.h"

#include <algorithm>
#include <cstdlib>
#include <vector>
#include <cstdint>

#include "messages/report.h"

namespace chron {

Applied ClockDiscipline::Apply(const LoopSample& sample, const char* kind, const std::string& sender) {
  const LoopDecision decision = loop_.Update(sample);
  if (decision.action == LoopAction::kDrop) {
    Trace("SNTP-Client: NTP %s von %s nicht verwendet, Zeitverzögerung %lld µs über dem Minimum.\n", kind,
          sender.c_str(), static_cast<long long>(decision.excess_delay_ns / 1000));
    return {Applied::Kind::kSetAside, DropReason::kDelayOutlier};
  }
  if (decision.action == LoopAction::kHold) {
    Trace("SNTP-Client: NTP %s von %s zurückgestellt, Abweichung %+lld µs weit außerhalb der Streuung von %lld µs.\n",
          kind, sender.c_str(), static_cast<long long>(decision.residual_ns / 1000),
          static_cast<long long>(decision.jitter_ns / 1000));
    return {Applied::Kind::kSetAside, DropReason::kOffsetSpike};
  }
  std::error_code error;
  if (decision.frequency_ppm != frequency_ppm_) {
    error = clock_.SetFrequencyCorrection(decision.frequency_ppm);
    if (!error) frequency_ppm_ = decision.frequency_ppm;
  }
  const bool step = decision.action == LoopAction::kStep;
  if (!error) {
    // A step ends any slew still in progress: it is part of the offset just measured.
    error = step ? clock_.Slew(0) : clock_.Slew(decision.offset_ns);
    if (!error && step) error = clock_.StepBy(decision.offset_ns);
  }
  if (error) {
    loop_.Forget();
    ReportMessage(msg::kSetClockFailed, {int64_t{error.value()}});
    return {Applied::Kind::kFailed};
  }
  if (sample.delay_ns < 0) {
    // A broadcast: its offset came with BroadcastDelayNs() added, which the calibration takes out.
    broadcast_ = {true, sample.at_ns, sample.offset_ns - BroadcastDelayNs(), step ? decision.offset_ns : 0,
                  step ? 0 : decision.offset_ns};
  }
  Trace("SNTP-Client: Uhr %s um %+.6f Sekunden, Frequenzkorrektur %+.3f ppm\n", step ? "gestellt" : "angeglichen",
        static_cast<double>(decision.offset_ns) * 1e-9, frequency_ppm_);
  return {step ? Applied::Kind::kStepped : Applied::Kind::kSlewed};
}

void ClockDiscipline::Ring::Add(int64_t value) {
  values[next] = value;
  next = (next + 1) % kCalibrations;
  count = std::min(count + 1, kCalibrations);
}

int64_t ClockDiscipline::Ring::Least() const { return count == 0 ? 0 : *std::min_element(values, values + count); }

int64_t ClockDiscipline::Ring::Median() const {
  if (count == 0) return 0;
  std::vector<int64_t> sorted(values, values + count);
  std::sort(sorted.begin(), sorted.end());
  return count % 2 == 1 ? sorted[count / 2] : (sorted[count / 2 - 1] + sorted[count / 2]) / 2;
}

void ClockDiscipline::NoteReply(int64_t delay_ns, int64_t offset_ns, int64_t at_ns) {
  if (delay_ns < 0) return;
  round_trips_.Add(delay_ns);
  if (!broadcast_.pending) return;
  broadcast_.pending = false;
  const int64_t elapsed = at_ns - broadcast_.at_ns - broadcast_.step_ns;
  if (elapsed < 0 || elapsed > kCalibrationWindowNs) return;
  // The slew is paid off at kMaxSlewPpm: 1 ns per 2,000 ns elapsed.
  constexpr int64_t kElapsedPerPaidNs = static_cast<int64_t>(1e6 / platform::kMaxSlewPpm);
  const int64_t paid = std::min(std::abs(broadcast_.slew_ns), elapsed / kElapsedPerPaidNs);
  const int64_t moved = broadcast_.step_ns + (broadcast_.slew_ns < 0 ? -paid : paid);
  const int64_t measured = offset_ns - (broadcast_.offset_ns - moved);
  if (measured < 0 || measured > delay_ns + kCalibrationSlackNs) return;
  delays_.Add(measured);
  Trace("SNTP-Client: Laufzeit des Broadcasts %lld µs gemessen, %lld µs werden berücksichtigt\n",
        static_cast<long long>(measured / 1000), static_cast<long long>(BroadcastDelayNs() / 1000));
}

int64_t ClockDiscipline::BroadcastDelayNs() const {
  return delays_.count > 0 ? delays_.Median() : round_trips_.Least() / 2;
}

std::shared_ptr<ClockDiscipline> StartDiscipline(const Configuration& config, platform::Clock& clock) {
  if (config.client_discipline == 0 || config.client_active == 0) return nullptr;
  double frequency = 0;
  std::error_code error = clock.DisciplineAvailable();
  if (!error) error = clock.FrequencyCorrection(&frequency);
  if (error) {
    Trace("SNTP-Client: Uhrführung nicht verfügbar (Fehler %d), die Uhr wird bei jeder Antwort gestellt.\n",
          error.value());
    return nullptr;
  }
  Trace("SNTP-Client: Uhrführung eingeschaltet, Frequenzkorrektur %+.3f ppm\n", frequency);
  return std::make_shared<ClockDiscipline>(clock, frequency);
}

}  // namespace chron
