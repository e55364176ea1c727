// The real clock is only read here, never stepped; every step goes to a simulated clock.
#include "platform/clock.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace chron::platform {
namespace {

constexpr int64_t kSecond = 1000000000;
constexpr int64_t kTolerance = 20000000;  // 20 ms: time passes between two reads

int64_t SystemClockNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// How far `clock` runs ahead of std::chrono::system_clock (nanoseconds).
int64_t Deviation(Clock& clock) { return clock.NowNanoseconds() - SystemClockNow(); }

// A reading of `clock` bracketed by two of the system clock: `real` is the bracket's middle and
// `width` its length (ns). A loaded machine can preempt between the reads, so the narrowest of
// many attempts is kept.
struct Bracketed {
  int64_t simulated = 0;
  int64_t real = 0;
  int64_t width = std::numeric_limits<int64_t>::max();
};
Bracketed ReadBracketed(Clock& clock) {
  Bracketed best;
  for (int attempt = 0; attempt < 200 && best.width > 5000; ++attempt) {
    const int64_t before = SystemClockNow();
    const int64_t simulated = clock.NowNanoseconds();
    const int64_t after = SystemClockNow();
    if (after - before < best.width) best = {simulated, before + (after - before) / 2, after - before};
  }
  return best;
}
// The simulated clock's gain over the real one between two readings (ns), and how far the
// brackets leave it open.
int64_t Gain(const Bracketed& from, const Bracketed& to) {
  return (to.simulated - from.simulated) - (to.real - from.real);
}
int64_t Slack(const Bracketed& from, const Bracketed& to) { return (from.width + to.width) / 2; }

class SimulatedClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/chron-clock-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
    path_ = directory_ + "/offset";
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  void WriteFile(const std::string& text) { std::ofstream(path_) << text; }
  std::string ReadFile() {
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string directory_;
  std::string path_;
};

TEST_F(SimulatedClockTest, MissingFileIsNoOffset) {
  auto clock = MakeSimulatedClock(path_);
  EXPECT_NEAR(Deviation(*clock), 0, kTolerance);
  EXPECT_EQ(clock->Description(), "Simulierte Systemuhr: " + path_ + " (Abweichung 0 ns)");
}

TEST_F(SimulatedClockTest, ReadsTheOffsetFile) {
  WriteFile("5000000000\n");
  auto ahead = MakeSimulatedClock(path_);
  EXPECT_NEAR(Deviation(*ahead), 5 * kSecond, kTolerance);
  EXPECT_EQ(ahead->Description(), "Simulierte Systemuhr: " + path_ + " (Abweichung 5000000000 ns)");

  WriteFile(" -1250000000 ");
  EXPECT_NEAR(Deviation(*MakeSimulatedClock(path_)), -1250000000, kTolerance);
  WriteFile("+42");
  EXPECT_NEAR(Deviation(*MakeSimulatedClock(path_)), 42, kTolerance);
  // An instance keeps what it read at its start.
  EXPECT_NEAR(Deviation(*ahead), 5 * kSecond, kTolerance);
}

TEST_F(SimulatedClockTest, StepMovesTheClockAndPersists) {
  WriteFile("5000000000\n");
  auto clock = MakeSimulatedClock(path_);
  ASSERT_FALSE(clock->StepBy(-1500000000));
  EXPECT_NEAR(Deviation(*clock), 3500000000, kTolerance);
  EXPECT_EQ(ReadFile(), "3500000000\n");
  EXPECT_NE(clock->Description().find("(Abweichung 3500000000 ns)"), std::string::npos);

  auto second = MakeSimulatedClock(path_);
  EXPECT_NEAR(Deviation(*second), 3500000000, kTolerance);
  // No temporary or half-written file is left beside it.
  for (const auto& entry : std::filesystem::directory_iterator(directory_)) {
    const std::string name = entry.path().filename();
    EXPECT_TRUE(name == "offset" || name == "offset.lock") << name;
  }
}

TEST_F(SimulatedClockTest, ChangeRemovesTheTemporariesThatKilledWritersLeft) {
  WriteFile("0\n");
  // Left by writers killed between creating and renaming their temporary; the others are not
  // the file's temporaries and stay.
  const char* left[] = {".offset.a1B2c3", ".offset.XXXXXX"};
  const char* kept[] = {".offset.a1B2c", ".offset.a1B2c3d", ".other.a1B2c3", "offset.a1B2c3", ".offset.a1-2c3"};
  for (const char* name : left) std::ofstream(directory_ + "/" + name) << "1\n";
  for (const char* name : kept) std::ofstream(directory_ + "/" + name) << "1\n";
  ASSERT_FALSE(MakeSimulatedClock(path_)->StepBy(kSecond));
  for (const char* name : left) EXPECT_FALSE(std::filesystem::exists(directory_ + "/" + name)) << name;
  for (const char* name : kept) EXPECT_TRUE(std::filesystem::exists(directory_ + "/" + name)) << name;
}

TEST_F(SimulatedClockTest, StepThroughASymbolicLinkReplacesItsTarget) {
  std::ofstream(directory_ + "/kept") << "0\n";
  ASSERT_EQ(symlink("kept", path_.c_str()), 0);
  ASSERT_FALSE(MakeSimulatedClock(path_)->StepBy(kSecond));
  EXPECT_TRUE(std::filesystem::is_symlink(path_));
  EXPECT_EQ(ReadFile(), "1000000000\n");
}

// As on a real clock, a system stamp taken before a step stays in the time scale of its instant.
TEST_F(SimulatedClockTest, StampsKeepTheOffsetOfTheirInstant) {
  auto clock = MakeSimulatedClock(path_);
  const int64_t before_steps = SystemClockNow();
  ASSERT_FALSE(clock->StepBy(300'000'000));
  const int64_t between = SystemClockNow();
  ASSERT_FALSE(clock->StepBy(300'000'000));
  const int64_t after = SystemClockNow();
  EXPECT_EQ(clock->FromSystemTime(before_steps), before_steps);
  EXPECT_EQ(clock->FromSystemTime(between), between + 300'000'000);
  EXPECT_EQ(clock->FromSystemTime(after), after + 600'000'000);
  EXPECT_NEAR(Deviation(*clock), 600'000'000, kTolerance);
}

TEST_F(SimulatedClockTest, FirstStepCreatesTheFile) {
  auto clock = MakeSimulatedClock(path_);
  ASSERT_FALSE(clock->StepBy(7));
  EXPECT_EQ(ReadFile(), "7\n");
}

TEST_F(SimulatedClockTest, StepsOfAnotherInstanceAreKept) {
  auto first = MakeSimulatedClock(path_);
  auto second = MakeSimulatedClock(path_);  // started before the first one steps
  ASSERT_FALSE(first->StepBy(1 * kSecond));
  ASSERT_FALSE(second->StepBy(2 * kSecond));
  EXPECT_EQ(ReadFile(), "3000000000\n");
  EXPECT_NEAR(Deviation(*second), 3 * kSecond, kTolerance);
}

TEST_F(SimulatedClockTest, ConcurrentStepsFromThreadsAndProcessesAllCount) {
  constexpr int kProcesses = 3;
  constexpr int kThreads = 3;
  constexpr int kSteps = 40;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      auto clock = MakeSimulatedClock(path_);
      int failures = 0;
      for (int i = 0; i < kSteps; ++i) failures += static_cast<bool>(clock->StepBy(1));
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  auto clock = MakeSimulatedClock(path_);
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kSteps; ++i) failures += static_cast<bool>(clock->StepBy(1000));
    });
  }
  for (auto& thread : threads) thread.join();
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(ReadFile(), std::to_string(kProcesses * kSteps + kThreads * kSteps * 1000) + "\n");
}

