// The contract of replacing a file and of the writers' lock, the same on every system.
#include "platform/file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/status_file.h"

namespace chron::platform {
namespace {

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("chron-file-" + std::to_string(CurrentProcessId()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "data").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  long Entries() const {
    return std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator());
  }

  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(FileTest, ReplaceLeavesTheNewContentAndNothingElse) {
  for (FileSync sync : {FileSync::kDurable, FileSync::kCached}) {
    ASSERT_EQ(ReplaceFileAtomically(path_, "first", sync), std::error_code());
    ASSERT_EQ(ReplaceFileAtomically(path_, "second", sync), std::error_code());
    std::string text;
    ASSERT_EQ(ReadRegularFile(path_, 100, &text), std::error_code());
    EXPECT_EQ(text, "second");
    EXPECT_EQ(Entries(), 1);
  }
  EXPECT_TRUE(IsMissingFileError(ReplaceFileAtomically((dir_ / "missing" / "data").string(), "x")));
}

TEST_F(FileTest, LockMakesTheNextWriterWaitUntilItEnds) {
  std::atomic<bool> second_holds{false};
  std::thread second;
  {
    FileLock first;
    ASSERT_EQ(first.Acquire(path_), std::error_code());
    second = std::thread([&] {
      FileLock lock;
      EXPECT_EQ(lock.Acquire(path_), std::error_code());
      second_holds = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(second_holds);
  }
  second.join();
  EXPECT_TRUE(second_holds);
  EXPECT_TRUE(std::filesystem::exists(path_ + ".lock"));  // beside the file, which it never touches
  EXPECT_FALSE(std::filesystem::exists(path_));
}

}  // namespace
}  // namespace chron::platform
