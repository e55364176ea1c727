// Linux: a process is known by the boot id and its start time in /proc.
#include "platform/process_watch.h"

#include <signal.h>

#include <cerrno>
#include <ctime>
#include <fstream>
#include <sstream>

namespace chron::platform {
namespace {

std::string BootId() {
  std::ifstream file("/proc/sys/kernel/random/boot_id");
  std::string id;
  return std::getline(file, id) && !id.empty() ? id : "?";
}

class LinuxProcessWatch : public ProcessWatch {
 public:
  std::optional<std::string> Identity(uint32_t pid) override {
    if (pid == 0 || pid > 0x7FFFFFFFu) return std::nullopt;
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(file, line)) {
      // Gone, or hidden from this user (/proc mounted with hidepid): signal 0 tells which; EPERM:
      // it exists but belongs to another user.
      return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM ? std::optional<std::string>("") : std::nullopt;
    }
    // Field 2, the command in parentheses, may itself hold blanks and ')': the fields from 3 on
    // follow the last ')'. Field 3 is the state, 22 the start in clock ticks since boot.
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    std::string state, field;
    fields >> state;
    for (int number = 4; number <= 22 && fields >> field; ++number) {
      if (number == 22) return state == "Z" ? std::nullopt : std::optional<std::string>(boot_id_ + " " + field);
    }
    return std::string();  // a line this reader does not know
  }

  int64_t BootMilliseconds() override {
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1'000'000;
  }

 private:
  const std::string boot_id_ = BootId();
};

}  // namespace

ProcessWatch& SystemProcessWatch() {
  static LinuxProcessWatch watch;
  return watch;
}

}  // namespace chron::platform
