#include "service/adapters.h"

#include <algorithm>
#include <string>

#include "config/configuration.h"
#include "messages/report.h"
#include "platform/ascii_case.h"

namespace chron {
namespace {

// Cuts `name` to at most 79 bytes without splitting a UTF-8 sequence.
std::string_view ShortenName(std::string_view name) {
  const size_t limit = kAdapterNameSize - 1;
  if (name.size() <= limit) return name;
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

}  // namespace

void ClearAdapterTable(AdapterTable& table) {
  for (AdapterEntry& entry : table) entry.in_use = false;
}

bool AddAdapter(AdapterTable& table, std::string_view name, uint32_t address) {
  for (AdapterEntry& entry : table) {
    if (entry.in_use) continue;
    entry.in_use = true;
    entry.name = std::string(ShortenName(name));
    entry.address = platform::SocketAddress{platform::kAfInet, 0, address};
    return true;
  }
  return false;
}

int CountAdapters(const AdapterTable& table) {
  return static_cast<int>(std::count_if(table.begin(), table.end(), [](const AdapterEntry& e) { return e.in_use; }));
}

bool DiscoverAdapters(const DiscoverySource& source, AdapterTable& rows, const RegistryDiscovery& registry_method) {
  std::string type = source.config.ip_query_type;
  TrimBlanks(&type);
  if (platform::EqualsIgnoringCase(type, "SNMP")) return DiscoverAdaptersBySnmp(source, rows);
  if (platform::EqualsIgnoringCase(type, "REGISTRY")) return registry_method(source, rows);
  ReportMessage(msg::kIpQueryTypeInvalid, {type});
  return false;
}

}  // namespace chron
