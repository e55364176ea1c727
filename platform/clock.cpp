// Portable part of the clock: the simulated clock over its offset file and the choice of the
// process's clock. The real clock and the file operations are in platform/<system>/clock.cpp.
#include "platform/clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <mutex>
#include <optional>
#include <string>

#include "platform/clock_system.h"
#include "platform/error_text.h"
#include "platform/arguments.h"
#include "platform/file.h"
#include "platform/simulated_clock_state.h"

namespace chron::platform {
namespace {

using clock_system::RealNowNanoseconds;

// No valid file is longer: the long form has five short lines.
constexpr size_t kStateFileLimit = 512;

// Reads the clock file: 0 and *state on success (a missing file is offset 0 in the short form),
// kInvalidContent when the file holds neither form, or the error of the failed read.
int ReadStateFile(const std::string& path, SimulatedClockState* state) {
  *state = SimulatedClockState{};
  std::string content;
  bool exists = false;
  if (int error = clock_system::ReadFileStart(path, kStateFileLimit + 1, &content, &exists)) return error;
  if (!exists) return 0;
  if (content.size() > kStateFileLimit) return clock_system::kInvalidContent;
  const std::optional<SimulatedClockState> parsed = ParseSimulatedClockState(content);
  if (!parsed) return clock_system::kInvalidContent;
  *state = *parsed;
  return 0;
}

// The real clock turned into a simulated one by the state in a file (simulated_clock_state.h).
// The file is the shared truth for every program of one test host: a change re-reads it under
// the lock of its writers (FileLock), re-anchors it at the present instant and replaces it
// (ReplaceFileAtomically). Readings check (at most every 10 ms) whether the file was replaced and follow
// a long-form file that another process (or scripts/simclock.py) wrote; a short-form file written
// by others is read only at the start and at this process's own changes, as it always was.
class SimulatedClock : public Clock {
 public:
  SimulatedClock(std::string path, std::optional<double> start_frequency_ppm) : path_(std::move(path)) {
    SimulatedClockState state;
    read_error_ = ReadStateFile(path_, &state);
    clock_system::FileIdentity(path_, &seen_identity_);
    current_ = Entry{std::numeric_limits<int64_t>::min(), state};
    if (start_frequency_ppm && read_error_ == 0 && (state.frequency_ppm != *start_frequency_ppm)) {
      Change([&](SimulatedClockState* s) {
        s->frequency_ppm = *start_frequency_ppm;
        return 0;
      });
    }
  }

  int64_t NowNanoseconds() override {
    std::lock_guard<std::mutex> guard(mutex_);
    Follow(RealNowNanoseconds());
    return current_.state.TimeAt(RealNowNanoseconds());  // after reading the file, if it did
  }
  int64_t ResolutionNanoseconds() const override { return clock_system::RealResolutionNanoseconds(); }
  // A stamp the system took before a change stays in the time scale of its instant, as on a
  // real clock: it takes the state that was in force then, as far as the kept changes tell.
  int64_t FromSystemTime(int64_t system_ns) const override {
    std::lock_guard<std::mutex> guard(mutex_);
    Follow(RealNowNanoseconds());
    if (system_ns >= current_.valid_from || history_count_ == 0) return current_.state.TimeAt(system_ns);
    const Entry* entry = nullptr;
    for (size_t i = 0; i < history_count_; ++i) {
      entry = &history_[(history_next_ + kHistory - 1 - i) % kHistory];
      if (system_ns >= entry->valid_from) break;
    }
    return entry->state.TimeAt(system_ns);
  }

  std::error_code StepBy(int64_t offset) override {
    return Change([&](SimulatedClockState* state) {
      // Both the offset and the reading it gives must stay within the range.
      int64_t stepped = 0;
      int64_t after = 0;
      if (StepTarget(state->offset_ns, offset, &stepped) || StepTarget(RealNowNanoseconds(), stepped, &after)) {
        return clock_system::kOutOfRange;
      }
      state->offset_ns = stepped;
      return 0;
    });
  }

  std::error_code DisciplineAvailable() const override { return {}; }
  std::error_code SetFrequencyCorrection(double ppm) override {
    if (!(std::fabs(ppm) <= kMaxFrequencyCorrectionPpm)) return SystemError(clock_system::kOutOfRange);
    return Change([&](SimulatedClockState* state) {
      state->correction_ppm = ppm;
      return 0;
    });
  }
  std::error_code Slew(int64_t offset) override {
    return Change([&](SimulatedClockState* state) {
      state->slew_ns = offset;
      return 0;
    });
  }
  std::error_code FrequencyCorrection(double* ppm) const override {
    std::lock_guard<std::mutex> guard(mutex_);
    Follow(RealNowNanoseconds());
    *ppm = current_.state.correction_ppm;
    return {};
  }