TEST_F(SimulatedClockTest, DamagedFileIsNeitherTrustedNorOverwritten) {
  WriteFile("+5.000\n");
  auto clock = MakeSimulatedClock(path_);
  EXPECT_NEAR(Deviation(*clock), 0, kTolerance);
  EXPECT_NE(clock->Description().find("ungültig"), std::string::npos) << clock->Description();
  EXPECT_EQ(clock->StepBy(kSecond), std::errc::invalid_argument);
  EXPECT_EQ(ReadFile(), "+5.000\n");
  EXPECT_NEAR(Deviation(*clock), 0, kTolerance);

  WriteFile("");
  EXPECT_EQ(MakeSimulatedClock(path_)->StepBy(1), std::errc::invalid_argument);
  WriteFile("99999999999999999999");  // beyond 64 bits
  EXPECT_EQ(MakeSimulatedClock(path_)->StepBy(1), std::errc::invalid_argument);
}

TEST_F(SimulatedClockTest, StepBeyondTheRangeFails) {
  WriteFile(std::to_string(std::numeric_limits<int64_t>::max()));
  auto clock = MakeSimulatedClock(path_);
  EXPECT_EQ(clock->StepBy(1), std::errc::result_out_of_range);
  EXPECT_EQ(ReadFile(), std::to_string(std::numeric_limits<int64_t>::max()));
  EXPECT_EQ(clock->NowNanoseconds(), std::numeric_limits<int64_t>::max());  // stops at the end
}

