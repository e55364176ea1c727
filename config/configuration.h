// The configuration record and its store below HKEY_LOCAL_MACHINE\SOFTWARE\Orbek\SNTP\1.01.
// Settings are named by their value paths such as "Client\PollInterval".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace chron {

inline constexpr std::string_view kProductKey = "SOFTWARE\\Orbek\\SNTP\\1.01\\";

struct Configuration {
  uint32_t client_active = 1;
  uint32_t client_broadcast = 1;
  uint32_t client_run_once = 0;
  uint32_t client_max_diff_second = 180;          // seconds
  uint32_t client_max_diff_second_active = 0;
  uint32_t client_poll_interval = 64;             // seconds
  std::string client_time_source;                 // read through an 8192-byte buffer, trimmed
  uint32_t server_active = 0;
  uint32_t server_broadcast = 1;
  uint32_t server_broadcast_interval = 64;        // seconds
  std::string server_time_source = "LOCAL";       // 80-byte buffer, not trimmed
  std::string ip_query_type = "SNMP";             // 80-byte buffer, trimmed
};

// Which values a program reads: all twelve, or the client values and IPQueryType (chron95).
enum class ConfigSubset { kFull, kClientOnly };

// Reads `path` into `buffer` of `size` bytes; true only when key and value were read.
bool ReadRegistryValue(platform::Registry& registry, std::string_view path, void* buffer, uint32_t size);
void ReadRegistryDword(platform::Registry& registry, std::string_view path, uint32_t* field, uint32_t fallback);
// Reads a text through a buffer of `buffer_size` bytes; a failed read leaves `fallback` (if any).
bool ReadRegistryString(platform::Registry& registry, std::string_view path, std::string* field,
                        uint32_t buffer_size, const char* fallback);
// Removes leading and trailing blanks and tabs.
void TrimBlanks(std::string* text);
// Fills `config` (defaults first); true only when every value was present.
bool ReadConfiguration(platform::Registry& registry, Configuration* config,
                       ConfigSubset subset = ConfigSubset::kFull);

bool WriteRegistryValue(platform::Registry& registry, std::string_view path, platform::RegType type,
                        const void* data, uint32_t size);
// Writes all twelve values in table order; every write is attempted; true when all succeeded.
bool WriteConfiguration(platform::Registry& registry, const Configuration& config);

}  // namespace chron
