#include "platform/status_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
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
  ASSERT_EQ(ReplaceFileContents(path, "first"), std::error_code());
  ASSERT_EQ(ReplaceFileContents(path, "second"), std::error_code());
  std::string text;
  ASSERT_EQ(ReadRegularFile(path, 100, &text), std::error_code());
  EXPECT_EQ(text, "second");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
  std::filesystem::remove_all(dir);
}

TEST(StatusFileTest, RemovesTheTemporariesOfKilledWritersOnceAMinuteOld) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("chron-status-left-" + std::to_string(CurrentProcessId()));
  struct Case {
    const char* name;
    int age_s;
    bool removed;
  } cases[] = {
      {".status.json.a1B2c3", 120, true},  // a killed writer's
      {".status.json.d4E5f6", 0, false},   // perhaps of a writer at work
      {".status.json.a1B2c", 120, false},  // not the pattern of a temporary
      {".other.json.a1B2c3", 120, false},  // of another file
  };
  std::filesystem::remove_all(dir);
  ASSERT_EQ(ReplaceFileContents((dir / "status.json").string(), "first"),
            std::error_code());  // the folder as the writer makes it
  for (const Case& c : cases) {
    std::fclose(OpenFile((dir / c.name).string(), "w"));
    std::filesystem::last_write_time(dir / c.name,
                                     std::filesystem::file_time_type::clock::now() - std::chrono::seconds(c.age_s));
  }
  ASSERT_EQ(ReplaceFileContents((dir / "status.json").string(), "record"), std::error_code());
  for (const Case& c : cases) EXPECT_EQ(std::filesystem::exists(dir / c.name), !c.removed) << c.name;
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace chron::platform
