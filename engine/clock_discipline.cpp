#include "engine/clock_discipline.h"

#include <algorithm>
#include <cstdint>

#include "config/configuration.h"
#include "engine/runtime.h"
#include "engine/status_record.h"
#include "messages/report.h"

namespace chron {

int ClockDiscipline::Apply(const LoopSample& sample, const char* kind, const std::string& sender) {
  const LoopDecision decision = loop_.Update(sample);
  last_correction_ = nullptr;
  if (decision.action == LoopAction::kDrop) {
    Trace("SNTP-Client: NTP %s von %s nicht verwendet, Zeitverzögerung %lld µs über dem Minimum.\n", kind,
          sender.c_str(), static_cast<long long>(decision.excess_delay_ns / 1000));
    return 0;
  }
  int error = 0;
  if (decision.frequency_ppm != frequency_ppm_) {
    error = clock_.SetFrequencyCorrection(decision.frequency_ppm);
    if (error == 0) frequency_ppm_ = decision.frequency_ppm;
  }
  const bool step = decision.action == LoopAction::kStep;
  if (error == 0) {
    // A step ends any slew still in progress: it is part of the offset just measured.
    error = step ? clock_.Slew(0) : clock_.Slew(decision.offset_ns);
    if (error == 0 && step) error = clock_.StepBy(decision.offset_ns);
  }
  if (error != 0) {
    loop_.Forget();
    last_correction_ = kCorrectionFailed;
    ReportMessage(msg::kSetClockFailed, {int64_t{error}});
    return 0;
  }
  last_correction_ = step ? kCorrectionStepped : kCorrectionSlewed;
  Trace("SNTP-Client: Uhr %s um %+.6f Sekunden, Frequenzkorrektur %+.3f ppm\n", step ? "gestellt" : "angeglichen",
        static_cast<double>(decision.offset_ns) * 1e-9, frequency_ppm_);
  return 1;
}

void ClockDiscipline::NoteRoundTrip(int64_t delay_ns) {
  if (delay_ns < 0) return;
  round_trips_[round_trip_next_] = delay_ns;
  round_trip_next_ = (round_trip_next_ + 1) % kCalibrations;
  round_trip_count_ = std::min(round_trip_count_ + 1, kCalibrations);
}

int64_t ClockDiscipline::BroadcastDelayNs() const {
  if (round_trip_count_ == 0) return 0;
  return *std::min_element(round_trips_, round_trips_ + round_trip_count_) / 2;
}

void StartDiscipline(Runtime& rt) {
  rt.client.discipline.reset();
  if (rt.registry == nullptr || rt.clock == nullptr) return;
  uint32_t value = 0;
  ReadRegistryDword(*rt.registry, "Client\\Discipline", &value, 0);
  rt.config.client_discipline = value;
  if (value == 0 || !rt.ClientActive()) return;
  double frequency = 0;
  int error = rt.clock->DisciplineAvailable();
  if (error == 0) error = rt.clock->FrequencyCorrection(&frequency);
  if (error != 0) {
    Trace("SNTP-Client: Uhrführung nicht verfügbar (Fehler %d), die Uhr wird bei jeder Antwort gestellt.\n", error);
    return;
  }
  rt.client.discipline = std::make_shared<ClockDiscipline>(*rt.clock, frequency);
  Trace("SNTP-Client: Uhrführung eingeschaltet, Frequenzkorrektur %+.3f ppm\n", frequency);
}

}  // namespace chron
