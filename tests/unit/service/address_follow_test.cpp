#include "service/address_follow.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/testutil/fake_network.h"
#include "tests/testutil/report_capture.h"
#include "tests/unit/service/adapter_test_support.h"

namespace chron {
namespace {

using ::testing::ElementsAreArray;
using testing::Rows;

platform::InterfaceAddress At(const char* dotted, uint32_t interface_index) {
  return {testing::Ip(dotted), 0, "eth0", interface_index};
}

TEST(AddressFollowTest, KeepsSocketsOfAddressesThatStayOnTheirInterfaceAndOpensOrClosesTheRest) {
  testing::FakeNetwork network;
  Runtime rt;
  rt.network = &network;
  testing::ReportCapture capture(ReportTarget::kConsole);
  const std::function<void()> follow =
      AddressFollower({{rt.config, network, nullptr}, rt.roles(), rt.sockets, rt.stop}, nullptr);
  struct Step {
    std::vector<platform::InterfaceAddress> system;
    std::vector<std::string> rows;
    size_t created;           // sockets opened so far
    std::set<size_t> closed;  // of these, in order of opening
  };
  const Step steps[] = {
      {{At("10.0.0.1", 2), At("10.0.0.2", 2)}, {"<unbekannt> (10.0.0.1)", "<unbekannt> (10.0.0.2)"}, 2, {}},
      {{At("10.0.0.2", 2), At("10.0.0.3", 2)}, {"<unbekannt> (10.0.0.2)", "<unbekannt> (10.0.0.3)"}, 3, {0}},
      // 10.0.0.2 on an interface made anew (another index): a new socket.
      {{At("10.0.0.2", 5), At("10.0.0.3", 2)}, {"<unbekannt> (10.0.0.2)", "<unbekannt> (10.0.0.3)"}, 4, {0, 1}},
      {{At("10.0.0.2", 5), At("10.0.0.3", 2)}, {"<unbekannt> (10.0.0.2)", "<unbekannt> (10.0.0.3)"}, 4, {0, 1}},
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    network.SetInterfaceAddresses(steps[i].system);
    follow();
    EXPECT_THAT(Rows(rt.sockets.adapters), ElementsAreArray(steps[i].rows)) << i;
    ASSERT_EQ(network.sockets().size(), steps[i].created) << i;
    std::set<size_t> closed;
    for (const testing::FakeUdpSocket* socket : network.sockets()) {
      if (socket->closed()) closed.insert(socket->index());
    }
    EXPECT_EQ(closed, steps[i].closed) << i;
  }
  // Each socket opened was reported ready, as at start-up.
  size_t ready = 0;
  for (const std::string& line : capture.console()) ready += line.find("ist betriebsbereit") != std::string::npos;
  EXPECT_EQ(ready, 4u);
}

}  // namespace
}  // namespace chron
