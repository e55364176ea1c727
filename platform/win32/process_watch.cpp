// Windows: a process is known by its creation time, which also tells one boot from the next.
#include "platform/process_watch.h"

#include "platform/win32/win32.h"

namespace chron::platform {
namespace {

class WindowsProcessWatch : public ProcessWatch {
 public:
  std::optional<std::string> Identity(uint32_t pid) override {
    if (pid == 0) return std::nullopt;
    win32::ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.valid()) {
      // Access denied: it exists, not ours to open (a protected process).
      return GetLastError() == ERROR_ACCESS_DENIED ? std::optional<std::string>("") : std::nullopt;
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code) || code != STILL_ACTIVE) return std::nullopt;
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return std::string();
    return std::to_string((uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime);
  }

  int64_t BootMilliseconds() override { return static_cast<int64_t>(GetTickCount64()); }
};

}  // namespace

ProcessWatch& SystemProcessWatch() {
  static WindowsProcessWatch watch;
  return watch;
}

}  // namespace chron::platform
