#include <gtest/gtest.h>

#include <string>

#include "engine/host_addresses.h"
#include "engine/time_source.h"
#include "tests/testutil/fake_network.h"

namespace chron {
namespace {

// An IPv6 address of the form "xxyy::zz".
platform::SocketAddress Ipv6(uint8_t first, uint8_t second, uint8_t last, uint16_t port) {
  platform::SocketAddress address;
  address.family = platform::kAfInet6;
  address.port = platform::HostToNetwork16(port);
  address.address6[0] = first;
  address.address6[1] = second;
  address.address6[15] = last;
  return address;
}

TEST(Ipv6SourceTest, RequestsFromUnspecifiedMulticastOrPortZeroAreNotAnswered) {
  testing::FakeNetwork network;
  HostAddresses host;
  const struct {
    platform::SocketAddress from;
    bool answerable;
  } cases[] = {{Ipv6(0xfd, 0, 2, 123), true},     {Ipv6(0xfe, 0x80, 1, 40000), true}, {Ipv6(0, 0, 0, 123), false},
               {Ipv6(0xff, 0x02, 1, 123), false}, {Ipv6(0xff, 0x05, 1, 123), false},  {Ipv6(0xfd, 0, 2, 0), false}};
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
