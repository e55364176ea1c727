#include "engine/host_addresses.h"

#include <algorithm>
#include <initializer_list>

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

namespace {

// The IPv4 rule: not from a zero, limited or directed broadcast, or multicast address.
bool IsAnswerableIpv4(HostAddresses& host, platform::Network& network, uint32_t address_n) {
  const uint32_t address = platform::NetworkToHost32(address_n);
  const bool multicast = (address >> 28) == 0xE;  // 224.0.0.0/4
  if (address == 0 || address == 0xFFFFFFFFu || multicast) return false;
  return !host.IsDirectedBroadcast(network, address_n);
}

}  // namespace

std::optional<uint32_t> EmbeddedIpv4(const platform::Ipv6Bytes& a) {
  const auto starts = [&a](std::initializer_list<uint8_t> prefix) {
    return std::equal(prefix.begin(), prefix.end(), a.begin());
  };
  const auto take = [&a](size_t i, size_t j, size_t k, size_t l) {
    return platform::HostToNetwork32(uint32_t{a[i]} << 24 | uint32_t{a[j]} << 16 | uint32_t{a[k]} << 8 | a[l]);
  };
  // ::ffff:0:0/96 (mapped) and 64:ff9b::/96 (translated): the last 32 bits.
  if (starts({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF}) || starts({0, 0x64, 0xFF, 0x9B, 0, 0, 0, 0, 0, 0, 0, 0})) {
    return take(12, 13, 14, 15);
  }
  // 64:ff9b:1::/48 (local-use translation): bits 48-63 and 72-87, around the zero u-octet.
  if (starts({0, 0x64, 0xFF, 0x9B, 0, 1})) return take(6, 7, 9, 10);
  return std::nullopt;
}

bool IsAnswerableSource(HostAddresses& host, platform::Network& network, const platform::SocketAddress& from) {
  if (from.port == 0) return false;
  if (from.family != platform::kAfInet6) return IsAnswerableIpv4(host, network, from.address);
  // IPv6 knows no broadcast: the unspecified address (::), loopback (::1) and multicast
  // (ff00::/8) remain. A source carrying an IPv4 address is judged by it, and its loopback
  // refused too: on the IPv6-only socket a real IPv4 peer never arrives mapped.
  const platform::Ipv6Bytes loopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  if (from.address6 == platform::Ipv6Bytes{} || from.address6 == loopback || from.address6[0] == 0xFF) return false;
  const std::optional<uint32_t> v4 = EmbeddedIpv4(from.address6);
  if (!v4) return true;
  return (platform::NetworkToHost32(*v4) >> 24) != 127 && IsAnswerableIpv4(host, network, *v4);
}

}  // namespace chron
