// Text for standard output and error written to a file: the UTF-8 bytes as they are, on both
// systems (on Windows only a console gets UTF-16).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/console.h"
#include "platform/file.h"

namespace chron::platform {
namespace {

TEST(ConsoleOutputTest, TextToAFileKeepsItsUtf8Bytes) {
  const std::string path = ::testing::TempDir() + "console_output.txt";
  std::FILE* file = OpenFile(path, "wb");
  ASSERT_NE(file, nullptr);
  WriteText(file, "Zeit für Jürgen\n");
  PrintText(file, "%s %zu Δ\n", "Ärger", size_t{12345678901});
  ASSERT_EQ(std::fclose(file), 0);
  std::string text;
  ASSERT_EQ(ReadRegularFile(path, 1024, &text), std::error_code());
  EXPECT_EQ(text, "Zeit für Jürgen\nÄrger 12345678901 Δ\n");
  std::remove(path.c_str());
}

}  // namespace
}  // namespace chron::platform
