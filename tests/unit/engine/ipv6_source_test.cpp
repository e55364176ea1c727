#include <gtest/gtest.h>

#include <array>
#include <string>

#include "engine/host_addresses.h"
#include "engine/time_source.h"
#include "tests/testutil/fake_network.h"

namespace chron {
namespace {

// An IPv6 address from its eight 16-bit groups.
platform::SocketAddress Ipv6(std::array<uint16_t, 8> groups, uint16_t port = 123) {
  platform::SocketAddress address;
  address.family = platform::kAfInet6;
  address.port = platform::HostToNetwork16(port);
  for (size_t i = 0; i < groups.size(); ++i) {
    address.address6[2 * i] = static_cast<uint8_t>(groups[i] >> 8);
    address.address6[2 * i + 1] = static_cast<uint8_t>(groups[i]);
  }
  return address;
}

TEST(Ipv6SourceTest, OnlyAddressesThatAReplyCanReachAreAnswered) {
  testing::FakeNetwork network;
  network.SetInterfaceAddresses(
      {{platform::ParseDottedAddress("10.1.2.3"), platform::ParseDottedAddress("10.1.2.255"), "eth0", 2}});
  HostAddresses host;
  const struct {
    platform::SocketAddress from;
    bool answerable;
  } cases[] = {
      {Ipv6({0xfd00, 0, 0, 0, 0, 0, 0, 2}), true},
      {Ipv6({0xfe80, 0, 0, 0, 0, 0, 0, 1}, 40000), true},
      {Ipv6({0, 0, 0, 0, 0, 0, 0, 0}), false},       // ::
      {Ipv6({0, 0, 0, 0, 0, 0, 0, 1}), false},       // ::1
      {Ipv6({0xff02, 0, 0, 0, 0, 0, 0, 1}), false},  // multicast
      {Ipv6({0xff05, 0, 0, 0, 0, 0, 0, 1}), false},
      {Ipv6({0xfd00, 0, 0, 0, 0, 0, 0, 2}, 0), false},    // port 0
      {Ipv6({0, 0, 0, 0, 0, 0xffff, 0x7f00, 1}), false},  // ::ffff:127.0.0.1
      {Ipv6({0, 0, 0, 0, 0, 0xffff, 0xffff, 0xffff}), false},
      {Ipv6({0, 0, 0, 0, 0, 0xffff, 0x0a01, 0x02ff}), false},  // the interface's directed broadcast
      {Ipv6({0, 0, 0, 0, 0, 0xffff, 0xe000, 1}), false},
      {Ipv6({0, 0, 0, 0, 0, 0xffff, 0x0a01, 0x0204}), true},
      {Ipv6({0x64, 0xff9b, 0, 0, 0, 0, 0x7f00, 1}), false},  // 64:ff9b::127.0.0.1
      {Ipv6({0x64, 0xff9b, 0, 0, 0, 0, 0, 0}), false},
      {Ipv6({0x64, 0xff9b, 0, 0, 0, 0, 0xc000, 0x0201}), true},
      {Ipv6({0x64, 0xff9b, 1, 0xffff, 0x00ff, 0xff00, 0, 0}), false},  // 64:ff9b:1:: with 255.255.255.255
      {Ipv6({0x64, 0xff9b, 1, 0x7f00, 0x0000, 0x0100, 0, 0}), false},  // with 127.0.0.1
      {Ipv6({0x64, 0xff9b, 1, 0xc000, 0x0002, 0x0100, 0, 0}), true},   // with 192.0.2.1
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsAnswerableSource(host, network, c.from), c.answerable) << platform::AddressText(c.from);
  }
}

TEST(Ipv6SourceTest, BracketsAroundAnAddressAreDropped) {
  const std::pair<std::string, std::string> cases[] = {
      {"[fe80::1%eth0]", "fe80::1%eth0"}, {"fd00::1", "fd00::1"}, {"[", "["}, {"time.example", "time.example"}};
  for (const auto& [text, host] : cases) EXPECT_EQ(WithoutBrackets(text), host) << text;
}

}  // namespace
}  // namespace chron
