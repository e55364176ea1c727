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

namespace chron::platform::win32 {

class ClockRate {
 public:
  ClockRate();
  ~ClockRate();
  ClockRate(const ClockRate&) = delete;
  ClockRate& operator=(const ClockRate&) = delete;
  // 0 when the system can adjust its clock's rate, else ERROR_CALL_NOT_IMPLEMENTED or the
  // error of reading the adjustment.
  int Available() const;
  // The calls below return 0 or the Win32 error (ERROR_PRIVILEGE_NOT_HELD without the right).
  int SetCorrection(double ppm);
  int Slew(int64_t offset_ns);
  // The correction in force apart from a slew: the one set last, else the one learnt from the
  // system's adjustment (LearntCorrectionPpm).
  int Correction(double* ppm) const;

  struct Shared;

 private:
  std::unique_ptr<Shared> shared_;
};

}  // namespace chron::platform::win32
