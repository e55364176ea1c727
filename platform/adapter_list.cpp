#include "platform/adapter_list.h"

#include <algorithm>

namespace chron::platform {

std::vector<InterfaceAddress> InterfaceTableFromAdapterList(const std::vector<AdapterListAddress>& rows) {
  std::vector<InterfaceAddress> table;
  for (const AdapterListAddress& row : rows) {
    if (!row.interface_up || (row.state != DadState::kPreferred && row.state != DadState::kDeprecated)) continue;
    InterfaceAddress entry;
    entry.address = row.address;
    if (row.prefix_length < 31) {
      const uint32_t host_bits = 0xFFFFFFFFu >> row.prefix_length;  // host byte order
      entry.broadcast = row.address | HostToNetwork32(host_bits);
    }
    entry.interface = row.interface;
    entry.interface_index = row.interface_index;
    table.push_back(std::move(entry));
  }
  auto host_order = [](const InterfaceAddress& row) { return NetworkToHost32(row.address); };
  std::stable_sort(table.begin(), table.end(),
                   [&](const auto& a, const auto& b) { return host_order(a) < host_order(b); });
  table.erase(
      std::unique(table.begin(), table.end(), [](const auto& a, const auto& b) { return a.address == b.address; }),
      table.end());
  return table;
}

}  // namespace chron::platform
