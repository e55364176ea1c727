// Who wrote the status record, and when on a clock that no setting of the time moves. Process
// ids are reused (and on Windows the status file outlives a reboot), so the record names its
// writer by an identity that no later process shares; and the service sets the system clock
// (tests simulate it), so whether the record is still rewritten is judged by the boot clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace chron::platform {

class ProcessWatch {
 public:
  virtual ~ProcessWatch() = default;
  // The identity of the process `pid`: a text that a process started later under the same id,
  // or after a reboot, does not share (Linux: the boot id and the process's start in clock ticks
  // since boot, field 22 of /proc/<pid>/stat; Windows: its creation time, 100 ns units since
  // 1601). nullopt: there is no such process (or only its zombie); empty: it exists but its
  // identity cannot be read (another user's process where /proc hides them, or one not ours to
  // open).
  virtual std::optional<std::string> Identity(uint32_t pid) = 0;
  // Milliseconds since the system started, time asleep included (Linux: CLOCK_BOOTTIME;
  // Windows: GetTickCount64). Comparable only within one boot.
  virtual int64_t BootMilliseconds() = 0;
};

// The system's.
ProcessWatch& SystemProcessWatch();

}  // namespace chron::platform
