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
      {"10.0.0.0/-1", "10.0.0.0/-1"},
      {"10.1%eth0", "10.1%eth0"},
      {"10.0.0.1%eth0", "10.0.0.1%eth0"},
      {"fe80::1%", "fe80::1%"},
      {"10.0.0.0,10.0.0.1", "10.0.0.0,10.0.0.1"},
      {"zeit.example.org", "zeit.example.org"},
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
      {"10.1.2.3/8", "10.9.9.9", true},  // host bits of the prefix do not count
      {"192.168.1.7", "192.168.1.7", true},
      {"192.168.1.7", "192.168.1.8", false},
      {"192.168.0.0/23", "192.168.1.200", true},
      {"192.168.0.0/23", "192.168.2.1", false},
      {"0.0.0.0/0", "203.0.113.9", true},
      {"0.0.0.0/0", "2001:db8::1", false},
      {"::/0", "2001:db8::1", true},
      {"fd00::/8", "fdff::5", true},
      {"fd00::/8", "fe00::5", false},
      {"2001:db8::1", "2001:db8::1", true},
      {"2001:db8::1", "2001:db8::2", false},
      {"2001:db8::/127", "2001:db8::1", true},
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

TEST(AccessListTest, ServerAnswersWhomAllowNamesUnlessDenyNamesThemAndNobodyWhenAListIsBroken) {
  const struct {
    const char* allow;  // nullptr: not set
    const char* deny;
    bool ten_one_one_one;  // 10.1.1.1 answered
    bool other;            // 192.0.2.1 answered
  } cases[] = {
      {nullptr, nullptr, true, true},
      {"10.0.0.0/8", nullptr, true, false},
      {nullptr, "10.0.0.0/8", false, true},
      {"10.0.0.0/8", "10.1.1.1", false, false},
      {" ", " ", true, true},
      {"10.0.0.0/8 x", nullptr, false, false},
      {nullptr, "x", false, false},
  };
  for (const auto& c : cases) {
    ServerAccess access;
    std::string bad;
    const bool allow_ok =
        ListOfSetting(c.allow ? std::optional<std::string>(c.allow) : std::nullopt, &access.allow, &bad);
    const bool deny_ok = ListOfSetting(c.deny ? std::optional<std::string>(c.deny) : std::nullopt, &access.deny, &bad);
    access.broken = !allow_ok || !deny_ok;
    EXPECT_EQ(access.Admits(Source("10.1.1.1")), c.ten_one_one_one)
        << (c.allow ? c.allow : "-") << " / " << (c.deny ? c.deny : "-");
    EXPECT_EQ(access.Admits(Source("192.0.2.1")), c.other)
        << (c.allow ? c.allow : "-") << " / " << (c.deny ? c.deny : "-");
  }
}

}  // namespace
}  // namespace chron
