// The adapter table and the sockets of a running service: one per adapter row, and the IPv6
// socket. Filled by start-up; afterwards only the receive-loop thread changes them, when the
// system's addresses change.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>

#include "engine/host_addresses.h"
#include "platform/network.h"

namespace chron {

inline constexpr int kMaxAdapters = 64;
inline constexpr uint16_t kNtpPort = 123;
inline constexpr int kAdapterNameSize = 80;  // 79 characters and the terminating zero
inline constexpr int kIpv6Request = -1;      // ClientRuntime::request_adapter: the IPv6 socket

struct AdapterEntry {
  bool in_use = false;
  std::string name;                 // at most 79 bytes; "<unbekannt>" from SNMP
  platform::SocketAddress address;  // port 123 once start-up has run
  std::unique_ptr<platform::UdpSocket> socket;
};
using AdapterTable = std::array<AdapterEntry, kMaxAdapters>;

struct Sockets {
  AdapterTable adapters;
  // With the value "IPv6" set: the one IPv6 socket, on the unspecified address and port 123. It
  // answers on every IPv6 address of the host (each reply from the address asked) and carries
  // the client's requests to an IPv6 time server. Opened at start-up, never changed after.
  std::unique_ptr<platform::UdpSocket> ipv6_socket;
  // Read and refreshed by the receive-loop thread alone.
  HostAddresses host_addresses;

  // Follows a change of the system's addresses: discovers the adapters again and opens and
  // closes sockets to match (set by start-up). Run by the receive-loop thread, which alone
  // changes the table after start-up: it holds StopControl::mutex and `adapters_mutex` while
  // it does.
  std::function<void()> follow_addresses;
  std::atomic<bool> addresses_changed{false};
  // Held shared by the threads beside the receive loop while they use the table's sockets.
  std::shared_mutex adapters_mutex;
};

}  // namespace chron
