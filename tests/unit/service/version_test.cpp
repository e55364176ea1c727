// Version texts of the two banners from the product version's numbers.
#include "service/version.h"

#include <gtest/gtest.h>

#include <cstring>

namespace chron {
namespace {

TEST(VersionTest, ProductVersionOfThisReleaseReadsOneZeroOne) {
  const ProductVersion version = ReadProductVersion();
  EXPECT_EQ(version.major, 1);
  EXPECT_EQ(version.minor, 1);
  EXPECT_EQ(version.build, 0);
  EXPECT_EQ(ServiceVersionText(version), "1.01");
  EXPECT_EQ(Win95VersionText(version), "1.01");
}

TEST(VersionTest, BuildNumberBecomesALetterWithOrWithoutPoint) {
  EXPECT_EQ(ServiceVersionText({1, 1, 1}), "1.01.a");
  EXPECT_EQ(ServiceVersionText({1, 1, 2}), "1.01.b");
  EXPECT_EQ(Win95VersionText({1, 1, 1}), "1.01a");
  EXPECT_EQ(Win95VersionText({1, 1, 2}), "1.01b");
  // Minor with two digits at least, major as it is.
  EXPECT_EQ(ServiceVersionText({2, 10, 0}), "2.10");
  EXPECT_EQ(Win95VersionText({12, 3, 26}), "12.03z");
}

TEST(VersionTest, BannerNoticeLinesAreGivenAndSingleLines) {
  for (const char* line : kBannerNoticeLines) {
    ASSERT_NE(line, nullptr);
    EXPECT_GT(std::strlen(line), 0u);
    EXPECT_EQ(std::strchr(line, '\n'), nullptr);
  }
}

}  // namespace
}  // namespace chron
