// Linux implementation of the system clock, the simulated clock and real-time priority
// (only Linux-specific code lives here).
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/timex.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <mutex>
#include <string>

#include "platform/clock.h"

namespace chron::platform {

namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;

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

class RealClock : public Clock {
 public:
  int64_t NowNanoseconds() override { return RealNowNanoseconds(); }
  int64_t ResolutionNanoseconds() const override { return RealResolutionNanoseconds(); }
  int64_t FromSystemTime(int64_t system_ns) const override { return system_ns; }

  // The kernel adds the offset to the clock itself, so no time is lost between a read and a
  // set. ADJ_SETOFFSET wants a non-negative nanosecond part: -0.25 s is {-1 s, 750000000 ns}.
  int StepBy(int64_t offset) override {
    int64_t after = 0;
    if (int error = StepTarget(RealNowNanoseconds(), offset, &after)) return error;
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
    if (clock_adjtime(CLOCK_REALTIME, &adjustment) < 0) return errno;
    return 0;
  }
};

// Reads the offset file: 0 and *offset on success (a missing file is offset 0), EINVAL when
// the file holds anything but one signed decimal integer, or the errno of the failed read.
int ReadOffsetFile(const std::string& path, int64_t* offset) {
  *offset = 0;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? 0 : errno;
  std::string text;
  char buffer[256];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      close(fd);
      return error;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > 64) break;  // no valid offset is this long
  }
  close(fd);
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  if (begin < end && text[begin] == '+') ++begin;  // from_chars takes only '-'
  if (begin == end) return EINVAL;
  int64_t value = 0;
  const auto [rest, error] = std::from_chars(text.data() + begin, text.data() + end, value);
  if (error != std::errc{} || rest != text.data() + end) return EINVAL;
  *offset = value;
  return 0;
}

// Replaces the offset file atomically: a reader sees the old offset or the new one.
int WriteOffsetFile(const std::string& path, int64_t offset) {
  const std::string temporary = path + ".tmp." + std::to_string(getpid());
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  const std::string text = std::to_string(offset) + "\n";
  int error = 0;
  if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    error = errno != 0 ? errno : EIO;
  }
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) unlink(temporary.c_str());
  return error;
}

// Real clock plus an offset in nanoseconds (positive: ahead of the real clock). The offset
// file is the shared truth for every program of one test host: a step re-reads it under an
// exclusive lock (on "<file>.lock", since the file itself is replaced), adds, and rewrites it.
class SimulatedClock : public Clock {
 public:
  explicit SimulatedClock(std::string path) : path_(std::move(path)) {
    int64_t offset = 0;
    read_error_.store(ReadOffsetFile(path_, &offset));
    offset_.store(offset);
  }

  int64_t NowNanoseconds() override { return FromSystemTime(RealNowNanoseconds()); }
  int64_t ResolutionNanoseconds() const override { return RealResolutionNanoseconds(); }
  // A step never leaves the range, but the file may hold any offset: the reading stops at the
  // range's ends instead of wrapping around.
  int64_t FromSystemTime(int64_t system_ns) const override {
    const int64_t offset = offset_.load(std::memory_order_relaxed);
    int64_t time = 0;
    if (StepTarget(system_ns, offset, &time) == 0) return time;
    return offset > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  }

  int StepBy(int64_t offset) override {
    std::lock_guard<std::mutex> guard(step_mutex_);
    const std::string lock_path = path_ + ".lock";
    const int lock_fd = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock_fd < 0) return errno;
    int error = 0;
    while (flock(lock_fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        error = errno;
        break;
      }
    }
    int64_t current = 0;
    int64_t stepped = 0;
    if (error == 0) error = ReadOffsetFile(path_, &current);
    // Both the offset and the reading it gives must stay within the range.
    int64_t after = 0;
    if (error == 0) error = StepTarget(current, offset, &stepped);
    if (error == 0) error = StepTarget(RealNowNanoseconds(), stepped, &after);
    if (error == 0) error = WriteOffsetFile(path_, stepped);
    if (error == 0) {
      offset_.store(stepped);
      read_error_.store(0);
    }
    close(lock_fd);  // releases the lock
    return error;
  }

  std::string Description() const override {
    std::string text = "Simulierte Systemuhr: " + path_ + " (Abweichung " + std::to_string(offset_.load()) + " ns)";
    const int read_error = read_error_.load();
    if (read_error == EINVAL) {
      text += ", Inhalt der Datei ungültig, Abweichung 0 angenommen";
    } else if (read_error != 0) {
      text += ", Datei nicht lesbar (Fehler " + std::to_string(read_error) + "), Abweichung 0 angenommen";
    }
    return text;
  }

 private:
  const std::string path_;
  std::atomic<int64_t> offset_{0};
  std::mutex step_mutex_;
  std::atomic<int> read_error_{0};  // of the first read; cleared by a successful step
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
