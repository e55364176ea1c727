// A clock that stands still until a test moves it; stepping it records the step.
#pragma once

#include <atomic>
#include <cstdint>
#include <system_error>
#include <vector>

#include "platform/clock.h"

namespace chron::testing {

class FakeClock : public platform::Clock {
 public:
  explicit FakeClock(int64_t now_ns = 0) : now_(now_ns) {}
  int64_t NowNanoseconds() override { return now_.load(); }
  int64_t ResolutionNanoseconds() const override { return resolution_; }
  int64_t FromSystemTime(int64_t system_ns) const override { return system_ns + system_offset_; }
  int StepBy(int64_t offset) override {
    if (step_error_ != 0) return step_error_;
    int64_t after = 0;
    if (int error = platform::StepTarget(now_.load(), offset, &after)) return error;
    steps_.push_back(offset);
    now_ = after;
    return 0;
  }
  // Discipline, once enabled: slews and frequency corrections are recorded, not applied.
  int DisciplineAvailable() const override { return discipline_ ? 0 : static_cast<int>(std::errc::not_supported); }
  int SetFrequencyCorrection(double ppm) override {
    if (int error = DisciplineAvailable()) return error;
    frequency_ppm_ = ppm;
    return 0;
  }
  int Slew(int64_t offset) override {
    if (int error = DisciplineAvailable()) return error;
    slews_.push_back(offset);
    return 0;
  }
  int FrequencyCorrection(double* ppm) const override {
    *ppm = frequency_ppm_;
    return DisciplineAvailable();
  }
  void EnableDiscipline() { discipline_ = true; }
  const std::vector<int64_t>& slews() const { return slews_; }

  void Set(int64_t now_ns) { now_ = now_ns; }
  void Advance(int64_t ns) { now_ += ns; }
  void FailStepsWith(int error) { step_error_ = error; }
  void SetResolution(int64_t nanoseconds) { resolution_ = nanoseconds; }
  // This clock's offset from the system clock, for FromSystemTime.
  void SetSystemOffset(int64_t nanoseconds) { system_offset_ = nanoseconds; }
  const std::vector<int64_t>& steps() const { return steps_; }

 private:
  std::atomic<int64_t> now_;
  int step_error_ = 0;
  int64_t resolution_ = 1;
  int64_t system_offset_ = 0;
  std::vector<int64_t> steps_;
  bool discipline_ = false;
  double frequency_ppm_ = 0;
  std::vector<int64_t> slews_;
};

}  // namespace chron::testing
