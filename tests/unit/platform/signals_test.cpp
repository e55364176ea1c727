#include "platform/signals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace chron::platform {
namespace {

// Collects what the watcher thread delivers.
class Received {
 public:
  void Add(ControlSignal signal) {
    std::lock_guard lock(mutex_);
    signals_.push_back(signal);
    threads_.push_back(std::this_thread::get_id());
    cv_.notify_all();
  }
  bool WaitFor(size_t count) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(3), [&] { return signals_.size() >= count; });
  }
  std::vector<ControlSignal> signals() {
    std::lock_guard lock(mutex_);
    return signals_;
  }
  std::vector<std::thread::id> threads() {
    std::lock_guard lock(mutex_);
    return threads_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<ControlSignal> signals_;
  std::vector<std::thread::id> threads_;
};

TEST(SignalsTest, EachControlSignalReachesTheHandlerOnTheWatcherThread) {
  ASSERT_EQ(BlockControlSignals(), std::error_code());
  Received received;
  std::unique_ptr<ControlSignalWatcher> watcher;
  ASSERT_EQ(ControlSignalWatcher::Start([&](ControlSignal s) { received.Add(s); }, &watcher), std::error_code());
  const int numbers[] = {SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGHUP};
  for (int number : numbers) {
    const size_t before = received.signals().size();
    kill(getpid(), number);
    ASSERT_TRUE(received.WaitFor(before + 1)) << "signal " << number;
  }
  watcher.reset();  // stops and joins the thread
  EXPECT_EQ(received.signals(),
            (std::vector<ControlSignal>{ControlSignal::kInterrupt, ControlSignal::kBreak, ControlSignal::kStop,
                                        ControlSignal::kInterrogate, ControlSignal::kHangup}));
  for (auto id : received.threads()) EXPECT_NE(id, std::this_thread::get_id());
}

TEST(SignalsTest, WatcherCanBeStartedAgainAfterItWasStopped) {
  ASSERT_EQ(BlockControlSignals(), std::error_code());
  for (int round = 0; round < 2; ++round) {
    Received received;
    std::unique_ptr<ControlSignalWatcher> watcher;
    ASSERT_EQ(ControlSignalWatcher::Start([&](ControlSignal s) { received.Add(s); }, &watcher), std::error_code());
    kill(getpid(), SIGTERM);
    ASSERT_TRUE(received.WaitFor(1));
    EXPECT_EQ(received.signals().front(), ControlSignal::kStop);
  }
}

TEST(SignalsDeathTest, RestoreDefaultAndRaiseEndsTheProcessWithThatSignal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        BlockControlSignals();
        RestoreDefaultAndRaise(ControlSignal::kHangup);
        std::exit(0);
      },
      ::testing::KilledBySignal(SIGHUP), "");
  // From the handler on the watcher thread, as a host does for the console being closed.
  EXPECT_EXIT(
      {
        BlockControlSignals();
        std::unique_ptr<ControlSignalWatcher> watcher;
        ControlSignalWatcher::Start([](ControlSignal s) { RestoreDefaultAndRaise(s); }, &watcher);
        kill(getpid(), SIGHUP);
        std::this_thread::sleep_for(std::chrono::seconds(3));
        std::exit(0);
      },
      ::testing::KilledBySignal(SIGHUP), "");
}

}  // namespace
}  // namespace chron::platform
