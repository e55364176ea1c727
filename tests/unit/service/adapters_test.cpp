// Adapter discovery: the IPQueryType dispatch, the adapter table, the SNMP walk and the Windows
// NT registry method (Tcpip\Linkage\Bind and each adapter's IpAddress).
#include "service/adapters.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/testutil/fake_network.h"
#include "tests/testutil/report_capture.h"
#include "tests/unit/service/adapter_test_support.h"

namespace chron {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::MultiSz;
using testing::NthAddress;
using testing::ReportLine;
using testing::Rows;

constexpr char kLinkage[] = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Linkage";
// As the service names it in its reports.
constexpr char kLinkageReported[] = "SYSTEM\\CurrentControlSet\\Services\\TCPIP\\Linkage";

std::string TcpipKey(std::string_view adapter) {
  return "SYSTEM\\CurrentControlSet\\Services\\" + std::string(adapter) + "\\Parameters\\Tcpip";
}

platform::InterfaceAddress Row(std::string_view dotted) {
  platform::InterfaceAddress row;
  row.address = testing::Ip(dotted);
  row.interface = "eth0";
  return row;
}

class AdaptersTest : public ::testing::Test {
 protected:
  // Trace and reports on the console; `debug` decides whether trace lines appear.
  void Capture(bool debug) {
    capture.reset();  // the old capture restores the defaults when it ends
    capture = std::make_unique<testing::ReportCapture>(ReportTarget::kConsole, debug);
  }
  std::vector<std::string> Console() const { return capture->console(); }

  void SetBind(std::string_view bytes) {
    testing::SetRaw(*registry, kLinkage, "Bind", platform::RegType::kMultiSz, bytes);
  }
  void SetAddresses(std::string_view adapter, std::string_view bytes) {
    testing::SetRaw(*registry, TcpipKey(adapter), "IpAddress", platform::RegType::kMultiSz, bytes);
  }

