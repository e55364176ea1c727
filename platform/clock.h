// System clock: CLOCK_REALTIME as nanoseconds since 1970-01-01 00:00:00 UTC.
// Setting the clock is a step by a signed offset (positive = forwards), applied
// atomically so that no time passes between reading and writing. Errors are std::error_codes
// (error_text.h): the system's own numbers, or a std::errc the portable code finds.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

namespace chron::platform {

// A clock holds the instants whose nanoseconds since 1970 fit in 64 bits (1677-09-21 to
// 2262-04-11 UTC). A step that would leave them is refused with std::errc::result_out_of_range
// and changes nothing: every implementation asks this before it steps. No error and the reading
// after the step in *after, or that error.
inline std::error_code StepTarget(int64_t now, int64_t offset, int64_t* after) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  if ((offset > 0 && now > kMax - offset) || (offset < 0 && now < kMin - offset)) {
    return std::make_error_code(std::errc::result_out_of_range);
  }
  *after = now + offset;
  return {};
}

// The rate at which a slew pays an offset off, in ppm (500 us per second). It is the Linux
// kernel's rate for the single-shot adjustment adjtime() makes (ADJ_OFFSET_SINGLESHOT, fixed as
// MAX_TICKADJ), which no caller can change. Windows has no slew of its own: its clock emulates one
// by adding this rate to the frequency correction for as long as paying the offset off takes
// (win32/clock_rate.h), and the simulated clock pays its slews off at it too, so that a slew takes
// equally long everywhere and the discipline can reckon with it.
inline constexpr double kMaxSlewPpm = 500.0;
// The largest correction of the clock's rate, in ppm either way: what the Linux kernel takes
// (MAXFREQ) and what the Windows clock and the simulated clock therefore take too. The
// discipline never asks for more.
inline constexpr double kMaxFrequencyCorrectionPpm = 500.0;

class Clock {
 public:
  virtual ~Clock() = default;
  // Nanoseconds since 1970-01-01 00:00:00 UTC; cheap (no system call where the vDSO serves it).
  virtual int64_t NowNanoseconds() = 0;
  // The step in which NowNanoseconds advances, in nanoseconds (1 where the system counts
  // nanoseconds; 100 for a clock of 100 ns ticks). Timestamps carry no information below it.
  virtual int64_t ResolutionNanoseconds() const = 0;
  // A time of the system clock (nanoseconds since 1970, such as a kernel receive timestamp) on
  // this clock as it is set now: the same value for the system clock, plus its offset for a
  // simulated clock.
  virtual int64_t FromSystemTime(int64_t system_ns) const = 0;
  // Steps the clock by `offset` nanoseconds (positive: forwards). No error, or why not (the
  // system's EPERM or ERROR_PRIVILEGE_NOT_HELD without the right to set the clock, out of range
  // beyond the instants it can hold).
  virtual std::error_code StepBy(int64_t offset) = 0;
  // Discipline: a frequency correction and slews of small offsets instead of steps.
  // No error when this clock takes them, otherwise the error that tells why not
  // (std::errc::not_supported where the system has no way to adjust its clock's rate; the calls
  // below then fail with it).
  virtual std::error_code DisciplineAvailable() const { return std::make_error_code(std::errc::not_supported); }
  // Sets the correction of the clock's rate in ppm (positive: faster), replacing the previous
  // one; at most kMaxFrequencyCorrectionPpm either way (out of range beyond). No error, or the error.
  virtual std::error_code SetFrequencyCorrection(double /*ppm*/) { return DisciplineAvailable(); }
  // Starts slewing `offset` nanoseconds (positive: forwards) at kMaxSlewPpm, replacing any slew
  // still in progress; 0 stops one. No error, or the error.
  virtual std::error_code Slew(int64_t /*offset*/) { return DisciplineAvailable(); }
  // The frequency correction in force, in ppm; read-only. No error, or the error.
  virtual std::error_code FrequencyCorrection(double* /*ppm*/) const { return DisciplineAvailable(); }
  // One line describing the clock for the trace (empty for the real system clock).
  virtual std::string Description() const { return {}; }
};

// The process's clock: the real system clock, or, when the environment variable
// CHRON_SIMULATED_CLOCK names a file, a simulated clock (real clock plus the offset in
// that file, which stepping changes; see clock.cpp), whose oscillator is off by
// CHRON_SIMULATED_FREQUENCY_PPM (decimal ppm, default 0 or what the file holds).
Clock& SystemClock();

// A new real system clock.
std::unique_ptr<Clock> MakeRealClock();
// A new simulated clock over the clock file `path` (simulated_clock_state.h; a missing file is
// offset 0), read now; its changes rewrite the file. `start_frequency_ppm`, when given, becomes
// the oscillator's error in the file (as CHRON_SIMULATED_FREQUENCY_PPM does for SystemClock).
std::unique_ptr<Clock> MakeSimulatedClock(const std::string& path,
                                          std::optional<double> start_frequency_ppm = std::nullopt);

// Raises the calling thread to real-time priority for a critical section and restores it.
// Failures (EPERM without a real-time budget) are ignored.
class RealtimePriority {
 public:
  RealtimePriority();
  ~RealtimePriority();
  RealtimePriority(const RealtimePriority&) = delete;
  RealtimePriority& operator=(const RealtimePriority&) = delete;

 private:
  int old_policy_ = 0;
  int old_priority_ = 0;
  bool raised_ = false;
};

}  // namespace chron::platform
