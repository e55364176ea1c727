// The interface table from the adapter list: which addresses it keeps, in what order, with what
// broadcast address.
#include "platform/adapter_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace chron::platform {
namespace {

AdapterListAddress Up(const char* dotted, uint8_t prefix = 24, DadState state = DadState::kPreferred) {
  AdapterListAddress row;
  row.address = ParseDottedAddress(dotted);
  row.prefix_length = prefix;
  row.interface = "Ethernet";
  row.interface_up = true;
  row.state = state;
  return row;
}

AdapterListAddress Down(const char* dotted) {
  AdapterListAddress row = Up(dotted);
  row.interface_up = false;
  return row;
}

struct ListCase {
  const char* what;
  std::vector<AdapterListAddress> rows;
  std::vector<std::string> kept;  // "address/broadcast" in table order
};

class AdapterListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(AdapterListTest, KeepsUsableAddressesOfInterfacesThatAreUpInAscendingOrder) {
  std::vector<std::string> kept;
  for (const InterfaceAddress& row : InterfaceTableFromAdapterList(GetParam().rows)) {
    kept.push_back(DottedAddress(row.address) + "/" + (row.broadcast != 0 ? DottedAddress(row.broadcast) : "-"));
  }
  EXPECT_EQ(kept, GetParam().kept) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Lists, AdapterListTest,
    ::testing::Values(
        ListCase{"ascending by address, not by text or list order",
                 {Up("192.168.1.5"), Up("10.0.0.20"), Up("10.0.0.3")},
                 {"10.0.0.3/10.0.0.255", "10.0.0.20/10.0.0.255", "192.168.1.5/192.168.1.255"}},
        ListCase{"an interface that is down", {Down("10.0.0.1"), Up("10.0.1.1")}, {"10.0.1.1/10.0.1.255"}},
        ListCase{"tentative, duplicate and invalid left out, deprecated kept",
                 {Up("10.0.0.1", 24, DadState::kTentative), Up("10.0.0.2", 24, DadState::kDuplicate),
                  Up("10.0.0.3", 24, DadState::kInvalid), Up("10.0.0.4", 24, DadState::kDeprecated)},
                 {"10.0.0.4/10.0.0.255"}},
        ListCase{"an address on two interfaces once", {Up("10.0.0.1"), Up("10.0.0.1", 16)}, {"10.0.0.1/10.0.0.255"}},
        ListCase{"loopback kept as in the agent's table, no broadcast for /31 and /32",
                 {Up("127.0.0.1", 8), Up("10.0.0.1", 31), Up("10.0.0.9", 32), Up("172.16.0.1", 12)},
                 {"10.0.0.1/-", "10.0.0.9/-", "127.0.0.1/127.255.255.255", "172.16.0.1/172.31.255.255"}},
        ListCase{"nothing", {}, {}}));

}  // namespace
}  // namespace chron::platform
