#include "platform/error_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace chron::platform {
namespace {

TEST(SystemErrorMessageTest, KnownCodesHaveTheSystemText) {
  for (int code : {0, EPERM, ENOENT, EACCES, EADDRINUSE, ENETUNREACH, EHWPOISON}) {
    std::string text;
    ASSERT_TRUE(SystemErrorMessage(code, &text)) << code;
    EXPECT_EQ(text, std::strerror(code));
    EXPECT_FALSE(text.empty());
  }
}

TEST(SystemErrorMessageTest, UnknownCodesHaveNone) {
  for (int code : {-1, 4000, 1 << 30}) {
    std::string text = "unchanged";
    EXPECT_FALSE(SystemErrorMessage(code, &text)) << code;
    EXPECT_EQ(text, "unchanged");
  }
}

}  // namespace
}  // namespace chron::platform
