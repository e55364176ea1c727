// A clock that stands still until a test moves it; stepping it records the step.
#pragma once

#include <atomic>
#include <cstdint>
#include <system_error>
#include <vector>

#include "platform/clock.h"
#include "platform/error_text.h"

namespace chron::testing {

class FakeClock : public platform::Clock {
 public:
  explicit FakeClock(int64_t now_ns = 0) : now_(now_ns) {}
  int64_t NowNanoseconds() override { return now_.load(); }
  int64_t ResolutionNanoseconds() const override { return resolution_; }
  int64_t FromSystemTime(int64_t system_ns) const override { return system_ns + system_offset_; }
  std::error_code StepBy(int64_t offset) override {
    if (step_error_ != 0) return platform::SystemError(step_error_);
    int64_t after = 0;
    if (std::error_code error = platform::StepTarget(now_.load(), offset, &after)) return error;
    steps_.push_back(offset);
    now_ = after;
    return {};
  }
  // Discipline, once enabled: slews and frequency corrections are recorded, not applied.
  std::error_code DisciplineAvailable() const override {
    return discipline_ ? std::error_code() : std::make_error_code(std::errc::not_supported);
  }
  std::error_code SetFrequencyCorrection(double ppm) override {
    if (std::error_code error = DisciplineAvailable()) return error;
    frequency_ppm_ = ppm;
    return {};
  }
  std::error_code Slew(int64_t offset) override {
    if (std::error_code error = DisciplineAvailable()) return error;
    slews_.push_back(offset);
    return {};
  }
  std::error_code FrequencyCorrection(double* ppm) const override {
    *ppm = frequency_ppm_;
    return DisciplineAvailable();
  }
  void EnableDiscipline() { discipline_ = true; }
  const std::vector<int64_t>& slews() const { return slews_; }

  void Set(int64_t now_ns) { now_ = now_ns; }
  void Advance(int64_t ns) { now_ += ns; }
  // Steps fail with the system's error number `error` (0: they succeed again).
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
