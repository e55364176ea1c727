#include "engine/host_addresses.h"

#include <algorithm>

namespace chron {

namespace {

bool Contains(const std::vector<uint32_t>& addresses, uint32_t address) {
  return std::find(addresses.begin(), addresses.end(), address) != addresses.end();
}

}  // namespace

void HostAddresses::Refresh(platform::Network& network) {
  const auto now = std::chrono::steady_clock::now();
  if (read_ && now - read_at_ < max_age) return;
  own_.clear();
  broadcasts_.clear();
  for (const platform::InterfaceAddress& row : network.InterfaceAddresses()) {
    own_.push_back(row.address);
    if (row.broadcast != 0) broadcasts_.push_back(row.broadcast);
  }
  read_ = true;
  read_at_ = now;
}

bool HostAddresses::IsOwn(platform::Network& network, uint32_t address) {
  Refresh(network);
  return Contains(own_, address);
}

bool HostAddresses::IsDirectedBroadcast(platform::Network& network, uint32_t address) {
  Refresh(network);
  return Contains(broadcasts_, address);
}

bool IsAnswerableSource(HostAddresses& host, platform::Network& network, const platform::SocketAddress& from) {
  if (from.family == platform::kAfInet6) {
    // IPv6 knows no broadcast: the unspecified address (::) and multicast (ff00::/8) remain.
    const bool unspecified = from.address6 == platform::Ipv6Bytes{};
    return from.port != 0 && !unspecified && from.address6[0] != 0xFF;
  }
  const uint32_t address = platform::NetworkToHost32(from.address);
  const bool multicast = (address >> 28) == 0xE;  // 224.0.0.0/4
  if (from.port == 0 || address == 0 || address == 0xFFFFFFFFu || multicast) return false;
  return !host.IsDirectedBroadcast(network, from.address);
}

}  // namespace chron