  std::string Description() const override {
    std::lock_guard<std::mutex> guard(mutex_);
    const SimulatedClockState& state = current_.state;
    std::string text = "Simulierte Systemuhr: " + path_ + " (Abweichung " + std::to_string(state.offset_ns) + " ns";
    if (state.long_form) {
      char rates[96];
      std::snprintf(rates, sizeof rates, ", Oszillator %+.3f ppm, Korrektur %+.3f ppm", state.frequency_ppm,
                    state.correction_ppm);
      text += rates;
    }
    text += ")";
    if (read_error_ == clock_system::kInvalidContent) {
      text += ", Inhalt der Datei ungültig, Abweichung 0 angenommen";
    } else if (read_error_ != 0) {
      text += ", Datei nicht lesbar (Fehler " + std::to_string(read_error_) + "), Abweichung 0 angenommen";
    }
    return text;
  }

 private:
  // A state and the real instant (ns since 1970) from which it was in force.
  struct Entry {
    int64_t valid_from = 0;
    SimulatedClockState state;
  };
  static constexpr size_t kHistory = 8;

  // Takes `state` as the one in force from `valid_from`; the caller holds mutex_.
  void Adopt(const SimulatedClockState& state, int64_t valid_from) const {
    history_[history_next_] = current_;
    history_next_ = (history_next_ + 1) % kHistory;
    history_count_ = std::min(history_count_ + 1, kHistory);
    current_ = Entry{valid_from, state};
  }

  // Follows a long-form file that another process replaced since this one last looked; the
  // caller holds mutex_. The file's status is asked at most every kFollowPeriodNs of real time
  // (a server reads the clock several times per reply, and a status costs a system call), and
  // the file is read only when it was replaced. This process's own changes take effect at once.
  static constexpr int64_t kFollowPeriodNs = 10'000'000;
  void Follow(int64_t real_ns) const {
    // A real clock set back makes the next look due at once.
    if (real_ns >= last_follow_ns_ && real_ns - last_follow_ns_ < kFollowPeriodNs) return;
    last_follow_ns_ = real_ns;
    uint64_t identity = 0;
    if (clock_system::FileIdentity(path_, &identity) != 0 || identity == seen_identity_) return;
    seen_identity_ = identity;
    SimulatedClockState state;
    if (ReadStateFile(path_, &state) != 0 || !state.long_form) return;
    Adopt(state, state.anchor_ns);
  }

  // Re-reads the file under its lock, re-anchors it now, lets `edit` change it (0 or a system
  // error number that leaves everything as it was) and writes it back.
  template <typename Edit>
  std::error_code Change(Edit edit) {
    std::lock_guard<std::mutex> change_guard(change_mutex_);
    FileLock lock;
    if (std::error_code error = lock.Acquire(path_)) return error;
    // Every writer of the file replaces it under this lock: a temporary found now is one that a
    // killed writer left.
    RemoveLeftTemporaries(path_);
    SimulatedClockState state;
    if (int error = ReadStateFile(path_, &state)) return SystemError(error);
    const int64_t now = RealNowNanoseconds();
    if (state.Moves()) state = state.AnchoredAt(now);
    state.anchor_ns = now;
    if (int error = edit(&state)) return SystemError(error);
    state.long_form = state.long_form || state.Moves();
    if (std::error_code error = ReplaceFileAtomically(path_, FormatSimulatedClockState(state))) return error;
    std::lock_guard<std::mutex> guard(mutex_);
    clock_system::FileIdentity(path_, &seen_identity_);
    Adopt(state, state.long_form ? now : RealNowNanoseconds());
    read_error_ = 0;
    return {};
  }

  const std::string path_;
  mutable std::mutex mutex_;  // guards everything below
  mutable Entry current_;
  mutable Entry history_[kHistory];
  mutable size_t history_next_ = 0;   // where the next superseded state is kept
  mutable size_t history_count_ = 0;  // states kept, at most kHistory
  mutable uint64_t seen_identity_ = 0;
  mutable int64_t last_follow_ns_ = 0;  // real time of the last look at the file
  int read_error_ = 0;                  // of the first read; cleared by a successful change
  std::mutex change_mutex_;
};

}  // namespace

std::unique_ptr<Clock> MakeSimulatedClock(const std::string& path, std::optional<double> start_frequency_ppm) {
  return std::make_unique<SimulatedClock>(path, start_frequency_ppm);
}

// Never destroyed: threads may still read the clock while the process exits.
Clock& SystemClock() {
  static Clock* const clock = [] {
    const std::string path = EnvironmentValue("CHRON_SIMULATED_CLOCK");
    if (!path.empty()) {
      const std::string ppm = EnvironmentValue("CHRON_SIMULATED_FREQUENCY_PPM");
      return MakeSimulatedClock(path, !ppm.empty() ? ParseDecimal(ppm) : std::nullopt).release();
    }
    return MakeRealClock().release();
  }();
  return *clock;
}

}  // namespace chron::platform
