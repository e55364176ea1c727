// The configuration record and its store below HKEY_LOCAL_MACHINE\SOFTWARE\Orbek\SNTP\1.01.
// Settings are named by their value paths such as "Client\PollInterval".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace chron {

inline constexpr std::string_view kProductKey = "SOFTWARE\\Orbek\\SNTP\\1.01\\";

// Server\BroadcastInterval when the hive does not say (seconds); a broadcast client, which is not
// told its server's interval, assumes this one.
inline constexpr uint32_t kDefaultBroadcastIntervalS = 64;

struct Configuration {
  uint32_t client_active = 1;
  uint32_t client_broadcast = 1;
  uint32_t client_run_once = 0;
  uint32_t client_max_diff_second = 180;  // seconds
  uint32_t client_max_diff_second_active = 0;
  uint32_t client_poll_interval = 64;  // seconds
  std::string client_time_source;      // read through an 8192-byte buffer, trimmed
  uint32_t server_active = 0;
  uint32_t server_broadcast = 1;
  uint32_t server_broadcast_interval = kDefaultBroadcastIntervalS;
  std::string server_time_source = "LOCAL";  // 80-byte buffer, not trimmed
  std::string ip_query_type = "SNMP";        // 80-byte buffer, trimmed
  // Path of the symmetric key file (value "KeyFile" of the product key, read apart from the
  // twelve values above: the applet neither shows nor writes it). Empty: no authentication.
  std::string key_file;
  bool key_file_too_long = false;  // the value exists but exceeds its buffer
  // Value "IPv6" of the product key (REG_DWORD, read apart like "KeyFile"): not 0 serves and polls
  // over IPv6 beside IPv4. Absent or 0: IPv4 alone.
  uint32_t ipv6 = 0;
  // Client\Discipline, read apart from the twelve values like the key file (the applet neither
  // shows nor writes it): 1 disciplines the clock, 0 steps it by every reply.
  uint32_t client_discipline = 0;
  // Value "WaitForNetwork" of the product key (REG_DWORD, read apart like "IPv6"): not 0 lets a
  // start that finds no usable address wait for one instead of ending with 55.
  uint32_t wait_for_network = 0;
  // The server's and the broadcast client's protection, read apart like "KeyFile" (the applet
  // neither shows nor writes them); absent, everything is as without them. Lists of addresses
  // and prefixes (REG_SZ, engine/access_list.h): Server\Allow, Server\Deny and
  // Client\BroadcastFrom; none when absent.
  std::optional<std::string> server_allow;
  std::optional<std::string> server_deny;
  std::optional<std::string> client_broadcast_from;
  // The rate limit (REG_DWORD, engine/rate_limiter.h): Server\RateLimit not 0 switches the limit
  // per source on; Server\RateInterval (log2 s), RateBurst, RateLeak shape it; Server\RateCeiling
  // bounds the answers per second of all sources together (0: no ceiling).
  uint32_t server_rate_limit = 0;
  uint32_t server_rate_interval = 3;
  uint32_t server_rate_burst = 8;
  uint32_t server_rate_leak = 2;
  uint32_t server_rate_ceiling = 0;
  // Network Time Security, read apart like "KeyFile" (the applet neither shows nor writes them).
  // Client\NTS (REG_DWORD) not 0: the poll client takes time only through NTS (NTS-KE with
  // Client\TimeSource, then authenticated NTP). The product key's texts (REG_SZ, paths of PEM
  // files, whole and trimmed; empty when absent): NtsTrustedCertificates, the certificates the
  // client checks the NTS-KE server against (empty: the system's); NtsServerCertificate and
  // NtsServerKey, with which the service runs an NTS-KE server.
  uint32_t client_nts = 0;
  std::string nts_trusted_certificates;
  std::string nts_server_certificate;
  std::string nts_server_key;
};

// Which values a program reads: all twelve, or the client values and IPQueryType (chron95).
enum class ConfigSubset { kFull, kClientOnly };

// A stored number that was not taken as it is stored.
struct SettingNotice {
  enum class Kind {
    kText,        // stored as text (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ): the default applies
    kOutOfRange,  // outside the valid range: the nearest valid value applies (services only)
  };
  Kind kind;
  std::string_view path;  // value path, e.g. "Client\\PollInterval"
  uint32_t stored = 0;    // kOutOfRange: the stored number
  std::string text;       // kText: the stored text up to its first zero
  uint32_t used = 0;      // the value taken instead
};

