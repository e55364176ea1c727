// The rate of the Windows system clock: the time adjustment the system adds per clock period
// (SetSystemTimeAdjustmentPrecise from Windows 10 on, otherwise SetSystemTimeAdjustment, both
// looked up at run time; Windows 95 has neither that works). A frequency correction of x ppm
// sets the adjustment to the period's nominal increment times (1 + x / 10^6). Windows has no
// slew of its own: one is emulated by adding kMaxSlewPpm (clock.h) in the offset's direction for
// as long as paying it off takes, after which a watching thread restores the plain correction; so
// does the end of the clock (the service's stop) during a slew. An adjustment of 500 ppm or more
// read at start is a slew a stopped process left, not a learnt correction (rate_adjustment.h).
#pragma once

#include <cstdint>
#include <memory>
#include <system_error>

namespace chron::platform::win32 {

class ClockRate {
 public:
  ClockRate();
  ~ClockRate();
  ClockRate(const ClockRate&) = delete;
  ClockRate& operator=(const ClockRate&) = delete;
  // No error when the system can adjust its clock's rate, else ERROR_CALL_NOT_IMPLEMENTED or the
  // error of reading the adjustment.
  std::error_code Available() const;
  // The calls below return no error or the Win32 error (ERROR_PRIVILEGE_NOT_HELD without the
  // right).
  std::error_code SetCorrection(double ppm);
  std::error_code Slew(int64_t offset_ns);
  // The correction in force apart from a slew: the one set last, else the one learnt from the
  // system's adjustment (LearntCorrectionPpm).
  std::error_code Correction(double* ppm) const;

  struct Shared;

 private:
  std::unique_ptr<Shared> shared_;
};

}  // namespace chron::platform::win32
