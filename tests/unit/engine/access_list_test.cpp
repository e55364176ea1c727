#include "engine/access_list.h"

#include <gtest/gtest.h>

namespace chron {
namespace {

platform::SocketAddress Source(const char* text) {
  platform::SocketAddress address;
  EXPECT_TRUE(platform::ParseAddressText(text, &address)) << text;
  return address;
}

TEST(AccessListTest, ParseTakesAddressesAndPrefixesOrNamesTheFirstBadWord) {
  const struct {
    const char* text;
    const char* bad_word;  // "" when the text parses
  } cases[] = {
      {"10.0.0.0/8 192.168.1.0/24\tfd00::/8\n2001:db8::1 fe80::1%eth0 0.0.0.0/0 ::/0", ""},
      {"  ", ""},
      {"10.0.0.0/8 10.0.0.256", "10.0.0.256"},
      {"10.0.0.0/33", "10.0.0.0/33"},
      {"fd00::/129", "fd00::/129"},
      {"10.0.0.0/", "10.0.0.0/"},
      {"10.0.0.0/8x", "10.0.0.0/8x"},
      {"10.0.0.1%eth0", "10.0.0.1%eth0"},  // a zone belongs to IPv6 alone
      {"10.0.0.0,10.0.0.1", "10.0.0.0,10.0.0.1"},
      {"012.1.1.1", "012.1.1.1"},  // inet_pton's strict form: no octal, no shorthand
  };
  for (const auto& c : cases) {
    AccessList list;
    std::string bad;
    EXPECT_EQ(AccessList::Parse(c.text, &list, &bad), *c.bad_word == '\0') << c.text;
    EXPECT_EQ(bad, c.bad_word) << c.text;
  }
}

TEST(AccessListTest, ContainsMatchesByPrefixAcrossMappedAndZonedForms) {
  const struct {
    const char* list;
    const char* source;
    bool contained;
  } cases[] = {
      {"10.0.0.0/8", "10.255.1.2", true},
      {"10.0.0.0/8", "11.0.0.1", false},
      {"192.168.1.7", "192.168.1.8", false},
      {"192.168.0.0/23", "192.168.1.200", true},
      {"192.168.0.0/23", "192.168.2.1", false},
      {"0.0.0.0/0", "2001:db8::1", false},
      {"::/0", "2001:db8::1", true},
      {"fd00::/8", "fe00::5", false},
      {"2001:db8::/127", "2001:db8::1", true},
      {"2001:db8::1", "2001:db8::2", false},
      {"10.0.0.0/8", "::ffff:10.1.1.1", true},
      {"::ffff:10.0.0.0/104", "10.1.1.1", true},
      {"10.0.0.0/8", "::10.1.1.1", false},  // IPv4-compatible is no mapped address
      {"fe80::1%eth0", "fe80::1", true},
  };
  for (const auto& c : cases) {
    AccessList list;
    std::string bad;
    ASSERT_TRUE(AccessList::Parse(c.list, &list, &bad)) << c.list;
    EXPECT_EQ(list.Contains(Source(c.source)), c.contained) << c.list << " " << c.source;
  }
}

TEST(AccessListTest, DenyWinsOverAllowAndABrokenListAnswersNobody) {
  AccessList ten, one;
  std::string bad;
  ASSERT_TRUE(AccessList::Parse("10.0.0.0/8", &ten, &bad) && AccessList::Parse("10.1.1.1", &one, &bad));
  const struct {
    ServerAccess access;
    bool answered[3];  // 10.1.1.1, 10.2.2.2, 192.0.2.1
  } cases[] = {{{}, {true, true, true}},
               {{ten, std::nullopt}, {true, true, false}},
               {{ten, one}, {false, true, false}},
               {{std::nullopt, one}, {false, true, true}},
               {{std::nullopt, std::nullopt, true}, {false, false, false}}};
  for (const auto& c : cases) {
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(c.access.Admits(Source(i == 0 ? "10.1.1.1" : i == 1 ? "10.2.2.2" : "192.0.2.1")), c.answered[i]) << i;
    }
  }
}

}  // namespace
}  // namespace chron