// The largest step a client makes is 2^31 s (68 years). Three fit; the fourth would carry the
// reading past 2262 and is refused, leaving offset and reading as they were. So is a step back
// beyond 1677.
TEST_F(SimulatedClockTest, StepThatWouldLeaveTheRangeIsRefused) {
  constexpr int64_t kLargestStep = (int64_t{1} << 31) * kSecond;
  auto clock = MakeSimulatedClock(path_);
  for (int step = 1; step <= 3; ++step) ASSERT_FALSE(clock->StepBy(kLargestStep)) << step;
  const std::string kept = ReadFile();
  EXPECT_EQ(clock->StepBy(kLargestStep), std::errc::result_out_of_range);
  EXPECT_EQ(ReadFile(), kept);
  EXPECT_NEAR(static_cast<double>(Deviation(*clock)), static_cast<double>(3 * kLargestStep), 1e9);

  WriteFile("-9000000000000000000");
  auto early = MakeSimulatedClock(path_);
  EXPECT_EQ(early->StepBy(-kLargestStep), std::errc::result_out_of_range);
  EXPECT_EQ(ReadFile(), "-9000000000000000000");
}

// Without the right to set the clock (in a child that gave it up) a step in range fails with
// EPERM, and one beyond the range with ERANGE before the system is asked.
TEST(RealClockTest, StepThatWouldLeaveTheRangeIsRefused) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (getuid() == 0 && setuid(65534) != 0) _exit(3);
    auto clock = MakeRealClock();
    if (clock->StepBy(std::numeric_limits<int64_t>::max()) != std::errc::result_out_of_range) _exit(1);
    _exit(clock->StepBy(kSecond) == std::errc::operation_not_permitted ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not refused, 2: unprivileged step not EPERM, 3: setuid";
}

// Read-only (modes 0): the frequency in force is read, nothing is set.
TEST(RealClockTest, DisciplineIsReadWithoutChangingAnything) {
  auto clock = MakeRealClock();
  EXPECT_FALSE(clock->DisciplineAvailable());
  double ppm = 1e9;
  ASSERT_FALSE(clock->FrequencyCorrection(&ppm));
  EXPECT_LE(std::abs(ppm), 500.0);
}

TEST_F(SimulatedClockTest, UnwritableDirectoryIsReported) {
  auto clock = MakeSimulatedClock(directory_ + "/missing/offset");
  EXPECT_EQ(clock->StepBy(1), std::errc::no_such_file_or_directory);
  EXPECT_NEAR(Deviation(*clock), 0, kTolerance);
}

TEST(RealClockTest, ReadsTheSystemClock) {
  auto clock = MakeRealClock();
  for (int i = 0; i < 100; ++i) {
    const int64_t before = SystemClockNow();
    const int64_t now = clock->NowNanoseconds();
    const int64_t after = SystemClockNow();
    ASSERT_LE(before, now);
    ASSERT_LE(now, after);
  }
  EXPECT_EQ(clock->Description(), "");
}

// SystemClock() is chosen once per process (this test never calls it itself): each case asks
// a forked child, which answers with its exit code.
int InChild(bool (*check)()) {
  const pid_t pid = fork();
  if (pid == 0) _exit(check() ? 0 : 1);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(SystemClockTest, WithoutTheVariableItIsTheRealClock) {
  EXPECT_EQ(InChild([] {
              unsetenv("CHRON_SIMULATED_CLOCK");
              Clock& clock = SystemClock();
              return clock.Description().empty() && &clock == &SystemClock() &&
                     std::llabs(Deviation(clock)) < kTolerance;
            }),
            0);
}

TEST_F(SimulatedClockTest, TheVariableSelectsTheSimulatedClock) {
  WriteFile("-3000000000\n");
  setenv("CHRON_SIMULATED_CLOCK", path_.c_str(), 1);
  const int result = InChild([] {
    Clock& clock = SystemClock();
    return clock.Description().find(std::getenv("CHRON_SIMULATED_CLOCK")) != std::string::npos &&
           &clock == &SystemClock() && std::llabs(Deviation(clock) + 3 * kSecond) < kTolerance &&
           !clock.StepBy(kSecond);
  });
  unsetenv("CHRON_SIMULATED_CLOCK");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadFile(), "-2000000000\n");
}

