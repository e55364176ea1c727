#include "config/configuration.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "config/settings.h"
#include "tests/testutil/fake_registry.h"

namespace chron {
namespace {

using platform::RegType;
using testing::RecordingRegistry;

constexpr const char* kClientKey = "SOFTWARE\\Orbek\\SNTP\\1.01\\Client";
constexpr const char* kServerKey = "SOFTWARE\\Orbek\\SNTP\\1.01\\Server";
constexpr const char* kRootKey = "SOFTWARE\\Orbek\\SNTP\\1.01";

void SetText(platform::Registry& registry, const char* key, const char* name, const std::string& text) {
  ASSERT_EQ(registry.SetValue(key, name, RegType::kSz, text.c_str(), static_cast<uint32_t>(text.size() + 1)),
            platform::kRegSuccess);
}
void SetDword(platform::Registry& registry, const char* key, const char* name, uint32_t value) {
  ASSERT_EQ(registry.SetValue(key, name, RegType::kDword, &value, 4), platform::kRegSuccess);
}
void SetRaw(platform::Registry& registry, const char* key, const char* name, RegType type, std::vector<uint8_t> data) {
  ASSERT_EQ(registry.SetValue(key, name, type, data.data(), static_cast<uint32_t>(data.size())), platform::kRegSuccess);
}

const std::vector<std::string> kFullOrder = {"Client\\Active",
                                             "Client\\Broadcast",
                                             "Client\\RunOnce",
                                             "Client\\MaxDiffSecond",
                                             "Client\\MaxDiffSecondActive",
                                             "Client\\PollInterval",
                                             "Client\\TimeSource",
                                             "Server\\Active",
                                             "Server\\Broadcast",
                                             "Server\\BroadcastInterval",
                                             "Server\\TimeSource",
                                             "IPQueryType"};

std::vector<std::string> Qualified(const std::vector<std::string>& paths, const char* verb) {
  std::vector<std::string> result;
  for (const std::string& path : paths) result.push_back(std::string(verb) + " SOFTWARE\\Orbek\\SNTP\\1.01\\" + path);
  return result;
}

// ---- Reading ----------------------------------------------------------------------------

TEST(ReadConfigurationTest, NoProductKeyGivesTheDefaults) {
  auto registry = platform::OpenMemoryRegistry();
  Configuration config;
  config.client_active = 0;  // stale contents are replaced by the defaults
  config.client_time_source = "stale";
  EXPECT_FALSE(ReadConfiguration(*registry, &config));
  EXPECT_EQ(config.client_active, 1u);
  EXPECT_EQ(config.client_broadcast, 1u);
  EXPECT_EQ(config.client_run_once, 0u);
  EXPECT_EQ(config.client_max_diff_second, 180u);
  EXPECT_EQ(config.client_max_diff_second_active, 0u);
  EXPECT_EQ(config.client_poll_interval, 64u);
  EXPECT_EQ(config.client_time_source, "");
  EXPECT_EQ(config.server_active, 0u);
  EXPECT_EQ(config.server_broadcast, 1u);
  EXPECT_EQ(config.server_broadcast_interval, 64u);
  EXPECT_EQ(config.server_time_source, "LOCAL");
  EXPECT_EQ(config.ip_query_type, "SNMP");
}

TEST(ReadConfigurationTest, ReadsInTableOrderAndTrimsOnlyTheClientSourceAndQueryType) {
  RecordingRegistry registry;
  const uint32_t numbers[] = {0, 0, 1, 3600, 1, 1024};
  const char* client_names[] = {"Active",        "Broadcast",           "RunOnce",
                                "MaxDiffSecond", "MaxDiffSecondActive", "PollInterval"};
  for (int i = 0; i < 6; ++i) SetDword(registry, kClientKey, client_names[i], numbers[i]);
  SetText(registry, kClientKey, "TimeSource", " \t ntp.example.org\t  ");
  SetDword(registry, kServerKey, "Active", 1);
  SetDword(registry, kServerKey, "Broadcast", 0);
  SetDword(registry, kServerKey, "BroadcastInterval", 16384);
  SetText(registry, kServerKey, "TimeSource", "  ntp ");
  SetText(registry, kRootKey, "IPQueryType", "  registry ");
  registry.calls.clear();

  Configuration config;
  EXPECT_TRUE(ReadConfiguration(registry, &config));
  EXPECT_EQ(config.client_active, 0u);
  EXPECT_EQ(config.client_broadcast, 0u);
  EXPECT_EQ(config.client_run_once, 1u);
  EXPECT_EQ(config.client_max_diff_second, 3600u);
  EXPECT_EQ(config.client_max_diff_second_active, 1u);
  EXPECT_EQ(config.client_poll_interval, 1024u);
  EXPECT_EQ(config.client_time_source, "ntp.example.org");
  EXPECT_EQ(config.server_active, 1u);
  EXPECT_EQ(config.server_broadcast, 0u);
  EXPECT_EQ(config.server_broadcast_interval, 16384u);
  EXPECT_EQ(config.server_time_source, "  ntp ");
  EXPECT_EQ(config.ip_query_type, "registry");
  EXPECT_EQ(registry.CallsStartingWith("Query"), Qualified(kFullOrder, "Query"));
  // Each value's key is opened right before the value is read, the product key without its
  // trailing backslash.
  ASSERT_EQ(registry.calls.size(), 24u);
  EXPECT_EQ(registry.calls[0], std::string("Open ") + kClientKey);
  EXPECT_EQ(registry.calls[22], std::string("Open ") + kRootKey);
}

TEST(ReadConfigurationTest, ClientSubsetReadsNoServerValue) {
  RecordingRegistry registry;
  SetDword(registry, kClientKey, "Active", 0);
  SetDword(registry, kServerKey, "Active", 1);
  SetText(registry, kServerKey, "TimeSource", "NTP");
  SetText(registry, kRootKey, "IPQueryType", "REGISTRY");
  registry.calls.clear();
  Configuration config;
  EXPECT_FALSE(ReadConfiguration(registry, &config, ConfigSubset::kClientOnly));
  std::vector<std::string> client_order(kFullOrder.begin(), kFullOrder.begin() + 7);
  client_order.push_back("IPQueryType");
  EXPECT_EQ(registry.CallsStartingWith("Query"), Qualified(client_order, "Query"));
  for (const std::string& call : registry.calls) EXPECT_THAT(call, ::testing::Not(::testing::HasSubstr("Server")));
  EXPECT_EQ(config.server_active, 0u);
  EXPECT_EQ(config.server_time_source, "LOCAL");
  EXPECT_EQ(config.ip_query_type, "REGISTRY");
}

TEST(ReadConfigurationTest, ClientSubsetIsCompleteWithItsEightValues) {
  auto client_only = platform::OpenMemoryRegistry();
  for (const Setting& setting : kSettings) {
    if (!setting.client) continue;
    uint32_t number = 5;
    std::string text = "x";
    if (setting.number) {
      ASSERT_TRUE(WriteRegistryValue(*client_only, setting.path, RegType::kDword, &number, 4));
    } else {
      ASSERT_TRUE(WriteRegistryValue(*client_only, setting.path, RegType::kSz, text.c_str(), 2));
    }
  }
  Configuration config;
  EXPECT_TRUE(ReadConfiguration(*client_only, &config, ConfigSubset::kClientOnly));
  EXPECT_FALSE(ReadConfiguration(*client_only, &config, ConfigSubset::kFull));
}

TEST(ReadConfigurationTest, TextsTooLongForTheirBufferCountAsAbsent) {
  auto registry = platform::OpenMemoryRegistry();
  Configuration config;
  SetText(*registry, kClientKey, "TimeSource", std::string(8191, 'a'));  // 8192 bytes with the zero
  SetText(*registry, kRootKey, "IPQueryType", std::string(79, 'b'));
  SetText(*registry, kServerKey, "TimeSource", std::string(79, 'c'));
  ReadConfiguration(*registry, &config);
  EXPECT_EQ(config.client_time_source, std::string(8191, 'a'));
  EXPECT_EQ(config.ip_query_type, std::string(79, 'b'));
  EXPECT_EQ(config.server_time_source, std::string(79, 'c'));

  SetText(*registry, kClientKey, "TimeSource", std::string(8192, 'a'));
  SetText(*registry, kRootKey, "IPQueryType", "  " + std::string(78, 'b'));  // 80 characters
  SetText(*registry, kServerKey, "TimeSource", std::string(80, 'c'));
  EXPECT_FALSE(ReadConfiguration(*registry, &config));
  EXPECT_EQ(config.client_time_source, "");
  EXPECT_EQ(config.ip_query_type, "SNMP");
  EXPECT_EQ(config.server_time_source, "LOCAL");
}

TEST(ReadRegistryStringTest, FallbackOnlyWhenGiven) {
  auto registry = platform::OpenMemoryRegistry();
  std::string field = "kept";
  EXPECT_FALSE(ReadRegistryString(*registry, "Client\\TimeSource", &field, 80, nullptr));
  EXPECT_EQ(field, "kept");
  EXPECT_FALSE(ReadRegistryString(*registry, "Client\\TimeSource", &field, 80, "fallback"));
  EXPECT_EQ(field, "fallback");
  // Stored without a terminating zero and exactly filling the buffer: no byte beyond it.
  SetRaw(*registry, kClientKey, "TimeSource", RegType::kSz, {'a', 'b', 'c', 'd'});
  EXPECT_TRUE(ReadRegistryString(*registry, "Client\\TimeSource", &field, 4, nullptr));
  EXPECT_EQ(field, "abcd");
}

TEST(ReadRegistryDwordTest, NumbersStoredWithAnotherTypeTakeUpToFourBytes) {
  auto registry = platform::OpenMemoryRegistry();
  uint32_t field = 0;
  SetRaw(*registry, kClientKey, "PollInterval", RegType::kBinary, {0x2a});
  ReadRegistryDword(*registry, "Client\\PollInterval", &field, 64);
  EXPECT_EQ(field, 42u);
  SetRaw(*registry, kClientKey, "PollInterval", RegType::kBinary, {0x00, 0x04});
  field = 0xffffffff;  // the upper bytes do not survive from before
  ReadRegistryDword(*registry, "Client\\PollInterval", &field, 64);
  EXPECT_EQ(field, 1024u);
  SetRaw(*registry, kClientKey, "PollInterval", RegType::kBinary, {1, 2, 3, 4, 5});  // does not fit
  ReadRegistryDword(*registry, "Client\\PollInterval", &field, 64);
  EXPECT_EQ(field, 64u);
  SetRaw(*registry, kClientKey, "PollInterval", RegType::kDword, {0x78, 0x56, 0x34, 0x12});
  ReadRegistryDword(*registry, "Client\\PollInterval", &field, 64);
  EXPECT_EQ(field, 0x12345678u);  // little-endian
}

// A number stored as text is no number, however its bytes read: the default applies, and the
// text is handed on for a report. The other types keep their four-byte reading.
TEST(ReadConfigurationTest, NumbersStoredAsTextTakeTheirDefaultWithANotice) {
  auto registry = platform::OpenMemoryRegistry();
  SetText(*registry, kClientKey, "PollInterval", "64");  // bytes: 13366 s
  SetText(*registry, kServerKey, "Active", "0");         // bytes: on
  SetRaw(*registry, kServerKey, "Broadcast", RegType::kMultiSz, {'0', 0, 0});
  SetRaw(*registry, kClientKey, "RunOnce", static_cast<RegType>(2), {'1', 0});  // REG_EXPAND_SZ
  SetRaw(*registry, kClientKey, "MaxDiffSecond", RegType::kBinary, {0x2c, 0x01});
  Configuration config;
  std::vector<SettingNotice> notices;
  EXPECT_FALSE(ReadConfiguration(*registry, &config, ConfigSubset::kFull, &notices));
  EXPECT_EQ(config.client_poll_interval, 64u);
  EXPECT_EQ(config.server_active, 0u);
  EXPECT_EQ(config.server_broadcast, 1u);
  EXPECT_EQ(config.client_run_once, 0u);
  EXPECT_EQ(config.client_max_diff_second, 300u);
  std::vector<std::string> seen;
  for (const SettingNotice& n : notices)
    seen.push_back(std::string(n.path) + "=" + n.text + "->" + std::to_string(n.used));
  EXPECT_THAT(seen, ::testing::ElementsAre("Client\\RunOnce=1->0", "Client\\PollInterval=64->64", "Server\\Active=0->0",
                                           "Server\\Broadcast=0->1"));
  EXPECT_TRUE(std::all_of(notices.begin(), notices.end(),
                          [](const SettingNotice& n) { return n.kind == SettingNotice::Kind::kText; }));
}

TEST(KeepInValidRangesTest, IntervalsOutsideTheirRangeTakeTheNearestValidValue) {
  struct Case {
    uint32_t poll, broadcast;
    ConfigSubset subset;
    uint32_t lowest;
    uint32_t poll_used, broadcast_used;
    std::vector<std::string> notices;
  };
  const Case cases[] = {
      // The ranges the warnings name: poll 16..16384, broadcast 1..86400.
      {0, 0, ConfigSubset::kFull, 0, 16, 1, {"Client\\PollInterval 0->16", "Server\\BroadcastInterval 0->1"}},
      {16, 1, ConfigSubset::kFull, 0, 16, 1, {}},
      {16384, 86400, ConfigSubset::kFull, 0, 16384, 86400, {}},
      {16385,
       0xffffffff,
       ConfigSubset::kFull,
       0,
       16384,
       86400,
       {"Client\\PollInterval 16385->16384", "Server\\BroadcastInterval 4294967295->86400"}},
      {15, 0, ConfigSubset::kClientOnly, 0, 16, 0, {"Client\\PollInterval 15->16"}},  // chron95 has no server
      {0, 2, ConfigSubset::kFull, 1, 1, 2, {"Client\\PollInterval 0->1"}},            // a test's lower minimum
      {0, 0, ConfigSubset::kFull, 5, 5, 1, {"Client\\PollInterval 0->5", "Server\\BroadcastInterval 0->1"}},
  };
  for (const Case& c : cases) {
    Configuration config;
    config.client_poll_interval = c.poll;
    config.server_broadcast_interval = c.broadcast;
    config.client_max_diff_second = 0;  // outside the applet's range, but the services take it
    std::vector<SettingNotice> notices;
    KeepInValidRanges(&config, c.subset, &notices, c.lowest);
    EXPECT_EQ(config.client_poll_interval, c.poll_used);
    EXPECT_EQ(config.server_broadcast_interval, c.broadcast_used);
    EXPECT_EQ(config.client_max_diff_second, 0u);
    std::vector<std::string> seen;
    for (const SettingNotice& n : notices) {
      EXPECT_EQ(n.kind, SettingNotice::Kind::kOutOfRange);
      seen.push_back(std::string(n.path) + " " + std::to_string(n.stored) + "->" + std::to_string(n.used));
    }
    EXPECT_EQ(seen, c.notices) << c.poll;
  }
}

TEST(TrimBlanksTest, RemovesBlanksAndTabsAtBothEndsOnly) {
  std::string text = " \t a b\t\t c \t";
  TrimBlanks(&text);
  EXPECT_EQ(text, "a b\t\t c");
  text = " \t \t";
  TrimBlanks(&text);
  EXPECT_EQ(text, "");
  text = "\nx\r";  // only blanks and tabs are trimmed
  TrimBlanks(&text);
  EXPECT_EQ(text, "\nx\r");
}

// The values that the services read at start-up beside the table; absent they are 0.
TEST(ReadConfigurationTest, Ipv6DisciplineAndWaitForNetworkAreReadOnTheirOwn) {
  auto registry = platform::OpenMemoryRegistry();
  Configuration config;
  config.ipv6 = config.client_discipline = config.wait_for_network = 7;
  ReadIpv6Setting(*registry, &config);
  ReadDisciplineSetting(*registry, &config);
  ReadWaitForNetworkSetting(*registry, &config);
  EXPECT_EQ(config.ipv6, 0u);
  EXPECT_EQ(config.client_discipline, 0u);
  EXPECT_EQ(config.wait_for_network, 0u);
  SetDword(*registry, kRootKey, "IPv6", 1);
  SetDword(*registry, kClientKey, "Discipline", 1);
  SetDword(*registry, kRootKey, "WaitForNetwork", 1);
  ReadIpv6Setting(*registry, &config);
  ReadDisciplineSetting(*registry, &config);
  ReadWaitForNetworkSetting(*registry, &config);
  EXPECT_EQ(config.ipv6, 1u);
  EXPECT_EQ(config.client_discipline, 1u);
  EXPECT_EQ(config.wait_for_network, 1u);
}

// The protection's values: absent they leave everything as it was; a list is read whole, and
// one that is no text is kept as a text no list takes.
TEST(ReadConfigurationTest, ProtectionSettingsAreReadOnTheirOwn) {
  auto registry = platform::OpenMemoryRegistry();
  Configuration config;
  ReadProtectionSettings(*registry, &config);
  EXPECT_FALSE(config.server_allow || config.server_deny || config.client_broadcast_from);
  EXPECT_EQ(std::tie(config.server_rate_limit, config.server_rate_interval, config.server_rate_burst,
                     config.server_rate_leak, config.server_rate_ceiling),
            std::make_tuple(0u, 3u, 8u, 2u, 0u));
  std::string long_list;
  for (int i = 0; i < 2000; ++i) long_list += "10.0.0." + std::to_string(i % 250) + " ";
  SetText(*registry, kServerKey, "Allow", long_list + "10.0.0.12");
  SetRaw(*registry, kServerKey, "Deny", RegType::kDword, {0, 0, 0, 0});
  SetText(*registry, kClientKey, "BroadcastFrom", "192.0.2.1");
  const char* numbers[] = {"RateLimit", "RateInterval", "RateBurst", "RateLeak", "RateCeiling"};
  for (uint32_t i = 0; i < 5; ++i) SetDword(*registry, kServerKey, numbers[i], 11 + i);
  ReadProtectionSettings(*registry, &config);
  EXPECT_EQ(config.server_allow, long_list + "10.0.0.12");
  EXPECT_EQ(config.server_deny, "(kein Text)");
  EXPECT_EQ(config.client_broadcast_from, "192.0.2.1");
  EXPECT_EQ(std::tie(config.server_rate_limit, config.server_rate_interval, config.server_rate_burst,
                     config.server_rate_leak, config.server_rate_ceiling),
            std::make_tuple(11u, 12u, 13u, 14u, 15u));
}

// NTS's values: absent 0 and empty; paths whole and trimmed; a client-only program reads the
// client's two alone; the applet's save (the table) leaves them as they are.
TEST(ReadConfigurationTest, NtsSettingsAreReadOnTheirOwnAndKeptBySaving) {
  auto registry = platform::OpenMemoryRegistry();
  Configuration config;
  ReadNtsSettings(*registry, &config);
  EXPECT_EQ(std::tie(config.client_nts, config.nts_trusted_certificates, config.nts_server_certificate,
                     config.nts_server_key),
            std::make_tuple(0u, "", "", ""));
  SetDword(*registry, kClientKey, "NTS", 1);
  SetText(*registry, kRootKey, "NtsTrustedCertificates", " /etc/chron/ca.pem ");
  SetText(*registry, kRootKey, "NtsServerCertificate", "/etc/chron/cert.pem");
  SetText(*registry, kRootKey, "NtsServerKey", "/etc/chron/key.pem");
  ASSERT_TRUE(WriteConfiguration(*registry, Configuration{}));
  ReadNtsSettings(*registry, &config, ConfigSubset::kClientOnly);
  EXPECT_EQ(std::tie(config.client_nts, config.nts_trusted_certificates, config.nts_server_certificate),
            std::make_tuple(1u, "/etc/chron/ca.pem", ""));
  ReadNtsSettings(*registry, &config);
  EXPECT_EQ(std::tie(config.nts_server_certificate, config.nts_server_key),
            std::make_tuple("/etc/chron/cert.pem", "/etc/chron/key.pem"));
}

// ---- Writing ----------------------------------------------------------------------------

TEST(WriteConfigurationTest, WritesAllTwelveInTableOrderWithTheirTypes) {
  RecordingRegistry registry;
  Configuration config;
  config.client_active = 5;  // booleans are written as 0 or 1
  config.client_max_diff_second = 7200;
  config.client_time_source = "zeit.example.org";
  config.server_time_source = "DCF77";
  EXPECT_TRUE(WriteConfiguration(registry, config));
  EXPECT_EQ(registry.CallsStartingWith("Set"), Qualified(kFullOrder, "Set"));

  for (const Setting& setting : kSettings) {
    std::string key(kRootKey);
    std::string_view name = setting.path;
    if (size_t slash = name.rfind('\\'); slash != std::string_view::npos) {
      key += "\\" + std::string(name.substr(0, slash));
      name = name.substr(slash + 1);
    }
    RegType type;
    char data[64] = {};
    uint32_t size = sizeof data;
    ASSERT_EQ(registry.QueryValue(key, name, &type, data, &size), platform::kRegSuccess) << setting.path;
    EXPECT_EQ(type, setting.type) << setting.path;
    if (setting.number) {
      EXPECT_EQ(size, 4u) << setting.path;
    } else {
      EXPECT_EQ(size, std::strlen(data) + 1) << setting.path;
      EXPECT_EQ(std::string(data), config.*setting.text) << setting.path;
    }
  }
  Configuration read;
  EXPECT_TRUE(ReadConfiguration(registry, &read));
  EXPECT_EQ(read.client_active, 1u);
  EXPECT_EQ(read.client_max_diff_second, 7200u);
  EXPECT_EQ(read.ip_query_type, "SNMP");  // a missing IPQueryType is created by the first write
}

TEST(WriteConfigurationTest, KeepsWritingAfterAFailedValue) {
  RecordingRegistry registry;
  registry.failing_values.insert(std::string(kClientKey) + "\\PollInterval");
  Configuration config;
  config.server_broadcast_interval = 300;
  EXPECT_FALSE(WriteConfiguration(registry, config));
  EXPECT_EQ(registry.CallsStartingWith("Set").size(), 12u);
  Configuration read;
  EXPECT_FALSE(ReadConfiguration(registry, &read));  // PollInterval is missing
  EXPECT_EQ(read.server_broadcast_interval, 300u);
}

TEST(WriteConfigurationTest, RoundTripThroughTheHiveFile) {
  char pattern[] = "/tmp/config_test.XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  std::string dir = pattern;
  {
    auto registry = platform::OpenHiveFile(dir + "/registry.reg");
    Configuration config;
    config.client_broadcast = 0;
    config.client_poll_interval = 16;
    config.client_time_source = "Zeitgeber \"M\xc3\xbcnchen\" \\ 2";
    config.server_time_source = "NTP";
    config.ip_query_type = "REGISTRY";
    ASSERT_TRUE(WriteConfiguration(*registry, config));
    Configuration read;
    EXPECT_TRUE(ReadConfiguration(*platform::OpenHiveFile(dir + "/registry.reg"), &read));
    EXPECT_EQ(read.client_broadcast, 0u);
    EXPECT_EQ(read.client_poll_interval, 16u);
    EXPECT_EQ(read.client_time_source, config.client_time_source);
    EXPECT_EQ(read.server_time_source, "NTP");
    EXPECT_EQ(read.ip_query_type, "REGISTRY");
  }
  std::filesystem::remove_all(dir);
}

// A save that cannot be stored (here: the file size limit stands in for a full disk) keeps the
// whole earlier configuration, not the first half of the new one.
TEST(WriteConfigurationTest, ASaveThatCannotBeStoredKeepsTheEarlierConfiguration) {
  char pattern[] = "/tmp/config_test.XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern, hive = dir + "/registry.reg";
  Configuration before;
  before.client_time_source = std::string(3000, 'a');
  ASSERT_TRUE(WriteConfiguration(*platform::OpenHiveFile(hive), before));
  const auto size = std::filesystem::file_size(hive);

  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit fails with EFBIG instead
    rlimit limit{size + 500, size + 500};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    Configuration after;
    after.client_poll_interval = 128;
    after.client_time_source = std::string(4000, 'b');  // the file outgrows the limit here
    after.server_active = 1;
    ::_exit(WriteConfiguration(*platform::OpenHiveFile(hive), after) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the failed save reported success";
  Configuration read;
  EXPECT_TRUE(ReadConfiguration(*platform::OpenHiveFile(hive), &read));
  EXPECT_EQ(read.client_poll_interval, before.client_poll_interval);
  EXPECT_TRUE(read.client_time_source == before.client_time_source);  // 3000 times 'a'; no long print
  EXPECT_EQ(read.server_active, before.server_active);
  std::filesystem::remove_all(dir);
}

// ---- Defaults where absent (the packages' installation) ----------------------------------

TEST(WriteAbsentDefaultsTest, WritesOnlyTheAbsentValuesAndKeepsThePresentOnes) {
  auto registry = platform::OpenMemoryRegistry();
  SetDword(*registry, kClientKey, "PollInterval", 300);
  SetText(*registry, kServerKey, "TimeSource", "NTP");
  SetRaw(*registry, kRootKey, "IPQueryType", RegType::kBinary, {1, 2});  // any type counts as present
  std::vector<std::string_view> written;
  EXPECT_EQ(WriteAbsentDefaults(*registry, &written), platform::kRegSuccess);
  std::vector<std::string> expected;
  for (const Setting& setting : kSettings) {
    if (setting.path != "Client\\PollInterval" && setting.path != "Server\\TimeSource" &&
        setting.path != "IPQueryType") {
      expected.emplace_back(setting.path);
    }
  }
  EXPECT_EQ(std::vector<std::string>(written.begin(), written.end()), expected);

  Configuration read, defaults;
  EXPECT_TRUE(ReadConfiguration(*registry, &read));  // complete: the applet reads without complaint
  EXPECT_EQ(read.client_poll_interval, 300u);
  EXPECT_EQ(read.server_time_source, "NTP");
  EXPECT_EQ(read.client_active, defaults.client_active);
  EXPECT_EQ(read.client_max_diff_second, defaults.client_max_diff_second);
  EXPECT_EQ(read.server_broadcast_interval, defaults.server_broadcast_interval);
  EXPECT_EQ(read.client_time_source, "");
  RegType type;
  uint32_t size = 0;
  ASSERT_EQ(registry->QueryValue(kRootKey, "IPQueryType", &type, nullptr, &size), platform::kRegSuccess);
  EXPECT_EQ(type, RegType::kBinary);
  written.clear();
  EXPECT_EQ(WriteAbsentDefaults(*registry, &written), platform::kRegSuccess);
  EXPECT_TRUE(written.empty());  // a second installation (upgrade, repair) changes nothing
}

TEST(WriteAbsentDefaultsTest, AHiveThatCannotBeParsedStaysAsItIs) {
  char pattern[] = "/tmp/config_test.XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern, hive = dir + "/registry.reg", text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\n";
  { std::ofstream(hive) << text; }
  std::vector<std::string_view> written;
  EXPECT_EQ(WriteAbsentDefaults(*platform::OpenHiveFile(hive, [](const std::string&) {}), &written),
            platform::kRegBadHive);
  EXPECT_TRUE(written.empty());
  std::ifstream in(hive);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
  std::filesystem::remove_all(dir);
}

// ---- The settings table -----------------------------------------------------------------

TEST(SettingsTest, ValidRangesAtTheirLimits) {
  const Setting* poll = FindSetting("client\\pollinterval");
  ASSERT_NE(poll, nullptr);
  EXPECT_EQ(poll->path, "Client\\PollInterval");
  EXPECT_FALSE(InValidRange(*poll, 15u));
  EXPECT_TRUE(InValidRange(*poll, 16u));
  EXPECT_TRUE(InValidRange(*poll, 16384u));
  EXPECT_FALSE(InValidRange(*poll, 16385u));
  const Setting* diff = FindSetting("Client\\MaxDiffSecond");
  ASSERT_NE(diff, nullptr);
  EXPECT_FALSE(InValidRange(*diff, 0u));
  EXPECT_TRUE(InValidRange(*diff, 7200u));
  EXPECT_FALSE(InValidRange(*diff, 7201u));
  const Setting* source = FindSetting("Client\\TimeSource");
  ASSERT_NE(source, nullptr);
  EXPECT_TRUE(InValidRange(*source, std::string(4095, 'a')));
  EXPECT_FALSE(InValidRange(*source, std::string(4096, 'a')));
  EXPECT_TRUE(InValidRange(*FindSetting("Client\\Active"), 12345u));
  EXPECT_EQ(FindSetting("Client\\Nothing"), nullptr);
}

}  // namespace
}  // namespace chron
