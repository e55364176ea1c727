#include "platform/status_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/file.h"

namespace chron::platform {
namespace {

TEST(StatusFileTest, ProcessRunningOnlyForAnExistingProcess) {
  EXPECT_TRUE(ProcessRunning(CurrentProcessId()));
  EXPECT_FALSE(ProcessRunning(0));
  EXPECT_FALSE(ProcessRunning(0x7FFFFFF0u));  // above any system's largest process id
}

TEST(StatusFileTest, ReplaceCreatesTheDirectoryAndLeavesOnlyTheNewFile) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("chron-status-" + std::to_string(CurrentProcessId()));
  std::filesystem::remove_all(dir);
  const std::string path = (dir / "status.json").string();
  ASSERT_EQ(ReplaceFileContents(path, "first"), 0);
  ASSERT_EQ(ReplaceFileContents(path, "second"), 0);
  std::string text;
  ASSERT_EQ(ReadRegularFile(path, 100, &text), 0);
  EXPECT_EQ(text, "second");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace chron::platform
