// Linux implementation of the system clock, the offset file's operations and real-time
// priority (only Linux-specific code lives here).
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/timex.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/clock_system.h"
#include "platform/error_text.h"

namespace chron::platform {

namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;

using clock_system::RealNowNanoseconds;
using clock_system::RealResolutionNanoseconds;

// clock_adjtime on the system clock: no error, or errno's.
std::error_code AdjustSystemClock(timex* adjustment) {
  return clock_adjtime(CLOCK_REALTIME, adjustment) < 0 ? SystemError(errno) : std::error_code();
}

class RealClock : public Clock {
 public:
  int64_t NowNanoseconds() override { return RealNowNanoseconds(); }
  int64_t ResolutionNanoseconds() const override { return RealResolutionNanoseconds(); }
  int64_t FromSystemTime(int64_t system_ns) const override { return system_ns; }

  // The kernel adds the offset to the clock itself, so no time is lost between a read and a
  // set. ADJ_SETOFFSET wants a non-negative nanosecond part: -0.25 s is {-1 s, 750000000 ns}.
  std::error_code StepBy(int64_t offset) override {
    int64_t after = 0;
    if (std::error_code error = StepTarget(RealNowNanoseconds(), offset, &after)) return error;
    timex adjustment{};
    adjustment.modes = ADJ_SETOFFSET | ADJ_NANO;
    int64_t seconds = offset / kNanosecondsPerSecond;
    int64_t nanoseconds = offset % kNanosecondsPerSecond;
    if (nanoseconds < 0) {
      nanoseconds += kNanosecondsPerSecond;
      seconds -= 1;
    }
    adjustment.time.tv_sec = static_cast<time_t>(seconds);
    adjustment.time.tv_usec = static_cast<suseconds_t>(nanoseconds);  // nanoseconds (ADJ_NANO)
    return AdjustSystemClock(&adjustment);
  }

  // The kernel's own PLL stays off (STA_PLL is never set here): the client's loop drives the
  // frequency (ADJ_FREQUENCY) and slews offsets the way adjtime() does (ADJ_OFFSET_SINGLESHOT,
  // kMaxSlewPpm). Setting needs CAP_SYS_TIME (EPERM without).
  std::error_code DisciplineAvailable() const override {
    double ppm = 0;
    return FrequencyCorrection(&ppm);
  }
  // ADJ_FREQUENCY takes ppm with a 16-bit binary fraction ("scaled ppm").
  std::error_code SetFrequencyCorrection(double ppm) override {
    if (!(std::fabs(ppm) <= kMaxFrequencyCorrectionPpm)) return std::make_error_code(std::errc::result_out_of_range);
    timex adjustment{};
    adjustment.modes = ADJ_FREQUENCY;
    adjustment.freq = std::lround(ppm * 65536.0);
    return AdjustSystemClock(&adjustment);
  }
  // ADJ_OFFSET_SINGLESHOT takes microseconds (ADJ_NANO does not apply to it) and replaces the
  // slew in progress.
  std::error_code Slew(int64_t offset) override {
    constexpr int64_t kLimit = 500'000'000;  // half a second, as adjtime() takes at once
    if (offset > kLimit || offset < -kLimit) return std::make_error_code(std::errc::result_out_of_range);
    timex adjustment{};
    adjustment.modes = ADJ_OFFSET_SINGLESHOT;
    adjustment.offset = static_cast<long>(offset >= 0 ? (offset + 500) / 1000 : -((-offset + 500) / 1000));
    return AdjustSystemClock(&adjustment);
  }
  // modes 0: reads only, allowed without any right.
  std::error_code FrequencyCorrection(double* ppm) const override {
    timex state{};
    if (std::error_code error = AdjustSystemClock(&state)) return error;
    *ppm = static_cast<double>(state.freq) / 65536.0;
    return {};
  }
};

}  // namespace

namespace clock_system {

// CLOCK_REALTIME in nanoseconds since 1970; served by the vDSO without a system call.
int64_t RealNowNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

// clock_getres of CLOCK_REALTIME: 1 ns with high-resolution timers.
int64_t RealResolutionNanoseconds() {
  timespec resolution{};
  if (clock_getres(CLOCK_REALTIME, &resolution) != 0) return 1;
  const int64_t nanoseconds = static_cast<int64_t>(resolution.tv_sec) * kNanosecondsPerSecond + resolution.tv_nsec;
  return nanoseconds > 0 ? nanoseconds : 1;
}

const int kInvalidContent = EINVAL;
const int kOutOfRange = ERANGE;

int ReadFileStart(const std::string& path, size_t limit, std::string* text, bool* exists) {
  text->clear();
  *exists = false;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? 0 : errno;
  *exists = true;
  char buffer[256];
  while (text->size() < limit) {
    const ssize_t n = read(fd, buffer, std::min(sizeof buffer, limit - text->size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      close(fd);
      return error;
    }
    if (n == 0) break;
    text->append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return 0;
}

int FileIdentity(const std::string& path, uint64_t* identity) {
  *identity = 0;
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return errno == ENOENT ? 0 : errno;
  // Replacing renames a new file over the old one: a new inode even within one tick of mtime.
  uint64_t hash = 1469598103934665603ULL;
  for (uint64_t part : {static_cast<uint64_t>(status.st_ino), static_cast<uint64_t>(status.st_size),
                        static_cast<uint64_t>(status.st_mtim.tv_sec), static_cast<uint64_t>(status.st_mtim.tv_nsec),
                        static_cast<uint64_t>(status.st_ctim.tv_nsec)}) {
    hash = (hash ^ part) * 1099511628211ULL;
  }
  *identity = hash | 1;  // never 0, the missing file's number
  return 0;
}

}  // namespace clock_system

std::unique_ptr<Clock> MakeRealClock() { return std::make_unique<RealClock>(); }

// Must be destroyed on the thread that constructed it.
RealtimePriority::RealtimePriority() {
  sched_param old{};
  if (pthread_getschedparam(pthread_self(), &old_policy_, &old) != 0) return;
  old_priority_ = old.sched_priority;
  sched_param raised{};
  raised.sched_priority = sched_get_priority_max(SCHED_FIFO);
  raised_ = pthread_setschedparam(pthread_self(), SCHED_FIFO, &raised) == 0;
}

RealtimePriority::~RealtimePriority() {
  if (!raised_) return;
  sched_param old{};
  old.sched_priority = old_priority_;
  pthread_setschedparam(pthread_self(), old_policy_, &old);
}

}  // namespace chron::platform
