// What the service and chron95 rely on from the named event and the named mutex, the same on
// every system: run against the Linux and the Win32 implementation alike. The system-specific
// behaviour (backing files, namespaces, kills, exec) is tested beside each implementation.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/named_event.h"
#include "platform/named_mutex.h"

namespace chron::platform {
namespace {

using Clock = std::chrono::steady_clock;

std::string UniqueName(const char* what) {
  return std::string("chron.test.") + what + "." + std::to_string(Clock::now().time_since_epoch().count());
}

int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A Set through one handle reaches a waiter on another; the event resets only by hand; a Wait
// with timeout 0 only tests; a timed wait waits that long.
TEST(NamedEventContract, SetResetAndWaitAcrossHandles) {
  const std::string name = UniqueName("event");
  std::unique_ptr<NamedEvent> first;
  std::unique_ptr<NamedEvent> second;
  bool existed = true;
  ASSERT_FALSE(NamedEvent::Create(name, &first, &existed));
  EXPECT_FALSE(existed);
  ASSERT_FALSE(NamedEvent::Create(name, &second, &existed));
  EXPECT_TRUE(existed);
  auto start = Clock::now();
  EXPECT_EQ(second->Wait(0), WaitResult::kTimeout);
  EXPECT_LT(MillisecondsSince(start), 50);

  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    first->Set();
  });
  EXPECT_EQ(second->Wait(5000), WaitResult::kSignalled);
  setter.join();
  EXPECT_EQ(second->Wait(0), WaitResult::kSignalled);
  EXPECT_EQ(second->Wait(kInfinite), WaitResult::kSignalled);  // manual reset: stays signalled
  first->Reset();
  start = Clock::now();
  EXPECT_EQ(second->Wait(300), WaitResult::kTimeout);
  const int64_t waited = MillisecondsSince(start);
  EXPECT_GE(waited, 290);  // Windows' waits end on a timer tick, up to 16 ms early or late
  EXPECT_LT(waited, 800);
}

TEST(NamedEventContract, FreshAgainOnceTheLastHandleIsGone) {
  const std::string name = UniqueName("event");
  std::unique_ptr<NamedEvent> event;
  ASSERT_FALSE(NamedEvent::Create(name, &event));
  event->Set();
  event.reset();
  bool existed = true;
  ASSERT_FALSE(NamedEvent::Create(name, &event, &existed));
  EXPECT_FALSE(existed);
  EXPECT_EQ(event->Wait(0), WaitResult::kTimeout);
}

// A second instance (another thread here: the owning thread would get a Win32 mutex again)
// finds the mutex taken until its owner lets go.
TEST(NamedMutexContract, SecondCreateFindsItUntilTheOwnerLetsGo) {
  const std::string name = UniqueName("mutex");
  std::unique_ptr<NamedMutex> owner;
  bool exists = true;
  ASSERT_FALSE(NamedMutex::Create(name, &owner, &exists));
  EXPECT_FALSE(exists);
  ASSERT_TRUE(owner);
  std::thread([&] {
    std::unique_ptr<NamedMutex> second;
    bool second_exists = false;
    EXPECT_FALSE(NamedMutex::Create(name, &second, &second_exists));
    EXPECT_TRUE(second_exists);
    EXPECT_FALSE(second);
  }).join();
  owner.reset();
  ASSERT_FALSE(NamedMutex::Create(name, &owner, &exists));
  EXPECT_FALSE(exists);
  EXPECT_TRUE(owner);
}

}  // namespace
}  // namespace chron::platform
