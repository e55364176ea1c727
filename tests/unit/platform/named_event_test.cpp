#include "platform/named_event.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/testutil/child_process.h"

namespace chron::platform {
namespace {

using chron::testing::Channel;
using chron::testing::ChildExitCode;
using chron::testing::ForkChild;
using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Where the event of this name lives for the caller's network namespace (removed after a test).
std::string BackingFile(const std::string& name) {
  struct stat info {};
  stat("/proc/self/ns/net", &info);
  return "/dev/shm/" + name + "." + std::to_string(info.st_ino);
}

// Whether thread `tid` of this process sleeps in a futex wait (the kernel's wait channel).
bool BlockedInFutex(pid_t tid) {
  std::ifstream wchan("/proc/self/task/" + std::to_string(tid) + "/wchan");
  std::string channel;
  std::getline(wchan, channel);
  return channel.find("futex") != std::string::npos;
}

class NamedEventTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "chron.test." + std::to_string(getpid()) + "." +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override { unlink(BackingFile(name_).c_str()); }

  std::unique_ptr<NamedEvent> Open(bool* opened_existing = nullptr) {
    std::unique_ptr<NamedEvent> event;
    EXPECT_FALSE(NamedEvent::Create(name_, &event, opened_existing));
    return event;
  }

  std::string name_;
};

TEST_F(NamedEventTest, InvalidNamesAreRefused) {
  std::unique_ptr<NamedEvent> event;
  EXPECT_EQ(NamedEvent::Create("", &event).value(), EINVAL);
  EXPECT_EQ(NamedEvent::Create(std::string(300, 'x'), &event).value(), ENAMETOOLONG);
  EXPECT_FALSE(event);
}

// Anyone may put something at the event's name, or hold its file locked: opening it then fails
// at once (or after the lock wait) with an error that says what, and never hangs or follows it.
TEST_F(NamedEventTest, SomethingElseAtTheNameIsRefusedClearly) {
  const std::string path = BackingFile(name_);
  EXPECT_EQ(NamedEvent::Location(name_), path);
  const std::string target = path + ".target";
  struct Case {
    const char* what;
    int expected;
    std::function<int()> make;
  };
  const std::vector<Case> cases = {
      {"symbolic link", ELOOP, [&] { return symlink(target.c_str(), path.c_str()); }},
      {"directory", EISDIR, [&] { return mkdir(path.c_str(), 0777); }},
      {"FIFO", EEXIST, [&] { return mkfifo(path.c_str(), 0666); }},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(c.make(), 0) << c.what;
    std::unique_ptr<NamedEvent> event;
    const auto start = Clock::now();
    EXPECT_EQ(NamedEvent::Create(name_, &event).value(), c.expected) << c.what;
    EXPECT_LT(MillisecondsSince(start), 500) << c.what;
    EXPECT_FALSE(event);
    struct stat info {};
    EXPECT_NE(stat(target.c_str(), &info), 0) << "the link was followed";
    unlink(path.c_str());
    rmdir(path.c_str());
  }

  const int locked = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_GE(locked, 0);
  ASSERT_EQ(flock(locked, LOCK_EX), 0);
  // Another open file description: the lock above is foreign to it.
  std::unique_ptr<NamedEvent> event;
  const auto start = Clock::now();
  EXPECT_EQ(NamedEvent::Create(name_, &event).value(), ETIMEDOUT);
  EXPECT_GE(MillisecondsSince(start), 1500);
  close(locked);
}

TEST_F(NamedEventTest, BackingFileIsWritableForEveryoneWhateverTheUmask) {
  const mode_t saved = umask(077);
  auto event = Open();
  umask(saved);
  ASSERT_TRUE(event);
  struct stat info {};
  ASSERT_EQ(stat(BackingFile(name_).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666u);
}

TEST_F(NamedEventTest, SetWakesEveryWaiterInThreadsAndProcesses) {
  // The child process is forked before any thread of this test exists.
  Channel ready;
  const pid_t child = ForkChild([&] {
    std::unique_ptr<NamedEvent> own;
    if (NamedEvent::Create(name_, &own)) return 2;
    ready.Send('r');
    return own->Wait(5000) == WaitResult::kSignalled ? 0 : 1;
  });
  char byte = 0;
  ASSERT_TRUE(ready.Receive(&byte, 5000));

  auto event = Open();
  ASSERT_TRUE(event);
  auto second = Open();  // waiters on another handle in the same process
  ASSERT_TRUE(second);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) {
    NamedEvent* handle = i % 2 == 0 ? event.get() : second.get();
    waiters.emplace_back([handle, &released] {
      if (handle->Wait(5000) == WaitResult::kSignalled) ++released;
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(released.load(), 0);
  const auto start = Clock::now();
  event->Set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released.load(), 4);
  EXPECT_LT(MillisecondsSince(start), 1000);
  EXPECT_EQ(ChildExitCode(child, 5000), 0);
}

TEST_F(NamedEventTest, SetFollowedAtOnceByResetStillReleasesWaiters) {
  auto event = Open();
  ASSERT_TRUE(event);
  // Several rounds: whether a woken waiter runs before or after the Reset is up to the scheduler.
  for (int round = 0; round < 20; ++round) {
    std::atomic<int> released{0};
    std::array<std::atomic<pid_t>, 3> tids{};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
      waiters.emplace_back([&, i] {
        tids[i] = gettid();
        if (event->Wait(3000) == WaitResult::kSignalled) ++released;
      });
    }
    // The Set must find every waiter inside Wait, however late a loaded machine runs the threads.
    for (auto& tid : tids) {
      const auto start = Clock::now();
      while (!(tid != 0 && BlockedInFutex(tid)) && MillisecondsSince(start) < 2000) sched_yield();
    }
    event->Set();
    event->Reset();
    for (auto& t : waiters) t.join();
    ASSERT_EQ(released.load(), 3) << "round " << round;
    EXPECT_EQ(event->Wait(0), WaitResult::kTimeout);
  }
}

TEST_F(NamedEventTest, StateIsKeptWhileAnotherProcessHoldsIt) {
  Channel ready, go;
  const pid_t holder = ForkChild([&] {
    std::unique_ptr<NamedEvent> own;
    if (NamedEvent::Create(name_, &own)) return 2;
    own->Set();
    ready.Send('r');
    char byte;
    go.Receive(&byte, 10000);
    return 0;
  });
  char byte = 0;
  ASSERT_TRUE(ready.Receive(&byte, 5000));
  bool existing = false;
  auto event = Open(&existing);
  ASSERT_TRUE(event);
  EXPECT_TRUE(existing);
  EXPECT_EQ(event->Wait(0), WaitResult::kSignalled);

  // The setter ends while this process holds the event: it stays signalled.
  go.Send('g');
  EXPECT_EQ(ChildExitCode(holder, 5000), 0);
  EXPECT_EQ(event->Wait(0), WaitResult::kSignalled);
  bool reopened_existing = false;
  auto again = Open(&reopened_existing);
  ASSERT_TRUE(again);
  EXPECT_TRUE(reopened_existing);
  EXPECT_EQ(again->Wait(0), WaitResult::kSignalled);
}

TEST_F(NamedEventTest, FreshAgainAfterTheLastHolderWasKilled) {
  Channel ready;
  const pid_t holder = ForkChild([&] {
    std::unique_ptr<NamedEvent> own;
    if (NamedEvent::Create(name_, &own)) return 2;
    own->Set();
    ready.Send('r');
    pause();
    return 0;
  });
  char byte = 0;
  ASSERT_TRUE(ready.Receive(&byte, 5000));
  kill(holder, SIGKILL);
  int status = 0;
  ASSERT_TRUE(chron::testing::WaitChild(holder, 5000, &status));
  ASSERT_TRUE(WIFSIGNALED(status));
  bool existing = true;
  auto event = Open(&existing);
  ASSERT_TRUE(event);
  EXPECT_FALSE(existing);
  EXPECT_EQ(event->Wait(0), WaitResult::kTimeout);
}

TEST_F(NamedEventTest, LastHandleToCloseRemovesTheBackingFile) {
  auto first = Open();
  auto second = Open();
  ASSERT_TRUE(first && second);
  first.reset();
  EXPECT_EQ(access(BackingFile(name_).c_str(), F_OK), 0);
  // A forked copy of a handle shares the owner's lock and never removes the file.
  const pid_t child = ForkChild([&] {
    second.reset();
    return 0;
  });
  EXPECT_EQ(ChildExitCode(child, 5000), 0);
  EXPECT_EQ(access(BackingFile(name_).c_str(), F_OK), 0);
  second->Set();
  bool existing = false;
  auto third = Open(&existing);
  ASSERT_TRUE(third);
  EXPECT_TRUE(existing);
  EXPECT_EQ(third->Wait(0), WaitResult::kSignalled);
  second.reset();
  third.reset();
  EXPECT_NE(access(BackingFile(name_).c_str(), F_OK), 0);
}

TEST_F(NamedEventTest, OpenersAndClosersRacingNeverSplitTheEvent) {
  // Each round opens a handle, sets the event and opens a second handle, which must see the
  // first one's event; meanwhile the other processes' last closes remove the file.
  std::vector<pid_t> children;
  for (int i = 0; i < 3; ++i) {
    children.push_back(ForkChild([&] {
      for (int round = 0; round < 3000; ++round) {
        std::unique_ptr<NamedEvent> a, b;
        bool existing = false;
        if (NamedEvent::Create(name_, &a)) return 2;
        a->Set();
        if (NamedEvent::Create(name_, &b, &existing)) return 2;
        if (!existing || b->Wait(0) != WaitResult::kSignalled) return 1;
      }
      return 0;
    }));
  }
  for (pid_t child : children) EXPECT_EQ(ChildExitCode(child, 30000), 0);
  EXPECT_NE(access(BackingFile(name_).c_str(), F_OK), 0);
}

TEST_F(NamedEventTest, HandleDoesNotSurviveExec) {
  Channel ready;
  const pid_t holder = ForkChild([&] {
    std::unique_ptr<NamedEvent> own;
    if (NamedEvent::Create(name_, &own)) return 2;
    own->Set();
    ready.Send('r');
    execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
    return 3;
  });
  char byte = 0;
  ASSERT_TRUE(ready.Receive(&byte, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let exec happen
  bool existing = true;
  auto event = Open(&existing);
  kill(holder, SIGKILL);
  chron::testing::ChildExitCode(holder, 5000);
  ASSERT_TRUE(event);
  EXPECT_FALSE(existing);
  EXPECT_EQ(event->Wait(0), WaitResult::kTimeout);
}

TEST_F(NamedEventTest, OpenersRacingBesideAHolderAlwaysSeeItsState) {
  auto holder = Open();
  ASSERT_TRUE(holder);
  holder->Set();
  std::vector<pid_t> children;
  for (int i = 0; i < 3; ++i) {
    children.push_back(ForkChild([&] {
      for (int round = 0; round < 200; ++round) {
        std::unique_ptr<NamedEvent> own;
        bool existing = false;
        if (NamedEvent::Create(name_, &own, &existing)) return 2;
        if (!existing || own->Wait(0) != WaitResult::kSignalled) return 1;
      }
      return 0;
    }));
  }
  for (pid_t child : children) EXPECT_EQ(ChildExitCode(child, 20000), 0);
  EXPECT_EQ(holder->Wait(0), WaitResult::kSignalled);
}

TEST_F(NamedEventTest, EachNetworkNamespaceHasItsOwnEvent) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to create a network namespace";
  auto event = Open();
  ASSERT_TRUE(event);
  event->Set();
  Channel ready, go;
  const pid_t child = ForkChild([&] {
    if (unshare(CLONE_NEWNET) != 0) return 4;
    const std::string file = BackingFile(name_);
    int result = 0;
    {
      std::unique_ptr<NamedEvent> own;
      bool existing = true;
      if (NamedEvent::Create(name_, &own, &existing)) {
        result = 2;
      } else if (existing || own->Wait(0) != WaitResult::kTimeout) {
        result = 1;  // saw the other machine's signalled event
      } else {
        own->Set();
        own->Reset();
        ready.Send('r');
        char byte;
        go.Receive(&byte, 10000);
      }
    }
    unlink(file.c_str());
    return result;
  });
  char byte = 0;
  const bool child_ready = ready.Receive(&byte, 5000);
  EXPECT_EQ(event->Wait(0), WaitResult::kSignalled);  // the child's Reset did not reach it
  go.Send('g');
  EXPECT_EQ(ChildExitCode(child, 5000), 0);
  EXPECT_TRUE(child_ready);
}

}  // namespace
}  // namespace chron::platform
