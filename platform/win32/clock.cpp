// Win32 implementation of the system clock (GetSystemTimePreciseAsFileTime where the system has
// it, SetSystemTime with SeSystemtimePrivilege), the offset file's operations and real-time
// priority.
#include <algorithm>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/clock_system.h"
#include "platform/error_text.h"
#include "platform/win32/clock_rate.h"
#include "platform/win32/win32.h"

namespace chron::platform {
namespace {

// FILETIME counts 100 ns intervals since 1601-01-01 00:00:00 UTC; 1970 is this many later.
constexpr int64_t kUnixEpochIn100ns = 116444736000000000;
constexpr int64_t kFileTimeTickNanoseconds = 100;

using clock_system::RealNowNanoseconds;

// Enables SeSystemtimePrivilege in the process token (held by administrators and services, but
// disabled until asked for). 0 or the Win32 error; ERROR_NOT_ALL_ASSIGNED (1300) when not held.
DWORD EnableSystemTimePrivilege() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return GetLastError();
  win32::ScopedHandle token(raw);
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueA(nullptr, "SeSystemtimePrivilege", &privileges.Privileges[0].Luid)) return GetLastError();
  if (!AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr)) return GetLastError();
  return GetLastError();  // ERROR_SUCCESS, or ERROR_NOT_ALL_ASSIGNED
}

class RealClock : public Clock {
 public:
  int64_t NowNanoseconds() override { return RealNowNanoseconds(); }
  int64_t ResolutionNanoseconds() const override { return kFileTimeTickNanoseconds; }
  int64_t FromSystemTime(int64_t system_ns) const override { return system_ns; }

  // Reads the clock, adds the offset and sets the result at once (SetSystemTime takes
  // milliseconds, so the step is exact to 1 ms). No error, or the Win32 error, e.g. 1314
  // (ERROR_PRIVILEGE_NOT_HELD) without the right to set the clock.
  std::error_code StepBy(int64_t offset) override {
    EnableSystemTimePrivilege();  // a failure shows up as SetSystemTime's error
    const int64_t target = (RealNowNanoseconds() + offset) / 100 + kUnixEpochIn100ns;
    FILETIME file_time{static_cast<DWORD>(target & 0xFFFFFFFF),
                       static_cast<DWORD>(static_cast<uint64_t>(target) >> 32)};
    SYSTEMTIME system_time{};
    if (!FileTimeToSystemTime(&file_time, &system_time) || !SetSystemTime(&system_time)) {
      return win32::LastError();
    }
    return {};
  }

  std::error_code DisciplineAvailable() const override { return rate_.Available(); }
  std::error_code SetFrequencyCorrection(double ppm) override {
    EnableSystemTimePrivilege();  // a failure shows up as the adjustment's error
    return rate_.SetCorrection(ppm);
  }
  std::error_code Slew(int64_t offset) override {
    EnableSystemTimePrivilege();
    return rate_.Slew(offset);
  }
  std::error_code FrequencyCorrection(double* ppm) const override { return rate_.Correction(ppm); }

 private:
  win32::ClockRate rate_;
};

}  // namespace

namespace clock_system {

int64_t RealNowNanoseconds() {
  // GetSystemTimePreciseAsFileTime exists from Windows 8 on; Windows 7 has only the coarser
  // GetSystemTimeAsFileTime (one tick of the system timer, about 15.6 ms). Looked up once.
  using FileTimeFunction = VOID(WINAPI*)(LPFILETIME);
  static const FileTimeFunction read_time = [] {
    auto precise =
        win32::ProcAddress<FileTimeFunction>(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime");
    return precise != nullptr ? precise : &GetSystemTimeAsFileTime;
  }();
  FILETIME now{};
  read_time(&now);
  const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  return (ticks - kUnixEpochIn100ns) * kFileTimeTickNanoseconds;
}

int64_t RealResolutionNanoseconds() { return kFileTimeTickNanoseconds; }

const int kInvalidContent = ERROR_INVALID_DATA;
const int kOutOfRange = ERROR_ARITHMETIC_OVERFLOW;

int ReadFileStart(const std::string& path, size_t limit, std::string* text, bool* exists) {
  text->clear();
  *exists = false;
  win32::ScopedHandle file(CreateFileW(win32::Widen(path).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : static_cast<int>(error);
  }
  *exists = true;
  char buffer[256];
  while (text->size() < limit) {
    DWORD n = 0;
    const DWORD wanted = static_cast<DWORD>(std::min(sizeof buffer, limit - text->size()));
    if (!ReadFile(file.get(), buffer, wanted, &n, nullptr)) return static_cast<int>(GetLastError());
    if (n == 0) break;
    text->append(buffer, n);
  }
  return 0;
}

int FileIdentity(const std::string& path, uint64_t* identity) {
  *identity = 0;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(win32::Widen(path).c_str(), GetFileExInfoStandard, &data)) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : static_cast<int>(error);
  }
  // The replacing file was written after the old one: its write time (100 ns) differs.
  uint64_t hash = 1469598103934665603ULL;
  for (uint64_t part : {uint64_t{data.ftLastWriteTime.dwLowDateTime}, uint64_t{data.ftLastWriteTime.dwHighDateTime},
                        uint64_t{data.ftCreationTime.dwLowDateTime}, uint64_t{data.nFileSizeLow}}) {
    hash = (hash ^ part) * 1099511628211ULL;
  }
  *identity = hash | 1;  // never 0, the missing file's number
  return 0;
}

}  // namespace clock_system

std::unique_ptr<Clock> MakeRealClock() { return std::make_unique<RealClock>(); }

// The real-time priority class for the process and time-critical priority for the thread,
// restored on the same thread. old_policy_ keeps the priority class, old_priority_ the thread
// priority.
RealtimePriority::RealtimePriority() {
  old_policy_ = static_cast<int>(GetPriorityClass(GetCurrentProcess()));
  old_priority_ = GetThreadPriority(GetCurrentThread());
  if (old_policy_ == 0 || old_priority_ == THREAD_PRIORITY_ERROR_RETURN) return;
  SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
  raised_ = SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != 0;
  if (!raised_) SetPriorityClass(GetCurrentProcess(), static_cast<DWORD>(old_policy_));
}

RealtimePriority::~RealtimePriority() {
  if (!raised_) return;
  SetThreadPriority(GetCurrentThread(), old_priority_);
  SetPriorityClass(GetCurrentProcess(), static_cast<DWORD>(old_policy_));
}

}  // namespace chron::platform
