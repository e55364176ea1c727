// UDP sockets (IPv4, and IPv6 beside it), the wait over them, name resolution and the interface
// address table. Addresses and ports in SocketAddress are in network byte order, as in a sockaddr_in.
// Operations return a std::error_code (error_text.h): none, or the system's error (an errno value
// on Linux, a Winsock code on Windows).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/address.h"

namespace chron::platform {

// EAFNOSUPPORT, returned where a system offers no IPv6.
inline std::error_code NoIpv6() { return std::make_error_code(std::errc::address_family_not_supported); }

// The address as traces show it: dotted for IPv4 (DottedAddress), the usual IPv6 text
// (inet_ntop) with "%interface" for a scoped address.
std::string AddressText(const SocketAddress& address);

// inet_pton of IPv4 ("192.0.2.1", four decimal numbers) or IPv6 text ("2001:db8::1", no zone):
// true with `address` holding the family and the address (the port and scope left 0), false for
// any other text.
bool ParseAddressText(std::string_view text, SocketAddress* address);

// What a read tells about a datagram besides its bytes.
struct ReceivedFrom {
  SocketAddress source;
  // Arrived as a broadcast: addressed to a broadcast (or multicast) address, not to this host's
  // own address. A datagram sent straight to the host is no broadcast, whatever its content.
  bool broadcast = false;
  // Longer than the caller's buffer: only its start was read (see UdpSocket::ReceiveFrom).
  bool truncated = false;
};

// One datagram of a batch to send: `size` bytes at `data` (which the caller keeps) to `to`.
struct OutgoingDatagram {
  const void* data = nullptr;
  size_t size = 0;
  SocketAddress to;
};

class UdpSocket {
 public:
  virtual ~UdpSocket() = default;
  // SO_BROADCAST: allows sending to broadcast addresses.
  virtual std::error_code EnableBroadcast() = 0;
  // Binds to `local` (an adapter's own address and port). With `accept_broadcasts` the socket
  // also receives the broadcasts that reach that adapter's interface; on Linux this takes extra
  // receive-only descriptors, invisible to the caller.
  virtual std::error_code Bind(const SocketAddress& local, bool accept_broadcasts) = 0;
  virtual std::error_code SendTo(const void* data, size_t size, const SocketAddress& to, size_t* sent) = 0;
  // Sends the datagrams in order, on Linux with one system call (sendmmsg) for as many as the
  // system takes. `*sent` receives how many went out before the first failure, whose error is
  // returned (none: all went out). Elsewhere one SendTo each.
  virtual std::error_code SendBatch(const OutgoingDatagram* datagrams, size_t count, size_t* sent) {
    for (*sent = 0; *sent < count; ++*sent) {
      size_t bytes = 0;
      const OutgoingDatagram& d = datagrams[*sent];
      if (std::error_code error = SendTo(d.data, d.size, d.to, &bytes)) return error;
    }
    return {};
  }
  // How many datagrams ReceiveFrom hands out without asking the system again (on Linux the rest
  // of one recvmmsg); 0 where each read asks the system.
  virtual size_t Fetched() const { return 0; }
  // Sends like SendTo and asks the system to record when the datagram leaves the host (on
  // Linux the kernel's software transmit stamp, taken as the network device takes the
  // datagram). LatestDeparture then tells that time. Where the system records no departures
  // this is SendTo.
  virtual std::error_code SendToStamped(const void* data, size_t size, const SocketAddress& to, size_t* sent) {
    return SendTo(data, size, to, sent);
  }
  // When the datagram of the latest SendToStamped left, in nanoseconds since 1970 on the system
  // clock (as an arrival), or empty while the system has reported none: before it left, after a
  // failed send, or where the system records no departures. Callable from any thread.
  virtual std::optional<int64_t> LatestDeparture() { return std::nullopt; }
  // Reads one datagram. A datagram longer than `capacity` is consumed and fails with EMSGSIZE
  // (WSAEMSGSIZE on Windows); `from` is still filled in with `truncated` set, the buffer holds the
  // datagram's first `capacity` bytes and `received` its full length where the system tells it
  // (Linux), otherwise `capacity`. `arrival` (may be null) receives the time at which the system
  // took the datagram in, in nanoseconds since 1970 on the system clock (Clock::FromSystemTime
  // moves it onto another clock), or is left empty where the system records none.
  virtual std::error_code ReceiveFrom(void* buffer, size_t capacity, size_t* received, ReceivedFrom* from,
                                      std::optional<int64_t>* arrival) = 0;
};

// Waits until one of a fixed set of sockets is readable; the cost of a wait does not grow
// with the number of sockets.
class SocketWaiter {
 public:
  virtual ~SocketWaiter() = default;
  // Blocks without time-out. On success `readable[i]` tells whether sockets[i] (as given to
  // Network::CreateWaiter) has a datagram waiting. No error, or the error.
  virtual std::error_code Wait(std::vector<bool>* readable) = 0;
  // Ends the Wait that blocks now, or the next one, and every later one: each returns at once without error,
  // with no more than the sockets that are readable marked (none when none are). Like setting a
  // manual-reset event the wait also watches; callable from any thread while the waiter lives.
  // A stop request uses it beside its wake-up datagram, which a vanished address or a firewall
  // can lose.
  virtual void Wake() = 0;
  // Ends the Wait that blocks now, or the next one, once: it returns without error with no more than the
  // readable sockets marked. Callable from any thread while the waiter lives. Where the system
  // offers no way, nothing.
  virtual void Nudge() {}
};

// Watches the system's IPv4 addresses and network links while it lives (see
// Network::WatchAddresses).
class AddressWatch {
 public:
  virtual ~AddressWatch() = default;
};

struct InterfaceAddress {
  uint32_t address = 0;          // network byte order
  uint32_t broadcast = 0;        // network byte order; 0 when the interface has none
  std::string interface;         // interface name
  uint32_t interface_index = 0;  // the system's interface number (MIB-II ifIndex); 0 unknown
};

// An IPv6 address of the host (getifaddrs / GetAdaptersAddresses).
struct InterfaceAddress6 {
  Ipv6Bytes address{};
  uint32_t scope_id = 0;  // interface number of a link-local address, 0 for a wider scope
  std::string interface;  // interface name
};

class Network {
 public:
  virtual ~Network() = default;
  // Winsock start-up analogue; no error on success.
  virtual std::error_code Startup() = 0;
  virtual std::error_code CreateUdpSocket(std::unique_ptr<UdpSocket>* socket) = 0;
  // An IPv6 UDP socket for IPv6 alone (IPV6_V6ONLY), so that it shares port 123 with the IPv4
  // sockets. Bound to the unspecified address (a SocketAddress of family kAfInet6, all zero) it
  // receives on every IPv6 address of the host, present and future, tells each datagram's local
  // address in `local6` of its source, and sends a reply from it. EAFNOSUPPORT where the system
  // has no IPv6.
  virtual std::error_code CreateUdpSocket6(std::unique_ptr<UdpSocket>* /*socket*/) { return NoIpv6(); }
  virtual std::unique_ptr<SocketWaiter> CreateWaiter(const std::vector<UdpSocket*>& sockets) = 0;
  // gethostbyname: first IPv4 address of `name`. No error, or the error, whose message() is the
  // resolver's text.
  virtual std::error_code ResolveHost(std::string_view name, uint32_t* address) = 0;
  // getaddrinfo for any family: the first address of `name` in the system's order (RFC 6724),
  // IPv6 or IPv4, port 123. A numeric IPv6 address may carry a zone ("fe80::1%eth0"). No error,
  // or the error as ResolveHost tells it.
  virtual std::error_code ResolveAny(std::string_view /*name*/, SocketAddress* /*address*/) { return NoIpv6(); }
  // The interface address table of the system (MIB-II ipAddrTable rows), any order. On Windows
  // the SNMP agent inetmib1.dll serves it; where that cannot be loaded, the adapter list
  // (adapter_list.h).
  virtual std::vector<InterfaceAddress> InterfaceAddresses() = 0;
  // Once, after InterfaceAddresses found the SNMP agent unloadable and read the adapter list
  // instead: the system's error of loading it. No error before, after that once, and where no
  // agent is used.
  virtual std::error_code TakeSnmpAgentFailure() { return {}; }
  // The system's IPv6 addresses, any order.
  virtual std::vector<InterfaceAddress6> InterfaceAddresses6() { return {}; }
  // The local address (network byte order) the system sends from to reach `destination` (network
  // byte order), as its routing table chooses it: an unbound UDP socket connected to the
  // destination reads its own address. Nothing is sent. No error, or the error where the system
  // cannot tell (no route).
  virtual std::error_code RouteSource(uint32_t destination, uint32_t* source) = 0;
  // Calls `changed`, on a thread of the watch's own, soon after an IPv4 address is added or
  // removed or a link changes, until the watch is destroyed; a burst of changes may come as one
  // call. Null where the system tells of no changes.
  virtual std::unique_ptr<AddressWatch> WatchAddresses(const std::function<void()>& /*changed*/) { return nullptr; }
};

Network& SystemNetwork();

}  // namespace chron::platform
