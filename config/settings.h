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
  std::string_view path;                       // value path below kProductKey, e.g. "Client\\PollInterval"
  platform::RegType type;                      // kDword or kSz
  uint32_t Configuration::*number = nullptr;   // record field of a kDword setting, else nullptr
  std::string Configuration::*text = nullptr;  // record field of a kSz setting, else nullptr
  uint32_t default_number = 0;
  const char* default_text = nullptr;  // default of a kSz setting
  uint32_t buffer_size = 4;            // bytes the readers offer: 4 for numbers; texts include the zero
  bool boolean = false;                // written as 0 or 1
  bool trimmed = false;                // blanks and tabs removed after reading
  bool client = false;                 // read by the client-only program too
  // Valid range: numbers min..max (seconds), texts at most max characters; 0/0 = none. The
  // applet accepts nothing outside it.
  uint32_t min = 0;
  uint32_t max = 0;
  // The services' range of a number, the one their warning names: a stored number outside it
  // is taken as the nearest one inside (intervals: 0 would make their loops spin); 0/0 = they
  // take any number as stored.
  uint32_t service_min = 0;
  uint32_t service_max = 0;
};

using platform::RegType;

inline constexpr std::array<Setting, 12> kSettings = {{
    {.path = "Client\\Active",
     .type = RegType::kDword,
     .number = &Configuration::client_active,
     .default_number = 1,
     .boolean = true,
     .client = true},
    {.path = "Client\\Broadcast",
     .type = RegType::kDword,
     .number = &Configuration::client_broadcast,
     .default_number = 1,
     .boolean = true,
     .client = true},
    {.path = "Client\\RunOnce",
     .type = RegType::kDword,
     .number = &Configuration::client_run_once,
     .boolean = true,
     .client = true},
    {.path = "Client\\MaxDiffSecond",
     .type = RegType::kDword,
     .number = &Configuration::client_max_diff_second,
     .default_number = 180,
     .client = true,
     .min = 1,
     .max = 7200},
    {.path = "Client\\MaxDiffSecondActive",
     .type = RegType::kDword,
     .number = &Configuration::client_max_diff_second_active,
     .boolean = true,
     .client = true},
    {.path = "Client\\PollInterval",
     .type = RegType::kDword,
     .number = &Configuration::client_poll_interval,
     .default_number = 64,
     .client = true,
     .min = 16,
     .max = 16384,
     .service_min = 16,
     .service_max = 16384},
    {.path = "Client\\TimeSource",
     .type = RegType::kSz,
     .text = &Configuration::client_time_source,
     .default_text = "",
     .buffer_size = 8192,
     .trimmed = true,
     .client = true,
     .max = 4095},
    {.path = "Server\\Active", .type = RegType::kDword, .number = &Configuration::server_active, .boolean = true},
    {.path = "Server\\Broadcast",
     .type = RegType::kDword,
     .number = &Configuration::server_broadcast,
     .default_number = 1,
     .boolean = true},
    {.path = "Server\\BroadcastInterval",
     .type = RegType::kDword,
     .number = &Configuration::server_broadcast_interval,
     .default_number = kDefaultBroadcastIntervalS,
     .min = 16,
     .max = 16384,
     .service_min = 1,
     .service_max = 86400},
    {.path = "Server\\TimeSource",
     .type = RegType::kSz,
     .text = &Configuration::server_time_source,
     .default_text = "LOCAL",
     .buffer_size = 80},
    {.path = "IPQueryType",
     .type = RegType::kSz,
     .text = &Configuration::ip_query_type,
     .default_text = "SNMP",
     .buffer_size = 80,
     .trimmed = true,
     .client = true},
}};

// The path of the symmetric key file: not one of the twelve values that the applet reads and
// writes as a set, so that hives without it stay complete and the applet never writes it.
// Absent or blank: no authentication. The buffer holds the longest Linux path and its zero.
inline constexpr Setting kKeyFileSetting = {.path = "KeyFile",
                                            .type = RegType::kSz,
                                            .text = &Configuration::key_file,
                                            .buffer_size = 4096,
                                            .trimmed = true,
                                            .client = true};

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
