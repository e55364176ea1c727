#include "platform/process_watch.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/status_file.h"

namespace chron::platform {
namespace {

TEST(ProcessWatchTest, OwnIdentityIsReadAndStableAndNoProcessHasNone) {
  ProcessWatch& watch = SystemProcessWatch();
  const std::optional<std::string> own = watch.Identity(CurrentProcessId());
  ASSERT_TRUE(own.has_value());
  EXPECT_FALSE(own->empty());  // our own process is never hidden from us
  EXPECT_EQ(watch.Identity(CurrentProcessId()), own);
  EXPECT_EQ(watch.Identity(0x7FFFFFF0u), std::nullopt);  // above any system's largest process id
  const int64_t boot_ms = watch.BootMilliseconds();
  EXPECT_GT(boot_ms, 0);
  EXPECT_GE(watch.BootMilliseconds(), boot_ms);
}

}  // namespace
}  // namespace chron::platform
