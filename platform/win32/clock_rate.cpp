#include "platform/win32/clock_rate.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/clock.h"
#include "platform/rate_adjustment.h"
#include "platform/win32/win32.h"

namespace chron::platform::win32 {

namespace {

using GetPrecise = BOOL(WINAPI*)(PDWORD64, PDWORD64, PBOOL);
using SetPrecise = BOOL(WINAPI*)(DWORD64, BOOL);
using GetLegacy = BOOL(WINAPI*)(PDWORD, PDWORD, PBOOL);
using SetLegacy = BOOL(WINAPI*)(DWORD, BOOL);

}  // namespace

struct ClockRate::Shared {
  GetPrecise get_precise = nullptr;
  SetPrecise set_precise = nullptr;
  GetLegacy get_legacy = nullptr;
  SetLegacy set_legacy = nullptr;
  std::mutex mutex;
  // The frequency correction in force apart from a slew: set by SetCorrection, or learnt from the
  // system's adjustment before the first slew of a process that has set none.
  double correction_ppm = 0;
  bool correction_known = false;
  double slew_ppm = 0;  // +-500 while a slew is being paid off
  // The slew's end, watched by one thread that restores the plain correction then; started with
  // the first slew, ended and joined with the clock.
  std::chrono::steady_clock::time_point slew_end;
  bool ending = false;
  std::condition_variable changed;
  std::thread watcher;

  void WatchSlews() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!ending) {
      if (slew_ppm == 0) {
        changed.wait(lock);
      } else if (changed.wait_until(lock, slew_end) == std::cv_status::timeout &&
                 std::chrono::steady_clock::now() >= slew_end) {
        slew_ppm = 0;
        Apply();
      }
    }
  }

  // Reads the adjustment and the period's increment (in the same units) and whether the system
  // adjusts by itself instead (disabled = TRUE). No error or the error.
  std::error_code Read(uint64_t* adjustment, uint64_t* increment, bool* disabled) const {
    BOOL off = FALSE;
    if (get_precise != nullptr && set_precise != nullptr) {
      DWORD64 a = 0;
      DWORD64 i = 0;
      if (!get_precise(&a, &i, &off)) return LastError();
      *adjustment = a;
      *increment = i;
    } else if (get_legacy != nullptr && set_legacy != nullptr) {
      DWORD a = 0;
      DWORD i = 0;
      if (!get_legacy(&a, &i, &off)) return LastError();
      *adjustment = a;
      *increment = i;
    } else {
      return SystemError(ERROR_CALL_NOT_IMPLEMENTED);
    }
    *disabled = off != FALSE;
    return *increment == 0 ? SystemError(ERROR_CALL_NOT_IMPLEMENTED) : std::error_code();
  }

  // Learns the correction in force from the system unless known; the caller holds the mutex.
  std::error_code KnowCorrection() {
    if (correction_known) return {};
    uint64_t adjustment = 0;
    uint64_t increment = 0;
    bool disabled = false;
    if (std::error_code error = Read(&adjustment, &increment, &disabled)) return error;
    correction_ppm = LearntCorrectionPpm(adjustment, increment, disabled);
    correction_known = true;
    return {};
  }

  // Sets the rate to correction plus slew; the caller holds the mutex.
  std::error_code Apply() { return SetRate(correction_ppm + slew_ppm); }

  // Sets the adjustment to the increment changed by `ppm`; the caller holds the mutex.
  std::error_code SetRate(double ppm) {
    uint64_t adjustment = 0;
    uint64_t increment = 0;
    bool disabled = false;
    if (std::error_code error = Read(&adjustment, &increment, &disabled)) return error;
    const double rate = static_cast<double>(increment) * (1.0 + ppm * 1e-6);
    const auto target = static_cast<uint64_t>(std::llround(rate));
    const BOOL ok = set_precise != nullptr ? set_precise(target, FALSE) : set_legacy(static_cast<DWORD>(target), FALSE);
    return ok ? std::error_code() : LastError();
  }
};

ClockRate::ClockRate() : shared_(std::make_unique<Shared>()) {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  shared_->get_precise = ProcAddress<GetPrecise>(kernel, "GetSystemTimeAdjustmentPrecise");
  shared_->set_precise = ProcAddress<SetPrecise>(kernel, "SetSystemTimeAdjustmentPrecise");
  shared_->get_legacy = ProcAddress<GetLegacy>(kernel, "GetSystemTimeAdjustment");
  shared_->set_legacy = ProcAddress<SetLegacy>(kernel, "SetSystemTimeAdjustment");
}

std::error_code ClockRate::Available() const {
  uint64_t adjustment = 0;
  uint64_t increment = 0;
  bool disabled = false;
  return shared_->Read(&adjustment, &increment, &disabled);
}

std::error_code ClockRate::SetCorrection(double ppm) {
  if (!(std::fabs(ppm) <= kMaxFrequencyCorrectionPpm)) return SystemError(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> guard(shared_->mutex);
  shared_->correction_ppm = ppm;
  shared_->correction_known = true;
  return shared_->Apply();
}

// A slew in progress ends here with the learnt correction left in force, as the Linux kernel
// leaves its frequency when the process ends; its +-500 ppm would otherwise stay until the system
// restarts (and be read back as learnt by the next start).
ClockRate::~ClockRate() {
  {
    std::lock_guard<std::mutex> guard(shared_->mutex);
    shared_->ending = true;
    if (const std::optional<double> rate = RateToRestore(shared_->correction_ppm, shared_->slew_ppm)) {
      shared_->slew_ppm = 0;
      shared_->SetRate(*rate);  // nothing to tell of a failure: the process is ending
    }
  }
  shared_->changed.notify_all();
  if (shared_->watcher.joinable()) shared_->watcher.join();
}

std::error_code ClockRate::Slew(int64_t offset_ns) {
  std::lock_guard<std::mutex> guard(shared_->mutex);
  if (std::error_code error = shared_->KnowCorrection()) return error;
  shared_->slew_ppm = offset_ns > 0 ? kMaxSlewPpm : offset_ns < 0 ? -kMaxSlewPpm : 0;
  if (std::error_code error = shared_->Apply()) return error;
  const auto duration = std::chrono::nanoseconds(static_cast<int64_t>(std::fabs(offset_ns / (kMaxSlewPpm * 1e-6))));
  shared_->slew_end = std::chrono::steady_clock::now() + duration;
  if (!shared_->watcher.joinable()) shared_->watcher = std::thread([shared = shared_.get()] { shared->WatchSlews(); });
  shared_->changed.notify_all();
  return {};
}

std::error_code ClockRate::Correction(double* ppm) const {
  std::lock_guard<std::mutex> guard(shared_->mutex);
  if (std::error_code error = shared_->KnowCorrection()) return error;
  *ppm = shared_->correction_ppm;
  return {};
}

}  // namespace chron::platform::win32
