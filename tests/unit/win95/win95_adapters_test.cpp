// chron95's registry method of adapter discovery (one IPAddress per subkey of the NetTrans
// class key) and its command-line switch.
#include "win95/nettrans_class.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "service/adapters.h"
#include "tests/testutil/fake_network.h"
#include "tests/testutil/fake_registry.h"
#include "tests/testutil/report_capture.h"
#include "tests/unit/service/adapter_test_support.h"
#include "win95/win95_host.h"

namespace chron {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::NthAddress;
using testing::ReportLine;
using testing::Rows;

constexpr char kNetTrans[] = "SYSTEM\\CurrentControlSet\\Services\\Class\\NetTrans";

std::string Subkey(int index) {
  char name[16];
  std::snprintf(name, sizeof name, "%04d", index);
  return std::string(kNetTrans) + "\\" + name;
}

std::string Found(std::string_view dotted) {
  return "SNTP-Init: Gerät [<unbekannt> (" + std::string(dotted) + ")] gefunden.\n";
}

class Win95AdaptersTest : public ::testing::Test {
 protected:
  void SetAddress(int index, std::string_view text) { testing::SetText(registry, Subkey(index), "IPAddress", text); }
  std::vector<std::string> Console() const { return capture.console(); }

  testing::RecordingRegistry registry;
  testing::FakeNetwork network;  // unused by the registry method
  Configuration config;
  AdapterTable table;
  DiscoverySource Source() { return {config, network, &registry}; }
  testing::ReportCapture capture{ReportTarget::kConsole, /*debug=*/true};
};

TEST_F(Win95AdaptersTest, OneAddressPerSubkeyInEnumerationOrder) {
  SetAddress(0, "10.0.0.1");
  SetAddress(1, "192.168.0.3");
  table[7].in_use = true;  // cleared first
  EXPECT_TRUE(DiscoverAdaptersFromWin95Registry(Source(), table));
  EXPECT_THAT(Rows(table), ElementsAre("<unbekannt> (10.0.0.1)", "<unbekannt> (192.168.0.3)"));
  EXPECT_EQ(table[0].address.port, 0);  // the port is set by start-up
  EXPECT_THAT(Console(), ElementsAre(Found("10.0.0.1"), Found("192.168.0.3")));
}

TEST_F(Win95AdaptersTest, UnusableSubkeysArePassedOverSilently) {
  testing::SetText(registry, Subkey(0), "DriverDesc", "TCP/IP");  // no IPAddress
  SetAddress(1, "255.255.255.255");
  SetAddress(2, "garbage");
  SetAddress(3, "");
  SetAddress(4, "0.0.0.0");
  SetAddress(5, "127.0.0.1");
  SetAddress(6, "10.0.0.1, 10.0.0.2");  // one address per subkey: a list is no address
  SetAddress(7, "10.0.0.5");
  SetAddress(8, "10.0.0.5");                        // duplicates are kept
  SetAddress(9, "10.0.0." + std::string(80, '9'));  // longer than the 80-byte buffer
  testing::SetRaw(registry, Subkey(10), "IPAddress", platform::RegType::kSz, "10.0.0.7");  // no final zero
  ASSERT_EQ(registry.CreateKey(Subkey(11)), platform::kRegSuccess);                        // empty subkey
  EXPECT_TRUE(DiscoverAdaptersFromWin95Registry(Source(), table));
  EXPECT_THAT(Rows(table), ElementsAre("<unbekannt> (0.0.0.0)", "<unbekannt> (127.0.0.1)", "<unbekannt> (10.0.0.5)",
                                       "<unbekannt> (10.0.0.5)", "<unbekannt> (10.0.0.7)"));
  EXPECT_THAT(Console(), ElementsAre(Found("0.0.0.0"), Found("127.0.0.1"), Found("10.0.0.5"), Found("10.0.0.5"),
                                     Found("10.0.0.7")));
}

TEST_F(Win95AdaptersTest, AddressesBeyondSixtyFourAreReportedAndLeftOut) {
  for (int i = 0; i < 67; ++i) SetAddress(i, NthAddress("10.1.0.1", static_cast<uint32_t>(i)));
  SetAddress(67, "garbage");
  EXPECT_TRUE(DiscoverAdaptersFromWin95Registry(Source(), table));
  std::vector<std::string> rows = Rows(table);
  ASSERT_EQ(rows.size(), 64u);
  EXPECT_EQ(rows.back(), "<unbekannt> (10.1.0.64)");
  std::vector<std::string> console = Console();
  ASSERT_EQ(console.size(), 67u);
  EXPECT_EQ(console[63], Found("10.1.0.64"));
  for (size_t i = 64; i < 67; ++i)
    EXPECT_EQ(console[i], ReportLine(msg::kTooManyAdapters, {"<unbekannt>", int64_t{64}}));
}

TEST_F(Win95AdaptersTest, EnumerationStopsAfterIndex511) {
  for (int i = 0; i < 520; ++i) ASSERT_EQ(registry.CreateKey(Subkey(i)), platform::kRegSuccess);
  SetAddress(512, "10.2.0.1");  // the 513th subkey is never looked at
  EXPECT_TRUE(DiscoverAdaptersFromWin95Registry(Source(), table));
  EXPECT_THAT(Rows(table), IsEmpty());
  EXPECT_EQ(registry.CallsStartingWith("Enum ").size(), 512u);

  SetAddress(511, "10.2.0.2");  // the last index examined
  EXPECT_TRUE(DiscoverAdaptersFromWin95Registry(Source(), table));
  EXPECT_THAT(Rows(table), ElementsAre("<unbekannt> (10.2.0.2)"));
}

TEST_F(Win95AdaptersTest, EnumerationEndsAtNoMoreItems) {
  SetAddress(0, "10.3.0.1");
  SetAddress(1, "10.3.0.2");
  EXPECT_TRUE(DiscoverAdaptersFromWin95Registry(Source(), table));
  EXPECT_EQ(registry.CallsStartingWith("Enum ").size(), 3u);
}

TEST_F(Win95AdaptersTest, MissingKeyIsReportedAndLeavesTableEmpty) {
  table[0].in_use = true;
  EXPECT_FALSE(DiscoverAdaptersFromWin95Registry(Source(), table));
  EXPECT_THAT(Rows(table), IsEmpty());
  EXPECT_THAT(Console(), ElementsAre(ReportLine(msg::kRegistryError, {"RegKeyOpenEx()", kNetTrans, int64_t{2}})));

  // The key without subkeys: opened, nothing found, true.
  ASSERT_EQ(registry.CreateKey(kNetTrans), platform::kRegSuccess);
  EXPECT_TRUE(DiscoverAdaptersFromWin95Registry(Source(), table));
  EXPECT_THAT(Rows(table), IsEmpty());
}

TEST_F(Win95AdaptersTest, RegistryQueryTypeInAnyCaseChoosesThisMethod) {
  SetAddress(0, "10.4.0.1");
  config.ip_query_type = "registry";
  EXPECT_TRUE(DiscoverAdapters(Source(), table, DiscoverAdaptersFromWin95Registry));
  EXPECT_THAT(Rows(table), ElementsAre("<unbekannt> (10.4.0.1)"));
}

TEST(Win95CommandLineTest, DebugSwitchAnywhereInAnyCase) {
  EXPECT_TRUE(CommandLineSelectsDebug("-debug"));
  EXPECT_TRUE(CommandLineSelectsDebug("-DEBUG"));
  EXPECT_TRUE(CommandLineSelectsDebug("-DeBuG"));
  EXPECT_TRUE(CommandLineSelectsDebug("x-debugy"));
  EXPECT_TRUE(CommandLineSelectsDebug("foo bar -Debug"));
  EXPECT_TRUE(CommandLineSelectsDebug(std::string(300, 'x') + "-debug"));  // beyond 259 characters
  EXPECT_FALSE(CommandLineSelectsDebug("/debug"));
  EXPECT_FALSE(CommandLineSelectsDebug("debug"));
  EXPECT_FALSE(CommandLineSelectsDebug("- debug"));
  EXPECT_FALSE(CommandLineSelectsDebug(""));
}

}  // namespace
}  // namespace chron
