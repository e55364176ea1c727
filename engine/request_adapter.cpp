#include "engine/request_adapter.h"

namespace chron {

int RequestAdapter(const AdapterTable& adapters, platform::Network& network, uint32_t server) {
  uint32_t source = 0;
  if (network.RouteSource(server, &source) || source == 0) return 0;
  for (int row = 0; row < kMaxAdapters; ++row) {
    const AdapterEntry& entry = adapters[static_cast<size_t>(row)];
    if (entry.in_use && entry.socket && entry.address.address == source) return row;
  }
  return 0;
}

}  // namespace chron
