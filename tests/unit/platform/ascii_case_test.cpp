#include "platform/ascii_case.h"

#include <gtest/gtest.h>

namespace chron::platform {
namespace {

TEST(AsciiCaseTest, FoldsOnlyAsciiLetters) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  const Case cases[] = {
      {"Client\\PollInterval", "CLIENT\\pollinterval", true},
      {"Snmp", "SNMP", true},
      {"SNMP", "SNMP ", false},
      {"\xc3\x84", "\xc3\xa4", false},  // Ä and ä: bytes above 0x7f compare exactly
      {"@[`{", "@[`{", true},
      {"@", "`", false},  // the neighbours of A-Z and a-z are no letters
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EqualsIgnoringCase(c.a, c.b), c.equal) << c.a << " " << c.b;
    EXPECT_EQ(AsciiLowercase(c.a) == AsciiLowercase(c.b), c.equal) << c.a << " " << c.b;
  }
  EXPECT_TRUE(StartsWithIgnoringCase("hex:00ff", "HEX:"));
  EXPECT_FALSE(StartsWithIgnoringCase("HE", "HEX:"));
  EXPECT_EQ(AsciiLowercase("AbC-\xc3\x84"), "abc-\xc3\x84");
}

}  // namespace
}  // namespace chron::platform
