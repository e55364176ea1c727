// Reading and writing the configuration record through the settings table.
#include "config/configuration.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "config/settings.h"

namespace chron {
namespace {

// Splits a value path into the key below HKEY_LOCAL_MACHINE and the value name. Without a
// backslash the value belongs to the product key itself, named without its trailing backslash.
void SplitValuePath(std::string_view path, std::string* key, std::string_view* name) {
  size_t slash = path.rfind('\\');
  if (slash == std::string_view::npos) {
    *key = std::string(kProductKey.substr(0, kProductKey.size() - 1));
    *name = path;
  } else {
    *key = std::string(kProductKey) + std::string(path.substr(0, slash));
    *name = path.substr(slash + 1);
  }
}

}  // namespace

bool ReadRegistryValue(platform::Registry& registry, std::string_view path, void* buffer, uint32_t size,
                       platform::RegType* type) {
  std::string key;
  std::string_view name;
  SplitValuePath(path, &key, &name);
  if (registry.OpenKey(key) != platform::kRegSuccess) return false;
  // The type is not examined: whatever is stored and fits the buffer counts as read.
  return registry.QueryValue(key, name, type, buffer, &size) == platform::kRegSuccess;
}

namespace {

bool IsText(platform::RegType type) {
  using platform::RegType;
  return type == RegType::kSz || type == RegType::kExpandSz || type == RegType::kMultiSz;
}

}  // namespace

// A number is taken from the first (up to) four stored bytes, little-endian, in a word that
// starts at zero: REG_DWORD 0x2a -> 42; REG_BINARY 2a -> 42. Data of more than four bytes does
// not fit the four-byte buffer and counts as absent. A text is no number, however it reads as
// bytes (a hand-edited "64" would be 0x3436 = 13366 s, "0" would be on): it counts as absent.
bool ReadRegistryDword(platform::Registry& registry, std::string_view path, uint32_t* field, uint32_t fallback,
                       std::optional<std::string>* text) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  platform::RegType type = platform::RegType::kNone;
  bool read = ReadRegistryValue(registry, path, bytes, sizeof bytes, &type);
  if (IsText(type)) {
    if (text != nullptr) ReadRegistryString(registry, path, &text->emplace(), 8192, "");
    read = false;
  }
  if (!read) {
    *field = fallback;
    return false;
  }
  *field = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  return true;
}

// The text ends at the first zero byte, or at the end of the buffer when the stored data
// has no terminating zero.
bool ReadRegistryString(platform::Registry& registry, std::string_view path, std::string* field, uint32_t buffer_size,
                        const char* fallback) {
  std::vector<char> buffer(buffer_size, '\0');
  if (!ReadRegistryValue(registry, path, buffer.data(), buffer_size)) {
    if (fallback != nullptr) *field = fallback;
    return false;
  }
  *field = std::string(buffer.data(), ::strnlen(buffer.data(), buffer.size()));
  return true;
}

void TrimBlanks(std::string* text) {
  size_t first = text->find_first_not_of(" \t");
  if (first == std::string::npos) {
    text->clear();
    return;
  }
  size_t last = text->find_last_not_of(" \t");
  *text = text->substr(first, last - first + 1);
}

bool ReadConfiguration(platform::Registry& registry, Configuration* config, ConfigSubset subset,
                       std::vector<SettingNotice>* notices) {
  *config = Configuration{};
  bool all_present = true;
  for (const Setting& setting : kSettings) {
    if (subset == ConfigSubset::kClientOnly && !setting.client) continue;
    if (setting.number != nullptr) {
      uint32_t& field = config->*setting.number;
      std::optional<std::string> text;
      all_present = ReadRegistryDword(registry, setting.path, &field, setting.default_number, &text) && all_present;
      if (notices != nullptr && text) notices->push_back({SettingNotice::Kind::kText, setting.path, 0, *text, field});
    } else {
      std::string& field = config->*setting.text;
      all_present =
          ReadRegistryString(registry, setting.path, &field, setting.buffer_size, setting.default_text) && all_present;
      if (setting.trimmed) TrimBlanks(&field);
    }
  }
  return all_present;
}

void ReadIpv6Setting(platform::Registry& registry, Configuration* config) {
  ReadRegistryDword(registry, "IPv6", &config->ipv6, 0);
}

void ReadDisciplineSetting(platform::Registry& registry, Configuration* config) {
  ReadRegistryDword(registry, "Client\\Discipline", &config->client_discipline, 0);
}

void ReadWaitForNetworkSetting(platform::Registry& registry, Configuration* config) {
  ReadRegistryDword(registry, "WaitForNetwork", &config->wait_for_network, 0);
}

namespace {

// A list's text: absent, or whole (its size asked first, so that no buffer cuts a word short
// and turns "10.0.0.12" into "10.0.0.1"). A value that is there but no text, or that cannot be
// read, gives a text no list takes: a list meant to close must not open by its absence.
std::optional<std::string> ReadListSetting(platform::Registry& registry, std::string_view path) {
  std::string key;
  std::string_view name;
  SplitValuePath(path, &key, &name);
  platform::RegType type = platform::RegType::kNone;
  uint32_t size = 0;
  if (registry.OpenKey(key) != platform::kRegSuccess ||
      registry.QueryValue(key, name, &type, nullptr, &size) != platform::kRegSuccess) {
    return std::nullopt;
  }
  if (!IsText(type)) return std::string("(kein Text)");
  std::vector<char> buffer(size + 1, '\0');
  if (registry.QueryValue(key, name, nullptr, buffer.data(), &size) != platform::kRegSuccess) {
    return std::string("(unlesbar)");
  }
  return std::string(buffer.data(), ::strnlen(buffer.data(), size));
}

}  // namespace