  testing::FakeNetwork network;
  std::unique_ptr<platform::Registry> registry = platform::OpenMemoryRegistry();
  Configuration config;
  AdapterTable table;
  DiscoverySource Source() { return {config, network, registry.get()}; }
  std::unique_ptr<testing::ReportCapture> capture = std::make_unique<testing::ReportCapture>(ReportTarget::kConsole);
};

// --- IPQueryType dispatch ----------------------------------------------------------------------

TEST_F(AdaptersTest, QueryTypeChoosesMethodTrimmedAndInAnyCase) {
  network.SetInterfaceAddresses({Row("10.0.0.2")});
  int registry_calls = 0;
  auto registry_method = [&](const DiscoverySource&, AdapterTable&) {
    ++registry_calls;
    return true;
  };

  config.ip_query_type = "snmp";
  EXPECT_TRUE(DiscoverAdapters(Source(), table, registry_method));
  EXPECT_THAT(Rows(table), ElementsAre("<unbekannt> (10.0.0.2)"));
  EXPECT_EQ(registry_calls, 0);

  for (const char* type : {" Registry\t", "REGISTRY", "registry"}) {
    ClearAdapterTable(table);
    config.ip_query_type = type;
    EXPECT_TRUE(DiscoverAdapters(Source(), table, registry_method)) << type;
    EXPECT_THAT(Rows(table), IsEmpty()) << type;  // the SNMP walk did not run
  }
  EXPECT_EQ(registry_calls, 3);
  EXPECT_THAT(Console(), IsEmpty());
}

TEST_F(AdaptersTest, UnknownQueryTypeIsReportedAndLeavesTableEmpty) {
  network.SetInterfaceAddresses({Row("10.0.0.2")});
  bool registry_called = false;
  config.ip_query_type = "bogus";
  EXPECT_FALSE(
      DiscoverAdapters(Source(), table, [&](const DiscoverySource&, AdapterTable&) { return registry_called = true; }));
  EXPECT_FALSE(registry_called);
  EXPECT_THAT(Rows(table), IsEmpty());
  EXPECT_THAT(Console(), ElementsAre(ReportLine(msg::kIpQueryTypeInvalid, {"bogus"})));
}

// --- the adapter table -------------------------------------------------------------------------

TEST_F(AdaptersTest, AddAdapterFillsRowsInOrderUpToSixtyFour) {
  for (uint32_t i = 0; i < 64; ++i) ASSERT_TRUE(AddAdapter(table, "eth", testing::Ip(NthAddress("10.0.0.1", i))));
  EXPECT_EQ(CountAdapters(table), 64);
  EXPECT_FALSE(AddAdapter(table, "extra", testing::Ip("10.9.9.9")));
  EXPECT_EQ(table[0].address.address, testing::Ip("10.0.0.1"));
  EXPECT_EQ(table[0].address.port, 0);  // the port is set by start-up
  EXPECT_EQ(table[63].address.address, testing::Ip("10.0.0.64"));
  for (const AdapterEntry& entry : table) EXPECT_EQ(entry.name, "eth");

  ClearAdapterTable(table);
  EXPECT_EQ(CountAdapters(table), 0);
  ASSERT_TRUE(AddAdapter(table, "again", testing::Ip("192.168.0.1")));
  EXPECT_THAT(Rows(table), ElementsAre("again (192.168.0.1)"));
}

TEST_F(AdaptersTest, LongNamesAreCutToSeventyNineBytesAtACharacterBoundary) {
  struct Case {
    std::string name;
    std::string stored;
  };
  const std::string a78(78, 'a');
  const std::string a77(77, 'a');
  const std::string a76(76, 'a');
  const Case cases[] = {
      {std::string(79, 'x'), std::string(79, 'x')},  // fits exactly
      {std::string(80, 'x'), std::string(79, 'x')},  // one byte too long
      {a78 + "\xc3\xbc"
             "b",
       a78},  // "ü" would be split at byte 79
      {a77 + "\xc3\xbc"
             "b",
       a77 + "\xc3\xbc"},           // "ü" ends at byte 79: kept
      {a77 + "\xe2\x82\xac", a77},  // "€" (3 bytes) would be split
      {a76 + "\xf0\x9f\x98\x80"
             "z",
       a76},  // 4-byte character would be split
  };
  for (const Case& c : cases) {
    ClearAdapterTable(table);
    ASSERT_TRUE(AddAdapter(table, c.name, testing::Ip("10.0.0.1")));
    EXPECT_EQ(table[0].name, c.stored) << c.name.size();
    EXPECT_LT(table[0].name.size(), size_t{kAdapterNameSize});
  }
}

// --- SNMP method ---------------------------------------------------------------------------------

TEST_F(AdaptersTest, SnmpTakesAddressesInAscendingOrderWithoutLoopback) {
  network.SetInterfaceAddresses(
      {Row("192.168.1.5"), Row("127.0.0.1"), Row("10.0.0.1"), Row("172.16.0.1"), Row("0.0.0.0")});
  table[5].in_use = true;  // discovery starts from a cleared table
  EXPECT_TRUE(DiscoverAdaptersBySnmp(Source(), table));
  EXPECT_THAT(Rows(table), ElementsAre("<unbekannt> (0.0.0.0)", "<unbekannt> (10.0.0.1)", "<unbekannt> (172.16.0.1)",
                                       "<unbekannt> (192.168.1.5)"));
  EXPECT_THAT(Console(), IsEmpty());
}

TEST_F(AdaptersTest, SnmpWithOnlyLoopbackOrNoAddressesGivesEmptyTable) {
  network.SetInterfaceAddresses({Row("127.0.0.1")});
  EXPECT_TRUE(DiscoverAdaptersBySnmp(Source(), table));
  EXPECT_THAT(Rows(table), IsEmpty());
  network.SetInterfaceAddresses({});
  EXPECT_TRUE(DiscoverAdaptersBySnmp(Source(), table));
  EXPECT_THAT(Rows(table), IsEmpty());
  // 127.0.0.2 is not exactly 127.0.0.1: kept.
  network.SetInterfaceAddresses({Row("127.0.0.2")});
  EXPECT_TRUE(DiscoverAdaptersBySnmp(Source(), table));
  EXPECT_THAT(Rows(table), ElementsAre("<unbekannt> (127.0.0.2)"));
  EXPECT_THAT(Console(), IsEmpty());
}

// Where the system had to read its adapter list instead of the SNMP agent, that is told once,
// before the addresses are taken as usual.
TEST_F(AdaptersTest, SnmpAgentThatCouldNotBeLoadedIsReportedOnce) {
  network.SetInterfaceAddresses({Row("127.0.0.1"), Row("10.0.0.1")});
  network.SetSnmpAgentFailure(126);
  EXPECT_TRUE(DiscoverAdaptersBySnmp(Source(), table));
  EXPECT_TRUE(DiscoverAdaptersBySnmp(Source(), table));
  EXPECT_THAT(Rows(table), ElementsAre("<unbekannt> (10.0.0.1)"));
  EXPECT_THAT(Console(), ElementsAre(ReportLine(msg::kSnmpAgentMissing, {int64_t{126}})));
}

TEST_F(AdaptersTest, SnmpFillsSixtyFourRowsWithoutLoopbackAndReportsEachAddressLeftOut) {
  struct Case {
    std::string first;  // addresses first, first+1, ... (127.0.0.1 added in front when asked)
    uint32_t count;
    bool loopback;
  };
  for (const Case& c : {Case{"10.0.1.1", 70, false}, Case{"192.168.0.1", 64, true}, Case{"10.0.2.1", 66, true}}) {
    std::vector<platform::InterfaceAddress> rows;
    if (c.loopback) rows.push_back(Row("127.0.0.1"));
    for (uint32_t i = 0; i < c.count; ++i) rows.push_back(Row(NthAddress(c.first, i)));
    network.SetInterfaceAddresses(rows);
    Capture(false);
    EXPECT_TRUE(DiscoverAdaptersBySnmp(Source(), table));
    const std::vector<std::string> found = Rows(table);
    ASSERT_EQ(found.size(), 64u) << c.first;
    EXPECT_EQ(found.back(), "<unbekannt> (" + NthAddress(c.first, 63) + ")");
    const std::vector<std::string> expected(c.count - 64,
                                            ReportLine(msg::kTooManyAdapters, {"<unbekannt>", int64_t{64}}));
    EXPECT_EQ(Console(), expected) << c.first;
  }
}

// A scripted agent: each query answers with the next of `answers` (name, value bytes) or fails.
struct ScriptedAgent {
  struct Answer {
    platform::ObjectIdentifier name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Answer> answers;
  std::vector<platform::ObjectIdentifier> asked;
  size_t next = 0;