// Reads `path` into `buffer` of `size` bytes; true only when key and value were read. `type`
// (if given) receives the stored type also when the value is larger than the buffer.
bool ReadRegistryValue(platform::Registry& registry, std::string_view path, void* buffer, uint32_t size,
                       platform::RegType* type = nullptr);
// A number: the first (up to) four stored bytes, little-endian, of a value of any type but
// text; a text (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ), a missing value or one larger than four
// bytes leaves `fallback`. True when the number was read; `text` (if given) receives a text found.
bool ReadRegistryDword(platform::Registry& registry, std::string_view path, uint32_t* field, uint32_t fallback,
                       std::optional<std::string>* text = nullptr);
// Reads a text through a buffer of `buffer_size` bytes; a failed read leaves `fallback` (if any).
bool ReadRegistryString(platform::Registry& registry, std::string_view path, std::string* field, uint32_t buffer_size,
                        const char* fallback);
// Removes leading and trailing blanks and tabs.
void TrimBlanks(std::string* text);
// Fills `config` (defaults first); true only when every value was present and every number
// stored as a number. `notices` (if given) receives each number stored as text, in table order.
bool ReadConfiguration(platform::Registry& registry, Configuration* config, ConfigSubset subset = ConfigSubset::kFull,
                       std::vector<SettingNotice>* notices = nullptr);
// The services' rule for what they read: every number of the subset that lies outside the
// services' range of its setting becomes the nearest value inside (ServiceValue), with a notice
// each, in table order. The applet shows stored values as they are. A `lowest` other than 0
// lowers the lower end of those ranges (tests that cannot wait 16 s per cycle).
void KeepInValidRanges(Configuration* config, ConfigSubset subset, std::vector<SettingNotice>* notices,
                       uint32_t lowest = 0);

// Reads the value "IPv6" into config->ipv6 (0 when absent or stored as text).
void ReadIpv6Setting(platform::Registry& registry, Configuration* config);
// Reads the value "Client\Discipline" into config->client_discipline (0 when absent or stored
// as text).
void ReadDisciplineSetting(platform::Registry& registry, Configuration* config);
// Reads the value "WaitForNetwork" into config->wait_for_network (0 when absent or stored as text).
void ReadWaitForNetworkSetting(platform::Registry& registry, Configuration* config);
// Reads the protection's values (Server\Allow, Server\Deny, Client\BroadcastFrom, Server\Rate*)
// into `config`: a list whole, whatever its length, one stored as no text as "(kein Text)" and
// one that cannot be read as "(unlesbar)", which no list takes; a number stored as text or
// absent as its default. A client-only program (`kClientOnly`) reads Client\BroadcastFrom alone.
void ReadProtectionSettings(platform::Registry& registry, Configuration* config,
                            ConfigSubset subset = ConfigSubset::kFull);

// Reads Client\NTS, NtsTrustedCertificates, NtsServerCertificate and NtsServerKey into `config`
// (0 and empty when absent; a number stored as text as 0). A client-only program (`kClientOnly`)
// reads the client's two alone.
void ReadNtsSettings(platform::Registry& registry, Configuration* config, ConfigSubset subset = ConfigSubset::kFull);

bool WriteRegistryValue(platform::Registry& registry, std::string_view path, platform::RegType type, const void* data,
                        uint32_t size);
// Writes all twelve values in table order as one change of the registry (WriteTogether);
// every write is attempted; true when all succeeded and the change was stored.
bool WriteConfiguration(platform::Registry& registry, const Configuration& config);
// Writes the default of each of the twelve values that is absent (no such key or value), as one
// change of the registry; a value that exists keeps whatever it holds, whatever its type. The
// packages run it at installation so that the applet finds a complete set. `written` (if given)
// receives the paths written, in table order. Returns the first failure of a write or of storing
// the change (kRegBadHive for a hive that cannot be parsed: then nothing is written).
platform::RegStatus WriteAbsentDefaults(platform::Registry& registry, std::vector<std::string_view>* written = nullptr);

}  // namespace chron