void ReadProtectionSettings(platform::Registry& registry, Configuration* config, ConfigSubset subset) {
  config->client_broadcast_from = ReadListSetting(registry, "Client\\BroadcastFrom");
  if (subset == ConfigSubset::kClientOnly) return;
  config->server_allow = ReadListSetting(registry, "Server\\Allow");
  config->server_deny = ReadListSetting(registry, "Server\\Deny");
  const Configuration defaults;
  ReadRegistryDword(registry, "Server\\RateLimit", &config->server_rate_limit, defaults.server_rate_limit);
  ReadRegistryDword(registry, "Server\\RateInterval", &config->server_rate_interval, defaults.server_rate_interval);
  ReadRegistryDword(registry, "Server\\RateBurst", &config->server_rate_burst, defaults.server_rate_burst);
  ReadRegistryDword(registry, "Server\\RateLeak", &config->server_rate_leak, defaults.server_rate_leak);
  ReadRegistryDword(registry, "Server\\RateCeiling", &config->server_rate_ceiling, defaults.server_rate_ceiling);
}

void ReadNtsSettings(platform::Registry& registry, Configuration* config, ConfigSubset subset) {
  ReadRegistryDword(registry, "Client\\NTS", &config->client_nts, 0);
  // A path stored as no text names no file: the driver that opens it reports so.
  const auto path = [&](std::string_view name, std::string* field) {
    *field = ReadListSetting(registry, name).value_or("");
    TrimBlanks(field);
  };
  path("NtsTrustedCertificates", &config->nts_trusted_certificates);
  if (subset == ConfigSubset::kClientOnly) return;
  path("NtsServerCertificate", &config->nts_server_certificate);
  path("NtsServerKey", &config->nts_server_key);
}

void KeepInValidRanges(Configuration* config, ConfigSubset subset, std::vector<SettingNotice>* notices,
                       uint32_t lowest) {
  for (const Setting& setting : kSettings) {
    if (setting.number == nullptr) continue;
    if (subset == ConfigSubset::kClientOnly && !setting.client) continue;
    uint32_t& field = config->*setting.number;
    const uint32_t used = ServiceValue(setting, field, lowest);
    if (used == field) continue;
    notices->push_back({SettingNotice::Kind::kOutOfRange, setting.path, field, "", used});
    field = used;
  }
}

bool WriteRegistryValue(platform::Registry& registry, std::string_view path, platform::RegType type, const void* data,
                        uint32_t size) {
  std::string key;
  std::string_view name;
  SplitValuePath(path, &key, &name);
  if (registry.CreateKey(key) != platform::kRegSuccess) return false;
  return registry.SetValue(key, name, type, data, size) == platform::kRegSuccess;
}

namespace {

// One value of the table as `config` holds it (a switch as 0 or 1): a number as REG_DWORD
// (4 bytes, little-endian), a text as REG_SZ with its zero. Creates its key where missing.
platform::RegStatus WriteSetting(platform::Registry& registry, const Setting& setting, const Configuration& config) {
  std::string key;
  std::string_view name;
  SplitValuePath(setting.path, &key, &name);
  const platform::RegStatus created = registry.CreateKey(key);
  if (created != platform::kRegSuccess) return created;
  if (setting.number != nullptr) {
    uint32_t value = config.*setting.number;
    if (setting.boolean) value = value != 0 ? 1 : 0;
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    return registry.SetValue(key, name, platform::RegType::kDword, bytes, 4);
  }
  const std::string& text = config.*setting.text;
  return registry.SetValue(key, name, platform::RegType::kSz, text.c_str(), static_cast<uint32_t>(text.size() + 1));
}

// Every value of the table in table order; every write is attempted. True when all succeeded.
bool WriteEveryValue(platform::Registry& registry, const Configuration& config) {
  bool all_written = true;
  for (const Setting& setting : kSettings) {
    all_written = WriteSetting(registry, setting, config) == platform::kRegSuccess && all_written;
  }
  return all_written;
}

}  // namespace

// The values are written as one change of the registry: two saves at once do not interleave
// their values, and a save that cannot be stored leaves the earlier configuration whole.
bool WriteConfiguration(platform::Registry& registry, const Configuration& config) {
  bool all_written = false;
  platform::RegStatus stored = registry.WriteTogether([&] { all_written = WriteEveryValue(registry, config); });
  return all_written && stored == platform::kRegSuccess;
}

platform::RegStatus WriteAbsentDefaults(platform::Registry& registry, std::vector<std::string_view>* written) {
  const Configuration defaults;
  platform::RegStatus failure = platform::kRegSuccess;
  platform::RegStatus stored = registry.WriteTogether([&] {
    for (const Setting& setting : kSettings) {
      std::string key;
      std::string_view name;
      SplitValuePath(setting.path, &key, &name);
      uint32_t size = 0;
      platform::RegStatus found = registry.OpenKey(key);
      if (found == platform::kRegSuccess) found = registry.QueryValue(key, name, nullptr, nullptr, &size);
      if (found != platform::kRegFileNotFound) {
        // Present (or the store cannot be read: then nothing is written).
        if (found != platform::kRegSuccess && found != platform::kRegMoreData && failure == platform::kRegSuccess) {
          failure = found;
        }
        continue;
      }
      const platform::RegStatus status = WriteSetting(registry, setting, defaults);
      if (status == platform::kRegSuccess && written != nullptr) written->push_back(setting.path);
      if (status != platform::kRegSuccess && failure == platform::kRegSuccess) failure = status;
    }
  });
  return failure != platform::kRegSuccess ? failure : stored;
}

}  // namespace chron
