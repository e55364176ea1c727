// Arguments and environment values read in UTF-16 arrive in UTF-8, also characters outside the
// ANSI code page (which main's argv and getenv would turn into "?").
#include "platform/arguments.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/win32.h"

namespace chron::platform {
namespace {

TEST(Utf16ArgumentsTest, CommandLineArrivesInUtf8) {
  EXPECT_EQ(win32::SplitCommandLine(L"chronstat.exe --plot \"C:\\tmp\\Zeit für Jürgen.svg\" Δ\U0001F552 \"\""),
            (std::vector<std::string>{"chronstat.exe", "--plot", "C:\\tmp\\Zeit für Jürgen.svg", "Δ\U0001F552", ""}));
}

TEST(Utf16ArgumentsTest, EnvironmentValueArrivesInUtf8) {
  // As the C runtime sets it: in its own copies (UTF-16, and the ANSI one of getenv) and in the
  // process's environment block.
  ASSERT_EQ(_wputenv_s(L"CHRON_TEST_VALUE", L"Z:\\Zeit für Jürgen Δ"), 0);
  EXPECT_EQ(EnvironmentValue("CHRON_TEST_VALUE"), "Z:\\Zeit für Jürgen Δ");
  ASSERT_EQ(_wputenv_s(L"CHRON_TEST_VALUE", L""), 0);  // removes it
  EXPECT_EQ(EnvironmentValue("CHRON_TEST_VALUE"), "");
}

}  // namespace
}  // namespace chron::platform
