#include "platform/named_mutex.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/testutil/child_process.h"

namespace chron::platform {
namespace {

using chron::testing::Channel;
using chron::testing::ChildExitCode;
using chron::testing::ForkChild;

// Exit codes of the probing children.
constexpr int kGotIt = 0;
constexpr int kAlreadyExists = 1;
constexpr int kFailed = 2;

class NamedMutexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "chron.test." + std::to_string(getpid()) + "." +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }

  // Tries to create the mutex in a child process, which ends at once.
  int ProbeInChild(bool new_network_namespace = false) {
    const pid_t child = ForkChild([&] {
      if (new_network_namespace && unshare(CLONE_NEWNET) != 0) return 4;
      std::unique_ptr<NamedMutex> mutex;
      bool exists = false;
      if (NamedMutex::Create(name_, &mutex, &exists)) return kFailed;
      if (exists) return mutex ? kFailed : kAlreadyExists;
      return mutex ? kGotIt : kFailed;
    });
    return ChildExitCode(child, 5000);
  }

  std::string name_;
};

TEST_F(NamedMutexTest, SecondCreateReportsAlreadyExistsUntilTheHandleIsGone) {
  std::unique_ptr<NamedMutex> first;
  bool exists = true;
  ASSERT_FALSE(NamedMutex::Create(name_, &first, &exists));
  ASSERT_TRUE(first);
  EXPECT_FALSE(exists);

  std::unique_ptr<NamedMutex> second;
  EXPECT_FALSE(NamedMutex::Create(name_, &second, &exists));
  EXPECT_TRUE(exists);
  EXPECT_FALSE(second);
  EXPECT_EQ(ProbeInChild(), kAlreadyExists);

  first.reset();
  EXPECT_EQ(ProbeInChild(), kGotIt);
  ASSERT_FALSE(NamedMutex::Create(name_, &second, &exists));
  EXPECT_FALSE(exists);
  EXPECT_TRUE(second);
}

TEST_F(NamedMutexTest, ReleasedWhenTheHolderIsKilled) {
  Channel ready;
  const pid_t holder = ForkChild([&] {
    std::unique_ptr<NamedMutex> mutex;
    bool exists = false;
    if (NamedMutex::Create(name_, &mutex, &exists) || exists) return kFailed;
    ready.Send('r');
    pause();
    return 0;
  });
  char byte = 0;
  ASSERT_TRUE(ready.Receive(&byte, 5000));
  EXPECT_EQ(ProbeInChild(), kAlreadyExists);
  kill(holder, SIGKILL);
  int status = 0;
  ASSERT_TRUE(chron::testing::WaitChild(holder, 5000, &status));
  EXPECT_EQ(ProbeInChild(), kGotIt);
}

TEST_F(NamedMutexTest, NotInheritedByAProgramStartedWithExec) {
  Channel ready;
  const pid_t holder = ForkChild([&] {
    std::unique_ptr<NamedMutex> mutex;
    bool exists = false;
    if (NamedMutex::Create(name_, &mutex, &exists) || exists) return kFailed;
    ready.Send('r');
    execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
    return 3;
  });
  char byte = 0;
  ASSERT_TRUE(ready.Receive(&byte, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let exec happen
  const int probe = ProbeInChild();
  kill(holder, SIGKILL);
  ChildExitCode(holder, 5000);
  EXPECT_EQ(probe, kGotIt);
}

TEST_F(NamedMutexTest, EachNetworkNamespaceIsItsOwnMachine) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to create a network namespace";
  std::unique_ptr<NamedMutex> mutex;
  bool exists = true;
  ASSERT_FALSE(NamedMutex::Create(name_, &mutex, &exists));
  ASSERT_FALSE(exists);
  EXPECT_EQ(ProbeInChild(/*new_network_namespace=*/true), kGotIt);
  EXPECT_EQ(ProbeInChild(), kAlreadyExists);
}

TEST_F(NamedMutexTest, UnusableNamesAreErrors) {
  std::unique_ptr<NamedMutex> mutex;
  bool exists = true;
  EXPECT_EQ(NamedMutex::Create(std::string(108, 'm'), &mutex, &exists).value(), ENAMETOOLONG);
  EXPECT_FALSE(exists);
  EXPECT_EQ(NamedMutex::Create("", &mutex, &exists).value(), EINVAL);
  EXPECT_FALSE(mutex);
  // The longest name that fits: 107 bytes after the leading zero byte.
  EXPECT_FALSE(NamedMutex::Create(name_ + std::string(107 - name_.size(), 'm'), &mutex, &exists));
  EXPECT_TRUE(mutex);
}

}  // namespace
}  // namespace chron::platform
