// The SNMP extension agent: get-next walks over the IP address table.
#include "platform/snmp.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace chron::platform {
namespace {

InterfaceAddress Row(const char* dotted, const char* name, uint32_t index) {
  return InterfaceAddress{ParseDottedAddress(dotted), 0, name, index};
}

ObjectIdentifier Column(const ObjectIdentifier& column, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  ObjectIdentifier name = column;
  name.insert(name.end(), {a, b, c, d});
  return name;
}

struct Step {
  bool ok = false;
  int32_t status = -1;
  int32_t index = -1;
  VarBind binding;
};

Step GetNext(SnmpAgent& agent, const ObjectIdentifier& name) {
  VarBindList list{VarBind{name, SnmpValue{}}};
  Step step;
  step.ok = agent.Query(kSnmpGetNext, &list, &step.status, &step.index);
  step.binding = list.at(0);
  return step;
}

// Walks ipAdEntAddr the way adapter discovery does: until the query fails or the name leaves
// the column; returns the dotted addresses found.
std::vector<std::string> WalkAddressColumn(SnmpAgent& agent) {
  std::vector<std::string> found;
  ObjectIdentifier name = kIpAdEntAddr;
  for (int guard = 0; guard < 100; ++guard) {
    Step step = GetNext(agent, name);
    if (!step.ok) break;
    const ObjectIdentifier& got = step.binding.name;
    if (got.size() < kIpAdEntAddr.size() || !std::equal(kIpAdEntAddr.begin(), kIpAdEntAddr.end(), got.begin())) break;
    EXPECT_EQ(step.binding.value.type, kSnmpIpAddress);
    EXPECT_EQ(step.binding.value.bytes.size(), 4u);
    uint32_t address = 0;
    std::copy_n(step.binding.value.bytes.begin(), 4, reinterpret_cast<uint8_t*>(&address));
    found.push_back(DottedAddress(address));
    name = got;
  }
  return found;
}

TEST(SnmpAgentTest, WalkReturnsAddressesInAscendingNumericOrder) {
  SnmpAgent agent([] {
    return std::vector<InterfaceAddress>{Row("192.168.1.10", "eth1", 3), Row("10.0.0.20", "eth0", 2),
                                         Row("127.0.0.1", "lo", 1), Row("10.0.0.5", "eth0", 2),
                                         Row("9.255.255.255", "eth2", 4)};
  });
  ASSERT_TRUE(agent.Init(1234));
  EXPECT_EQ(agent.time_zero(), 1234u);
  // Numeric, not textual order: 10.0.0.5 before 10.0.0.20, 9.x before 10.x.
  EXPECT_EQ(WalkAddressColumn(agent),
            (std::vector<std::string>{"9.255.255.255", "10.0.0.5", "10.0.0.20", "127.0.0.1", "192.168.1.10"}));
}

// The system's agent library is loaded once per walk, not once per step.
TEST(SnmpAgentTest, AWalkReadsTheAddressSourceOnce) {
  int readings = 0;
  SnmpAgent agent([&readings] {
    ++readings;
    return std::vector<InterfaceAddress>{Row("10.0.0.1", "eth0", 2), Row("10.0.0.2", "eth0", 2)};
  });
  ASSERT_TRUE(agent.Init(0));
  EXPECT_EQ(WalkAddressColumn(agent).size(), 2u);
  EXPECT_EQ(readings, 1);
  ASSERT_TRUE(agent.Init(0));  // the next walk reads afresh
  EXPECT_EQ(readings, 2);
}

TEST(SnmpAgentTest, GetNextNamesTheRowAndCarriesTheAddressInNetworkOrder) {
  SnmpAgent agent([] { return std::vector<InterfaceAddress>{Row("10.1.2.3", "eth0", 7)}; });
  Step step = GetNext(agent, kIpAdEntAddr);
  ASSERT_TRUE(step.ok);
  EXPECT_EQ(step.status, kSnmpNoError);
  EXPECT_EQ(step.binding.name, Column(kIpAdEntAddr, 10, 1, 2, 3));
  EXPECT_EQ(step.binding.value.bytes, (std::vector<uint8_t>{10, 1, 2, 3}));
  // From a name between rows, or a shorter prefix of the table, get-next finds the next row.
  EXPECT_EQ(GetNext(agent, Column(kIpAdEntAddr, 10, 1, 2, 2)).binding.name, Column(kIpAdEntAddr, 10, 1, 2, 3));
  EXPECT_EQ(GetNext(agent, {1, 3, 6, 1, 2, 1, 4, 20}).binding.name, Column(kIpAdEntAddr, 10, 1, 2, 3));
  EXPECT_EQ(GetNext(agent, {1, 3, 6, 1, 2, 1, 4, 19, 99}).binding.name, Column(kIpAdEntAddr, 10, 1, 2, 3));
}

TEST(SnmpAgentTest, AfterTheLastAddressGetNextLeavesTheColumn) {
  SnmpAgent agent([] { return std::vector<InterfaceAddress>{Row("10.0.0.2", "eth0", 2), Row("10.0.0.1", "eth0", 2)}; });
  Step step = GetNext(agent, Column(kIpAdEntAddr, 10, 0, 0, 2));
  ASSERT_TRUE(step.ok);
  EXPECT_EQ(step.binding.name, Column(kIpAdEntIfIndex, 10, 0, 0, 1));
  EXPECT_EQ(step.binding.value.type, kSnmpInteger);
  EXPECT_EQ(step.binding.value.integer, 2);
  // Past the last object the agent serves, the query fails with noSuchName.
  step = GetNext(agent, Column(kIpAdEntIfIndex, 10, 0, 0, 2));
  EXPECT_FALSE(step.ok);
  EXPECT_EQ(step.status, kSnmpNoSuchName);
  EXPECT_EQ(step.index, 1);
}

TEST(SnmpAgentTest, EmptyTableEndsTheWalkAtOnce) {
  SnmpAgent agent([] { return std::vector<InterfaceAddress>{}; });
  Step step = GetNext(agent, kIpAdEntAddr);
  EXPECT_FALSE(step.ok);
  EXPECT_EQ(step.status, kSnmpNoSuchName);
  EXPECT_TRUE(WalkAddressColumn(agent).empty());
}

TEST(SnmpAgentTest, AddressOnTwoInterfacesIsOneRow) {
  SnmpAgent agent([] { return std::vector<InterfaceAddress>{Row("10.0.0.1", "eth0", 2), Row("10.0.0.1", "eth1", 3)}; });
  EXPECT_EQ(WalkAddressColumn(agent), (std::vector<std::string>{"10.0.0.1"}));
  EXPECT_EQ(GetNext(agent, Column(kIpAdEntAddr, 10, 0, 0, 1)).binding.value.integer, 2);
}

TEST(SnmpAgentTest, GetAndSeveralBindings) {
  SnmpAgent agent([] { return std::vector<InterfaceAddress>{Row("10.0.0.1", "eth0", 2)}; });
  VarBindList list{{Column(kIpAdEntIfIndex, 10, 0, 0, 1), {}}, {Column(kIpAdEntAddr, 10, 0, 0, 9), {}}};
  int32_t status = -1, index = -1;
  EXPECT_FALSE(agent.Query(kSnmpGet, &list, &status, &index));
  EXPECT_EQ(status, kSnmpNoSuchName);
  EXPECT_EQ(index, 2);  // the first binding was answered
  EXPECT_EQ(list[0].value.integer, 2);
  EXPECT_FALSE(agent.Query(0xA3, &list, &status, &index));  // set is not served
  EXPECT_EQ(status, kSnmpGenErr);
}

TEST(SnmpAgentTest, MissingAgentFailsInitAndQuery) {
  auto agent = CreateMissingSnmpAgent();
  EXPECT_FALSE(agent->loaded());
  EXPECT_FALSE(agent->Init(0));
  EXPECT_FALSE(GetNext(*agent, kIpAdEntAddr).ok);
}

TEST(SnmpAgentTest, SystemAgentListsLoopback) {
  auto agent = CreateSystemSnmpAgent();
  ASSERT_TRUE(agent->Init(0));
  std::vector<std::string> found = WalkAddressColumn(*agent);
  EXPECT_NE(std::find(found.begin(), found.end(), "127.0.0.1"), found.end());
  EXPECT_TRUE(std::is_sorted(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
    return NetworkToHost32(ParseDottedAddress(a)) < NetworkToHost32(ParseDottedAddress(b));
  }));
}

}  // namespace
}  // namespace chron::platform
