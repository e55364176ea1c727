// Win32 implementation of the system clock (GetSystemTimePreciseAsFileTime, SetSystemTime with
// SeSystemtimePrivilege), the simulated clock and real-time priority.
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/win32/win32.h"

namespace chron::platform {
namespace {

// FILETIME counts 100 ns intervals since 1601-01-01 00:00:00 UTC; 1970 is this many later.
constexpr int64_t kUnixEpochIn100ns = 116444736000000000;
constexpr int64_t kFileTimeTickNanoseconds = 100;

int64_t RealNowNanoseconds() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  return (ticks - kUnixEpochIn100ns) * kFileTimeTickNanoseconds;
}

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
  // milliseconds, so the step is exact to 1 ms). Returns 0 or the Win32 error, e.g. 1314
  // (ERROR_PRIVILEGE_NOT_HELD) without the right to set the clock.
  int StepBy(int64_t offset) override {
    EnableSystemTimePrivilege();  // a failure shows up as SetSystemTime's error
    const int64_t target = (RealNowNanoseconds() + offset) / 100 + kUnixEpochIn100ns;
    FILETIME file_time{static_cast<DWORD>(target & 0xFFFFFFFF),
                       static_cast<DWORD>(static_cast<uint64_t>(target) >> 32)};
    SYSTEMTIME system_time{};
    if (!FileTimeToSystemTime(&file_time, &system_time)) return static_cast<int>(GetLastError());
    if (!SetSystemTime(&system_time)) return static_cast<int>(GetLastError());
    return 0;
  }
};

// The offset file: one signed decimal integer of nanoseconds. 0 and *offset (a missing file is
// offset 0), ERROR_INVALID_DATA for anything else, or the error of the read.
int ReadOffsetFile(const std::wstring& path, int64_t* offset) {
  *offset = 0;
  win32::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : static_cast<int>(error);
  }
  char buffer[65];
  DWORD n = 0;
  if (!ReadFile(file.get(), buffer, sizeof buffer - 1, &n, nullptr)) return static_cast<int>(GetLastError());
  std::string_view text(buffer, n);
  while (!text.empty() && std::string_view(" \t\r\n").find(text.front()) != std::string_view::npos)
    text.remove_prefix(1);
  while (!text.empty() && std::string_view(" \t\r\n").find(text.back()) != std::string_view::npos)
    text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int64_t value = 0;
  const auto [rest, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || rest != text.data() + text.size()) return ERROR_INVALID_DATA;
  *offset = value;
  return 0;
}

int WriteOffsetFile(const std::wstring& path, int64_t offset) {
  const std::wstring temporary = path + L".tmp";
  {
    win32::ScopedHandle file(
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return static_cast<int>(GetLastError());
    const std::string text = std::to_string(offset) + "\n";
    DWORD written = 0;
    if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
      return static_cast<int>(GetLastError());
    }
  }
  if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return static_cast<int>(GetLastError());
  return 0;
}

// Real clock plus an offset in nanoseconds (positive: ahead of the real clock), shared through
// the offset file by every program of one test host; a step re-reads it under an exclusive lock
// on "<file>.lock", adds, and replaces it.
class SimulatedClock : public Clock {
 public:
  explicit SimulatedClock(std::string path) : path_(std::move(path)), wide_path_(win32::Widen(path_)) {
    int64_t offset = 0;
    read_error_.store(ReadOffsetFile(wide_path_, &offset));
    offset_.store(offset);
  }

  int64_t NowNanoseconds() override { return RealNowNanoseconds() + offset_.load(std::memory_order_relaxed); }
  int64_t ResolutionNanoseconds() const override { return kFileTimeTickNanoseconds; }
  int64_t FromSystemTime(int64_t system_ns) const override {
    return system_ns + offset_.load(std::memory_order_relaxed);
  }

  int StepBy(int64_t offset) override {
    std::lock_guard<std::mutex> guard(step_mutex_);
    win32::ScopedHandle lock(CreateFileW((wide_path_ + L".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!lock.valid()) return static_cast<int>(GetLastError());
    OVERLAPPED whole{};
    if (!LockFileEx(lock.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
      return static_cast<int>(GetLastError());
    }
    int64_t current = 0;
    int64_t stepped = 0;
    int error = ReadOffsetFile(wide_path_, &current);
    if (error == 0 && __builtin_add_overflow(current, offset, &stepped)) error = ERROR_ARITHMETIC_OVERFLOW;
    if (error == 0) error = WriteOffsetFile(wide_path_, stepped);
    if (error == 0) {
      offset_.store(stepped);
      read_error_.store(0);
    }
    UnlockFileEx(lock.get(), 0, MAXDWORD, MAXDWORD, &whole);
    return error;
  }

  std::string Description() const override {
    std::string text = "Simulierte Systemuhr: " + path_ + " (Abweichung " + std::to_string(offset_.load()) + " ns)";
    const int read_error = read_error_.load();
    if (read_error == ERROR_INVALID_DATA) {
      text += ", Inhalt der Datei ungültig, Abweichung 0 angenommen";
    } else if (read_error != 0) {
      text += ", Datei nicht lesbar (Fehler " + std::to_string(read_error) + "), Abweichung 0 angenommen";
    }
    return text;
  }

 private:
  const std::string path_;
  const std::wstring wide_path_;
  std::atomic<int64_t> offset_{0};
  std::mutex step_mutex_;
  std::atomic<int> read_error_{0};
};

}  // namespace

std::unique_ptr<Clock> MakeRealClock() { return std::make_unique<RealClock>(); }

std::unique_ptr<Clock> MakeSimulatedClock(const std::string& path) { return std::make_unique<SimulatedClock>(path); }

// Never destroyed: threads may still read the clock while the process exits.
Clock& SystemClock() {
  static Clock* const clock = [] {
    const char* path = std::getenv("CHRON_SIMULATED_CLOCK");
    if (path != nullptr && *path != '\0') return MakeSimulatedClock(path).release();
    return MakeRealClock().release();
  }();
  return *clock;
}

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
