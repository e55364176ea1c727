// Runs the chronstop program as a process against events of a name of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/named_event.h"
#include "tests/testutil/child_process.h"

namespace chron {
namespace {

using platform::NamedEvent;
using platform::WaitResult;

// The program in the build tree: $CHRON_BIN_DIR/win95/chronstop, or beside this test's
// directory (<build>/tests/<test> -> <build>/win95/chronstop).
std::string ToolPath() {
  if (const char* bin = std::getenv("CHRON_BIN_DIR"); bin != nullptr && *bin != '\0') {
    return std::string(bin) + "/win95/chronstop";
  }
  char self[PATH_MAX] = {};
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir(self, length > 0 ? static_cast<size_t>(length) : 0);
  dir = dir.substr(0, dir.rfind('/'));
  return dir.substr(0, dir.rfind('/')) + "/win95/chronstop";
}

class ChronstopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tool_ = ToolPath();
    ASSERT_EQ(access(tool_.c_str(), X_OK), 0) << tool_ << " is missing: build the target chronstop";
    name_ = "chron.test." + std::to_string(getpid()) + "." +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override {
    struct stat info {};
    stat("/proc/self/ns/net", &info);
    unlink(("/dev/shm/" + name_ + "." + std::to_string(info.st_ino)).c_str());
  }

  // Starts chronstop --name <name> <args...>.
  pid_t Start(std::vector<std::string> args) {
    args.insert(args.begin(), {tool_, "--name", name_});
    return testing::ForkChild([&] {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(tool_.c_str(), argv.data());
      return 126;
    });
  }
  int Run(std::vector<std::string> args) { return testing::ChildExitCode(Start(std::move(args)), 5000); }

  std::unique_ptr<NamedEvent> Hold() {
    std::unique_ptr<NamedEvent> event;
    EXPECT_FALSE(NamedEvent::Create(name_, &event));
    return event;
  }

  std::string tool_;
  std::string name_;
};

TEST_F(ChronstopTest, SetStaysSignalledWhileSomeoneElseHoldsTheEvent) {
  EXPECT_EQ(Run({"--test"}), 1);
  auto held = Hold();
  ASSERT_TRUE(held);
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(held->Wait(0), WaitResult::kSignalled);
  EXPECT_EQ(Run({"--test"}), 0);
  EXPECT_EQ(Run({"--reset"}), 0);
  EXPECT_EQ(held->Wait(0), WaitResult::kTimeout);
  EXPECT_EQ(Run({"--test"}), 1);
}

TEST_F(ChronstopTest, SetWithoutAnyHolderLeavesNothingBehind) {
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(Run({"--test"}), 1);
}

TEST_F(ChronstopTest, SetReleasesAWaiter) {
  auto held = Hold();
  ASSERT_TRUE(held);
  WaitResult result = WaitResult::kFailed;
  std::thread waiter([&] { result = held->Wait(5000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run({}), 0);
  waiter.join();
  EXPECT_EQ(result, WaitResult::kSignalled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(ChronstopTest, HoldSetKeepsTheEventSignalledForItsTime) {
  const pid_t holder = Start({"--hold-set", "2"});
  // Until the tool has set it, a probe may be the only holder and see it new.
  bool seen = false;
  for (int i = 0; i < 100 && !seen; ++i) {
    seen = Run({"--test"}) == 0;
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(seen);
  bool existing = false;
  std::unique_ptr<NamedEvent> event;
  ASSERT_FALSE(NamedEvent::Create(name_, &event, &existing));
  EXPECT_TRUE(existing);
  EXPECT_EQ(event->Wait(0), WaitResult::kSignalled);
  event.reset();
  EXPECT_EQ(testing::ChildExitCode(holder, 5000), 0);
  EXPECT_EQ(Run({"--test"}), 1) << "fresh once the holding tool has ended";
}

TEST_F(ChronstopTest, BadArgumentsAreUsageErrors) {
  EXPECT_EQ(Run({"--hold-set"}), 2);
  EXPECT_EQ(Run({"--hold-set", "abc"}), 2);
  EXPECT_EQ(Run({"--hold-set", "-1"}), 2);
  EXPECT_EQ(Run({"--bogus"}), 2);
  EXPECT_EQ(Run({"--help"}), 0);
}

}  // namespace
}  // namespace chron
