// Portable part of the clock: the simulated clock over its offset file and the choice of the
// process's clock. The real clock and the file operations are in platform/<system>/clock.cpp.
#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/clock_system.h"

namespace chron::platform {
namespace {

using clock_system::RealNowNanoseconds;

// No valid offset file is longer: an offset has at most 20 characters, the rest is blanks.
constexpr size_t kOffsetFileLimit = 256;

// Reads the offset file: 0 and *offset on success (a missing file is offset 0),
// kInvalidContent when the file holds anything but one signed decimal integer (blanks around it
// allowed), or the error of the failed read.
int ReadOffsetFile(const std::string& path, int64_t* offset) {
  *offset = 0;
  std::string content;
  bool exists = false;
  if (int error = clock_system::ReadFileStart(path, kOffsetFileLimit + 1, &content, &exists)) return error;
  if (!exists) return 0;
  if (content.size() > kOffsetFileLimit) return clock_system::kInvalidContent;
  std::string_view text(content);
  constexpr std::string_view kBlanks = " \t\r\n";
  while (!text.empty() && kBlanks.find(text.front()) != std::string_view::npos) text.remove_prefix(1);
  while (!text.empty() && kBlanks.find(text.back()) != std::string_view::npos) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);  // from_chars takes only '-'
  if (text.empty()) return clock_system::kInvalidContent;
  int64_t value = 0;
  const auto [rest, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || rest != text.data() + text.size()) return clock_system::kInvalidContent;
  *offset = value;
  return 0;
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

  // Now is after every step this process made: the offset in force is the latest.
  int64_t NowNanoseconds() override { return Shifted(RealNowNanoseconds(), offset_.load(std::memory_order_relaxed)); }
  int64_t ResolutionNanoseconds() const override { return clock_system::RealResolutionNanoseconds(); }
  // A stamp the system took before a step stays in the time scale of its instant, as on a real
  // clock: it takes the offset that was in force then, as far as the kept steps tell.
  int64_t FromSystemTime(int64_t system_ns) const override {
    int64_t offset = offset_.load(std::memory_order_relaxed);
    {
      std::lock_guard<std::mutex> guard(history_mutex_);
      for (size_t i = 0; i < history_count_; ++i) {
        const StepRecord& step = history_[(history_next_ + kHistory - 1 - i) % kHistory];
        if (system_ns >= step.at_system_ns) break;
        offset = step.offset_before;
      }
    }
    return Shifted(system_ns, offset);
  }

  int StepBy(int64_t offset) override {
    std::lock_guard<std::mutex> guard(step_mutex_);
    return clock_system::WithFileLock(path_ + ".lock", [&] {
      int64_t current = 0;
      if (int error = ReadOffsetFile(path_, &current)) return error;
      // Both the offset and the reading it gives must stay within the range.
      int64_t stepped = 0;
      int64_t after = 0;
      if (StepTarget(current, offset, &stepped) != 0 || StepTarget(RealNowNanoseconds(), stepped, &after) != 0) {
        return clock_system::kOutOfRange;
      }
      if (int error = clock_system::WriteFileAtomically(path_, std::to_string(stepped) + "\n")) return error;
      {
        std::lock_guard<std::mutex> history_guard(history_mutex_);
        history_[history_next_] = StepRecord{RealNowNanoseconds(), offset_.load()};
        history_next_ = (history_next_ + 1) % kHistory;
        history_count_ = std::min(history_count_ + 1, kHistory);
        offset_.store(stepped);
      }
      read_error_.store(0);
      return 0;
    });
  }

  std::string Description() const override {
    std::string text = "Simulierte Systemuhr: " + path_ + " (Abweichung " + std::to_string(offset_.load()) + " ns)";
    const int read_error = read_error_.load();
    if (read_error == clock_system::kInvalidContent) {
      text += ", Inhalt der Datei ungültig, Abweichung 0 angenommen";
    } else if (read_error != 0) {
      text += ", Datei nicht lesbar (Fehler " + std::to_string(read_error) + "), Abweichung 0 angenommen";
    }
    return text;
  }

 private:
  // A step never leaves the range, but the file may hold any offset: the reading stops at the
  // range's ends instead of wrapping around.
  static int64_t Shifted(int64_t system_ns, int64_t offset) {
    int64_t time = 0;
    if (StepTarget(system_ns, offset, &time) == 0) return time;
    return offset > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  }

  // The latest steps of this process: when (system clock, ns since 1970) and the offset before.
  struct StepRecord {
    int64_t at_system_ns = 0;
    int64_t offset_before = 0;
  };
  static constexpr size_t kHistory = 8;

  const std::string path_;
  std::atomic<int64_t> offset_{0};
  mutable std::mutex history_mutex_;
  StepRecord history_[kHistory];
  size_t history_next_ = 0;   // where the next step is recorded
  size_t history_count_ = 0;  // steps recorded, at most kHistory
  std::mutex step_mutex_;
  std::atomic<int> read_error_{0};  // of the first read; cleared by a successful step
};

}  // namespace

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

}  // namespace chron::platform