// The oscillator's error from the start variable drifts the clock; the short-form file becomes
// the long form, which a second process-wide instance follows, continuous across the change.
TEST_F(SimulatedClockTest, OscillatorDriftsAndEveryInstanceSeesTheSameTime) {
  WriteFile("5000000000\n");
  auto fast = MakeSimulatedClock(path_, 400.0);
  EXPECT_NE(ReadFile().find("frequency_ppm 400"), std::string::npos) << ReadFile();
  auto other = MakeSimulatedClock(path_);
  // 400 ppm of however long the sleep really took, give or take 5 µs and the brackets.
  const Bracketed start = ReadBracketed(*fast);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const Bracketed end = ReadBracketed(*fast);
  EXPECT_NEAR(Gain(start, end), 400e-6 * (end.real - start.real), 5000 + Slack(start, end));
  EXPECT_NEAR(static_cast<double>(other->NowNanoseconds() - fast->NowNanoseconds()), 0.0, 1e6);

  ASSERT_FALSE(other->SetFrequencyCorrection(-400));
  const Bracketed corrected = ReadBracketed(*fast);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const Bracketed later = ReadBracketed(*fast);
  EXPECT_NEAR(Gain(corrected, later), 0, 5000 + Slack(corrected, later));
  EXPECT_EQ(fast->SetFrequencyCorrection(501), std::errc::result_out_of_range);
  double correction = 0;
  ASSERT_FALSE(fast->FrequencyCorrection(&correction));
  EXPECT_EQ(correction, -400);
}

TEST_F(SimulatedClockTest, SlewIsPaidAtBoundedRate) {
  auto clock = MakeSimulatedClock(path_);
  EXPECT_FALSE(clock->DisciplineAvailable());
  // 50 ms back: 100 s at 500 ppm, paid from some instant within the Slew call (which writes a
  // file) for as long as the sleep really took.
  using std::chrono::steady_clock;
  const auto ns = [](steady_clock::duration d) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  };
  const auto before = steady_clock::now();
  ASSERT_FALSE(clock->Slew(-50000000));
  const auto after = steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  // A reading pre-empted between its two clocks comes out low; the highest of three is not.
  const int64_t paid = -std::max({Deviation(*clock), Deviation(*clock), Deviation(*clock)});
  const auto end = steady_clock::now();
  EXPECT_GE(paid, ns(end - after) / 2000 - 10000);
  EXPECT_LE(paid, ns(end - before) / 2000 + 10000);
  ASSERT_FALSE(clock->Slew(0));
  const int64_t stopped = Deviation(*clock);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_NEAR(Deviation(*clock), stopped, 20000);
}

struct Schedule {
  int policy = -1;
  int priority = -1;
};

Schedule CurrentSchedule() {
  Schedule s;
  sched_param param{};
  pthread_getschedparam(pthread_self(), &s.policy, &param);
  s.priority = param.sched_priority;
  return s;
}

// Runs on its own thread so that the test process's main thread keeps its policy.
void ExpectRaisedAndRestored(int start_policy) {
  sched_param start{};
  ASSERT_EQ(pthread_setschedparam(pthread_self(), start_policy, &start), 0);
  const Schedule before = CurrentSchedule();
  {
    RealtimePriority raised;
    const Schedule during = CurrentSchedule();
    if (during.policy == SCHED_FIFO) {
      EXPECT_EQ(during.priority, sched_get_priority_max(SCHED_FIFO));
    } else {
      // No right to raise (EPERM): nothing changed and nothing failed.
      EXPECT_EQ(during.policy, before.policy);
    }
  }
  const Schedule after = CurrentSchedule();
  EXPECT_EQ(after.policy, before.policy);
  EXPECT_EQ(after.priority, before.priority);
}

TEST(RealtimePriorityTest, RestoresTheOldPolicy) {
  std::thread([] { ExpectRaisedAndRestored(SCHED_OTHER); }).join();
  std::thread([] { ExpectRaisedAndRestored(SCHED_BATCH); }).join();
}

TEST(RealtimePriorityTest, RestoresAnotherRealtimePriority) {
  std::thread([] {
    sched_param low{};
    low.sched_priority = 1;
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &low) != 0) {
      GTEST_SKIP() << "no right to real-time priority here";
    }
    {
      RealtimePriority raised;
      EXPECT_EQ(CurrentSchedule().policy, SCHED_FIFO);
    }
    const Schedule after = CurrentSchedule();
    EXPECT_EQ(after.policy, SCHED_RR);
    EXPECT_EQ(after.priority, 1);
  }).join();
}

}  // namespace
}  // namespace chron::platform