  SnmpQuery Query() {
    return [this](uint8_t type, platform::VarBindList* list, int32_t* status, int32_t* index) {
      EXPECT_EQ(type, platform::kSnmpGetNext);
      EXPECT_EQ(list->size(), 1u);
      asked.push_back((*list)[0].name);
      *status = 0;
      *index = 0;
      if (next >= answers.size()) return false;
      (*list)[0].name = answers[next].name;
      (*list)[0].value.type = platform::kSnmpIpAddress;
      (*list)[0].value.bytes = answers[next].bytes;
      ++next;
      return true;
    };
  }
};

platform::ObjectIdentifier AddrOid(std::vector<uint32_t> index,
                                   const platform::ObjectIdentifier& column = platform::kIpAdEntAddr) {
  platform::ObjectIdentifier oid = column;
  oid.insert(oid.end(), index.begin(), index.end());
  return oid;
}

TEST(SnmpWalkTest, AsksGetNextFromColumnThenFromEachReturnedName) {
  ScriptedAgent agent;
  agent.answers = {{AddrOid({10, 0, 0, 1}), {10, 0, 0, 1}}, {AddrOid({10, 0, 0, 2}), {10, 0, 0, 2}}};
  std::vector<uint32_t> addresses = WalkIpAddressColumn(agent.Query());
  EXPECT_THAT(addresses, ElementsAre(testing::Ip("10.0.0.1"), testing::Ip("10.0.0.2")));
  EXPECT_THAT(agent.asked, ElementsAre(platform::kIpAdEntAddr, AddrOid({10, 0, 0, 1}), AddrOid({10, 0, 0, 2})));
}

TEST(SnmpWalkTest, EndsWhereTheWalkLeavesTheColumn) {
  ScriptedAgent agent;
  agent.answers = {{AddrOid({10, 0, 0, 1}), {10, 0, 0, 1}},
                   {AddrOid({10, 0, 0, 1}, platform::kIpAdEntIfIndex), {0, 0, 0, 3}},
                   {AddrOid({10, 0, 0, 9}), {10, 0, 0, 9}}};
  EXPECT_THAT(WalkIpAddressColumn(agent.Query()), ElementsAre(testing::Ip("10.0.0.1")));
  EXPECT_EQ(agent.asked.size(), 2u);
}

TEST(SnmpWalkTest, ValueShorterThanAnAddressEndsTheWalk) {
  ScriptedAgent agent;
  agent.answers = {{AddrOid({10, 0, 0, 1}), {10, 0, 0, 1}},
                   {AddrOid({10, 0, 0, 2}), {10, 0}},
                   {AddrOid({10, 0, 0, 3}), {10, 0, 0, 3}}};
  EXPECT_THAT(WalkIpAddressColumn(agent.Query()), ElementsAre(testing::Ip("10.0.0.1")));
  EXPECT_EQ(agent.asked.size(), 2u);

  ScriptedAgent empty_value;
  empty_value.answers = {{AddrOid({10, 0, 0, 1}), {}}};
  EXPECT_THAT(WalkIpAddressColumn(empty_value.Query()), IsEmpty());
}

TEST(SnmpWalkTest, AnAgentThatNeverEndsIsAskedABoundedNumberOfTimes) {
  int calls = 0;
  SnmpQuery repeating = [&](uint8_t, platform::VarBindList* list, int32_t*, int32_t*) {
    ++calls;
    (*list)[0].name = AddrOid({10, 0, 0, 1});
    (*list)[0].value.bytes = {10, 0, 0, 1};
    return true;
  };
  EXPECT_EQ(WalkIpAddressColumn(repeating).size(), 1u);  // the second answer does not advance
  EXPECT_EQ(calls, 2);

  uint32_t next = 0;
  SnmpQuery endless = [&](uint8_t, platform::VarBindList* list, int32_t*, int32_t*) {
    ++next;
    (*list)[0].name = AddrOid({10, next >> 16, (next >> 8) & 0xFF, next & 0xFF});
    (*list)[0].value.bytes = {10, 0, 0, 1};
    return true;
  };
  EXPECT_EQ(WalkIpAddressColumn(endless).size(), kMaxWalkedAddresses);
  EXPECT_EQ(next, kMaxWalkedAddresses);
}

// --- Windows NT registry method -----------------------------------------------------------------

TEST_F(AdaptersTest, NtRegistryWalksBindWithTraceAndNameRules) {
  SetBind(MultiSz(
      {"\\Device\\El90x1", "\\Device\\NdisWan5", "\\Device\\Lance", "\\Device\\NoCard77", "\\Device\\Intel100"}));
  SetAddresses("El90x1", MultiSz({"10.1.0.5", "bogus", "0.0.0.0", "10.1.0.6"}));
  SetAddresses("NdisWan5", MultiSz({"10.9.9.9"}));  // would be found if the name were not skipped
  SetAddresses("Lance", MultiSz({"192.168.7.1"}));
  SetAddresses("Intel100", MultiSz({"172.16.0.9"}));
  ASSERT_EQ(registry->CreateKey("SYSTEM\\CurrentControlSet\\Services\\NoCard77\\Parameters"), platform::kRegSuccess);
  table[10].in_use = true;  // cleared first
  Capture(true);

  EXPECT_TRUE(DiscoverAdaptersFromNtRegistry(Source(), table));
  EXPECT_THAT(Rows(table), ElementsAre("El90x1 (10.1.0.5)", "El90x1 (0.0.0.0)", "El90x1 (10.1.0.6)",
                                       "Lance (192.168.7.1)", "INTEL100 (172.16.0.9)"));
  EXPECT_THAT(
      Console(),
      ElementsAre("SNTP-Init: Teste Gerät [El90x1]...\n", "SNTP-Init: Gerät [El90x1 (10.1.0.5)] gefunden.\n",
                  "SNTP-Init: Gerät [El90x1 (0.0.0.0)] gefunden.\n", "SNTP-Init: Gerät [El90x1 (10.1.0.6)] gefunden.\n",
                  "SNTP-Init: Teste Gerät [NdisWan5]...\n",
                  "SNTP-Init: Gerät [NDISWAN5] wird ignoriert, da kein LAN Adapter.\n",
                  "SNTP-Init: Teste Gerät [Lance]...\n", "SNTP-Init: Gerät [Lance (192.168.7.1)] gefunden.\n",
                  "SNTP-Init: Teste Gerät [NoCard77]...\n",
                  "SNTP-Init: Gerät [NOCARD77] wird ignoriert, weil es keine Netzwerkkarte ist.\n",
                  "SNTP-Init: Teste Gerät [Intel100]...\n", "SNTP-Init: Gerät [INTEL100 (172.16.0.9)] gefunden.\n"));
}

TEST_F(AdaptersTest, NtRegistryPrintsNothingOutsideDebugMode) {
  SetBind(MultiSz({"\\Device\\NdisWan5", "\\Device\\Lance", "\\Device\\NoCard77"}));
  SetAddresses("Lance", MultiSz({"192.168.7.1"}));
  Capture(false);
  EXPECT_TRUE(DiscoverAdaptersFromNtRegistry(Source(), table));
  EXPECT_THAT(Rows(table), ElementsAre("Lance (192.168.7.1)"));
  EXPECT_THAT(Console(), IsEmpty());
}

TEST_F(AdaptersTest, NtRegistryMissingIpAddressEndsDiscoveryKeepingRowsFound) {
  SetBind(MultiSz({"\\Device\\Lance", "\\Device\\El90x1", "\\Device\\Later"}));
  SetAddresses("Lance", MultiSz({"192.168.7.1"}));
  testing::SetText(*registry, TcpipKey("El90x1"), "DefaultGateway", "10.0.0.254");
  SetAddresses("Later", MultiSz({"10.2.0.1"}));
  Capture(true);
  EXPECT_FALSE(DiscoverAdaptersFromNtRegistry(Source(), table));
  EXPECT_THAT(Rows(table), ElementsAre("Lance (192.168.7.1)"));
  EXPECT_THAT(Console(),
              ElementsAre("SNTP-Init: Teste Gerät [Lance]...\n", "SNTP-Init: Gerät [Lance (192.168.7.1)] gefunden.\n",
                          "SNTP-Init: Teste Gerät [El90x1]...\n",
                          ReportLine(msg::kRegistryError, {"RegQueryValueEx", "IpAddress", int64_t{2}})));
}

TEST_F(AdaptersTest, NtRegistryMissingLinkageOrBindIsReported) {
  table[0].in_use = true;
  EXPECT_FALSE(DiscoverAdaptersFromNtRegistry(Source(), table));
  EXPECT_THAT(Rows(table), IsEmpty());
  EXPECT_THAT(Console(),
              ElementsAre(ReportLine(msg::kRegistryError, {"RegKeyOpenEx()", kLinkageReported, int64_t{2}})));

  Capture(false);
  testing::SetText(*registry, kLinkage, "Export", "\\Device\\Tcpip_Lance");
  EXPECT_FALSE(DiscoverAdaptersFromNtRegistry(Source(), table));
  EXPECT_THAT(Console(),
              ElementsAre(ReportLine(msg::kRegistryError,
                                     {"RegQueryValueEx()", std::string(kLinkageReported) + "\\Bind", int64_t{2}})));

  // A Bind value larger than its 1000-byte buffer cannot be read either.
  Capture(false);
  std::vector<std::string> many;
  for (int i = 0; i < 70; ++i) many.push_back("\\Device\\Adapter" + std::to_string(i));
  std::string bytes;
  for (const std::string& text : many) bytes += text + '\0';
  bytes += '\0';
  ASSERT_GT(bytes.size(), 1000u);
  SetBind(bytes);
  EXPECT_FALSE(DiscoverAdaptersFromNtRegistry(Source(), table));
  EXPECT_THAT(Console(), ElementsAre(ReportLine(msg::kRegistryError,
                                                {"RegQueryValueEx()", std::string(kLinkageReported) + "\\Bind",
                                                 int64_t{platform::kRegMoreData}})));
}

TEST_F(AdaptersTest, NtRegistryDamagedBindEndsTheWalkCleanly) {
  SetAddresses("Lance", MultiSz({"192.168.7.1"}));
  SetAddresses("El90x1", MultiSz({"10.1.0.5"}));

  // An element shorter than its eight-character prefix: the walk ends there instead of taking
  // a name from the middle of the next element.
  SetBind(MultiSz({"\\Device\\Lance", "\\Dev", "\\Device\\El90x1"}));
  Capture(true);
  EXPECT_TRUE(DiscoverAdaptersFromNtRegistry(Source(), table));
  EXPECT_THAT(Rows(table), ElementsAre("Lance (192.168.7.1)"));
  EXPECT_THAT(Console(),
              ElementsAre("SNTP-Init: Teste Gerät [Lance]...\n", "SNTP-Init: Gerät [Lance (192.168.7.1)] gefunden.\n"));

  // No final zeros at all: the last element ends with the data.
  SetBind(std::string("\\Device\\Lance\0\\Device\\El90x1", 28));
  Capture(false);
  EXPECT_TRUE(DiscoverAdaptersFromNtRegistry(Source(), table));
  EXPECT_THAT(Rows(table), ElementsAre("Lance (192.168.7.1)", "El90x1 (10.1.0.5)"));

  // An element of 256 characters after the prefix ends the walk; 255 is still taken.
  const std::string name255(255, 'q');
  SetAddresses(name255, MultiSz({"10.3.0.1"}));
  SetBind(
      MultiSz({"\\Device\\Lance", "\\Device\\" + name255, "\\Device\\" + std::string(256, 'r'), "\\Device\\El90x1"}));
  EXPECT_TRUE(DiscoverAdaptersFromNtRegistry(Source(), table));
  EXPECT_THAT(Rows(table), ElementsAre("Lance (192.168.7.1)", std::string(79, 'Q') + " (10.3.0.1)"));

  // Only blanks after the prefix: no name, the walk ends.
  SetBind(MultiSz({"\\Device\\Lance", "\\Device\\  \t ", "\\Device\\El90x1"}));
  EXPECT_TRUE(DiscoverAdaptersFromNtRegistry(Source(), table));
  EXPECT_THAT(Rows(table), ElementsAre("Lance (192.168.7.1)"));

  // Bind made only of the list's end, or empty.
  SetBind(std::string(1, '\0'));
  EXPECT_TRUE(DiscoverAdaptersFromNtRegistry(Source(), table));
  EXPECT_THAT(Rows(table), IsEmpty());
  SetBind("");
  EXPECT_TRUE(DiscoverAdaptersFromNtRegistry(Source(), table));
  EXPECT_THAT(Rows(table), IsEmpty());
  EXPECT_THAT(Console(), IsEmpty());
}

TEST_F(AdaptersTest, NtRegistryBindFillingItsWholeBufferWithoutFinalZeroStaysInside) {
  // Four elements of 250 bytes, the last without its zero: exactly the 1000 bytes of the
  // buffer, so a walk that looked for the missing zero would read beyond it.
  std::string bytes;
  std::vector<std::string> names;
  for (int i = 0; i < 4; ++i) {
    names.push_back(std::string(i < 3 ? 241 : 242, static_cast<char>('a' + i)));
    bytes += "\\Device\\" + names.back();
    if (i < 3) bytes += '\0';
  }
  ASSERT_EQ(bytes.size(), 1000u);
  SetBind(bytes);
  SetAddresses(names[3], MultiSz({"10.4.0.1"}));
  Capture(true);
  EXPECT_TRUE(DiscoverAdaptersFromNtRegistry(Source(), table));
  EXPECT_THAT(Rows(table), ElementsAre(std::string(79, 'D') + " (10.4.0.1)"));
  std::vector<std::string> console = Console();
  ASSERT_EQ(console.size(), 8u);
  EXPECT_EQ(console[6], "SNTP-Init: Teste Gerät [" + names[3] + "]...\n");
  // The trace names the adapter in full; the row holds the shortened name.
  EXPECT_EQ(console[7], "SNTP-Init: Gerät [" + std::string(242, 'D') + " (10.4.0.1)] gefunden.\n");
}

TEST_F(AdaptersTest, NtRegistryIpAddressWithoutFinalZeroAndDuplicateNames) {
  SetBind(MultiSz({"\\Device\\Lance", "\\Device\\Lance"}));
  SetAddresses("Lance", std::string("10.5.0.1\0"
                                    "10.5.0.2",
                                    17));
  EXPECT_TRUE(DiscoverAdaptersFromNtRegistry(Source(), table));
  EXPECT_THAT(Rows(table), ElementsAre("Lance (10.5.0.1)", "Lance (10.5.0.2)", "Lance (10.5.0.1)", "Lance (10.5.0.2)"));
}

TEST_F(AdaptersTest, NtRegistrySixtyFifthAddressIsReportedAndLeftOut) {
  std::vector<std::string> first;
  for (uint32_t i = 0; i < 60; ++i) first.push_back(NthAddress("10.6.0.1", i));
  std::string bytes;
  for (const std::string& text : first) bytes += text + '\0';
  bytes += '\0';
  SetBind(MultiSz({"\\Device\\Lance", "\\Device\\El90x1", "\\Device\\Last"}));
  SetAddresses("Lance", bytes);
  SetAddresses("El90x1", MultiSz({"10.7.0.1", "10.7.0.2", "10.7.0.3", "10.7.0.4", "10.7.0.5", "garbage", "10.7.0.6"}));
  SetAddresses("Last", MultiSz({"10.8.0.1"}));
  EXPECT_TRUE(DiscoverAdaptersFromNtRegistry(Source(), table));
  std::vector<std::string> rows = Rows(table);
  ASSERT_EQ(rows.size(), 64u);
  EXPECT_EQ(rows[59], "Lance (10.6.0.60)");
  EXPECT_EQ(rows[63], "El90x1 (10.7.0.4)");
  // Each further valid address is reported; the invalid one is skipped silently.
  EXPECT_THAT(Console(), ElementsAre(ReportLine(msg::kTooManyAdapters, {"El90x1", int64_t{64}}),
                                     ReportLine(msg::kTooManyAdapters, {"El90x1", int64_t{64}}),
                                     ReportLine(msg::kTooManyAdapters, {"Last", int64_t{64}})));
}

TEST_F(AdaptersTest, NtRegistryShortensLongNamesWithoutSplittingACharacter) {
  // 78 letters and "ü": the cut at 79 bytes would fall inside "ü".
  const std::string name = std::string(78, 'n') +
                           "\xc3\xbc"
                           "x";
  SetBind(MultiSz({"\\Device\\" + name}));
  SetAddresses(name, MultiSz({"10.9.0.1"}));
  EXPECT_TRUE(DiscoverAdaptersFromNtRegistry(Source(), table));
  EXPECT_THAT(Rows(table), ElementsAre(std::string(78, 'N') + " (10.9.0.1)"));
}

// The same keys written as an administrator would, in a REGEDIT4 hive file.
std::string HexList(std::string_view bytes) {
  std::string text;
  char piece[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(piece, sizeof piece, "%02x", static_cast<unsigned char>(bytes[i]));
    if (i > 0) text += ',';
    text += piece;
  }
  return text;
}

TEST_F(AdaptersTest, NtRegistryReadsAHiveFile) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("svctest-hive-" + std::to_string(getpid()) + ".reg")).string();
  {
    std::ofstream file(path);
    file << "REGEDIT4\n\n"
         << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Linkage]\n"
         << "\"Bind\"=hex(7):" << HexList(MultiSz({"\\Device\\NdisWan4", "\\Device\\E100B1"})) << "\n\n"
         << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\E100B1\\Parameters\\Tcpip]\n"
         << "\"IpAddress\"=hex(7):" << HexList(MultiSz({"192.0.2.10", "192.0.2.11"})) << "\n";
  }
  std::unique_ptr<platform::Registry> hive = platform::OpenHiveFile(path);
  EXPECT_TRUE(DiscoverAdaptersFromNtRegistry({config, network, hive.get()}, table));
  std::filesystem::remove(path);
  EXPECT_THAT(Rows(table), ElementsAre("E100B1 (192.0.2.10)", "E100B1 (192.0.2.11)"));
}

}  // namespace
}  // namespace chron
