// The settings table: every value of the configuration store with its path, registry type,
// default, read buffer and valid range. Table order is the order in which ReadConfiguration
// reads and WriteConfiguration writes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/configuration.h"
#include "platform/registry.h"

namespace chron {

struct Setting {
  std::string_view path;             // value path below kProductKey, e.g. "Client\\PollInterval"
  platform::RegType type;            // kDword or kSz
  uint32_t Configuration::*number;   // record field of a kDword setting, else nullptr
  std::string Configuration::*text;  // record field of a kSz setting, else nullptr
  uint32_t default_number;
  const char* default_text;  // default of a kSz setting
  uint32_t buffer_size;      // bytes the readers offer: 4 for numbers; texts include the zero
  bool boolean;              // written as 0 or 1
  bool trimmed;              // blanks and tabs removed after reading
  bool client;               // read by the client-only program too
  // Valid range: numbers min..max (seconds), texts at most max characters; 0/0 = none. The
  // applet accepts nothing outside it.
  uint32_t min;
  uint32_t max;
  // The services' range of a number, the one their warning names: a stored number outside it
  // is taken as the nearest one inside (intervals: 0 would make their loops spin); 0/0 = they
  // take any number as stored.
  uint32_t service_min;
  uint32_t service_max;
};

using platform::RegType;

inline constexpr std::array<Setting, 12> kSettings = {{
    {"Client\\Active", RegType::kDword, &Configuration::client_active, nullptr, 1, nullptr, 4, true, false, true, 0, 0,
     0, 0},
    {"Client\\Broadcast", RegType::kDword, &Configuration::client_broadcast, nullptr, 1, nullptr, 4, true, false, true,
     0, 0, 0, 0},
    {"Client\\RunOnce", RegType::kDword, &Configuration::client_run_once, nullptr, 0, nullptr, 4, true, false, true, 0,
     0, 0, 0},
    {"Client\\MaxDiffSecond", RegType::kDword, &Configuration::client_max_diff_second, nullptr, 180, nullptr, 4, false,
     false, true, 1, 7200, 0, 0},
    {"Client\\MaxDiffSecondActive", RegType::kDword, &Configuration::client_max_diff_second_active, nullptr, 0, nullptr,
     4, true, false, true, 0, 0, 0, 0},
    {"Client\\PollInterval", RegType::kDword, &Configuration::client_poll_interval, nullptr, 64, nullptr, 4, false,
     false, true, 16, 16384, 16, 16384},
    {"Client\\TimeSource", RegType::kSz, nullptr, &Configuration::client_time_source, 0, "", 8192, false, true, true, 0,
     4095, 0, 0},
    {"Server\\Active", RegType::kDword, &Configuration::server_active, nullptr, 0, nullptr, 4, true, false, false, 0, 0,
     0, 0},
    {"Server\\Broadcast", RegType::kDword, &Configuration::server_broadcast, nullptr, 1, nullptr, 4, true, false, false,
     0, 0, 0, 0},
    {"Server\\BroadcastInterval", RegType::kDword, &Configuration::server_broadcast_interval, nullptr,
     kDefaultBroadcastIntervalS, nullptr, 4, false, false, false, 16, 16384, 1, 86400},
    {"Server\\TimeSource", RegType::kSz, nullptr, &Configuration::server_time_source, 0, "LOCAL", 80, false, false,
     false, 0, 0, 0, 0},
    {"IPQueryType", RegType::kSz, nullptr, &Configuration::ip_query_type, 0, "SNMP", 80, false, true, true, 0, 0, 0, 0},
}};

// The path of the symmetric key file: not one of the twelve values that the applet reads and
// writes as a set, so that hives without it stay complete and the applet never writes it.
// Absent or blank: no authentication. The buffer holds the longest Linux path and its zero.
inline constexpr Setting kKeyFileSetting = {
    "KeyFile", RegType::kSz, nullptr, &Configuration::key_file, 0, nullptr, 4096, false, true, true, 0, 0, 0, 0};

// The setting with this value path (compared without regard to ASCII case), or nullptr.
const Setting* FindSetting(std::string_view path);

// The setting with exactly this value path, for constants taken from the table; a path that
// is not in the table does not compile where a constant is required.
constexpr const Setting& SettingOf(std::string_view path) {
  for (const Setting& setting : kSettings) {
    if (setting.path == path) return setting;
  }
  throw "no such setting";
}

// Whether `value` lies in the valid range of a number setting (always true without a range).
bool InValidRange(const Setting& setting, uint32_t value);
// Whether `text` lies in the valid range of a text setting: at most max characters (bytes of
// UTF-8 here), no limit when max is 0.
bool InValidRange(const Setting& setting, std::string_view text);
// The value the services take for a stored number: the nearest one in their range (`value`
// itself without one). `lowest`, when not 0, lowers the range's lower end (tests that cannot
// wait 16 s per cycle).
uint32_t ServiceValue(const Setting& setting, uint32_t value, uint32_t lowest = 0);

}  // namespace chron
