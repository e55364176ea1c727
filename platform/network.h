// IPv4 UDP sockets, the wait over them, name resolution and the interface address table.
// Addresses and ports in SocketAddress are in network byte order, as in a sockaddr_in.
// Operations return 0 or an error number (errno values on Linux) as a value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chron::platform {

inline constexpr uint16_t kAfInet = 2;
inline constexpr uint32_t kInaddrNone = 0xFFFFFFFFu;  // inet_addr's answer for text that is no address

struct SocketAddress {
  uint16_t family = kAfInet;
  uint16_t port = 0;     // network byte order
  uint32_t address = 0;  // network byte order
};

uint16_t HostToNetwork16(uint16_t value);
uint32_t HostToNetwork32(uint32_t value);
inline uint16_t NetworkToHost16(uint16_t value) { return HostToNetwork16(value); }
inline uint32_t NetworkToHost32(uint32_t value) { return HostToNetwork32(value); }

// inet_ntoa: dotted form of an address in network byte order.
std::string DottedAddress(uint32_t address);
// inet_addr: address in network byte order, or kInaddrNone (also for "255.255.255.255").
uint32_t ParseDottedAddress(std::string_view text);

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
  virtual int EnableBroadcast() = 0;
  // Binds to `local` (an adapter's own address and port). With `accept_broadcasts` the socket
  // also receives the broadcasts that reach that adapter's interface; on Linux this takes extra
  // receive-only descriptors, invisible to the caller.
  virtual int Bind(const SocketAddress& local, bool accept_broadcasts) = 0;
  virtual int SendTo(const void* data, size_t size, const SocketAddress& to, size_t* sent) = 0;
  // Sends the datagrams in order, on Linux with one system call (sendmmsg) for as many as the
  // system takes. `*sent` receives how many went out before the first failure, whose error is
  // returned (0: all went out). Elsewhere one SendTo each.
  virtual int SendBatch(const OutgoingDatagram* datagrams, size_t count, size_t* sent) {
    for (*sent = 0; *sent < count; ++*sent) {
      size_t bytes = 0;
      const OutgoingDatagram& d = datagrams[*sent];
      if (const int error = SendTo(d.data, d.size, d.to, &bytes); error != 0) return error;
    }
    return 0;
  }
  // How many datagrams ReceiveFrom hands out without asking the system again (on Linux the rest
  // of one recvmmsg); 0 where each read asks the system.
  virtual size_t Fetched() const { return 0; }
  // Sends like SendTo and asks the system to record when the datagram leaves the host (on
  // Linux the kernel's software transmit stamp, taken as the network device takes the
  // datagram). LatestDeparture then tells that time. Where the system records no departures
  // this is SendTo.
  virtual int SendToStamped(const void* data, size_t size, const SocketAddress& to, size_t* sent) {
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
  virtual int ReceiveFrom(void* buffer, size_t capacity, size_t* received, ReceivedFrom* from,
                          std::optional<int64_t>* arrival) = 0;
};

// Waits until one of a fixed set of sockets is readable; the cost of a wait does not grow
// with the number of sockets.
class SocketWaiter {
 public:
  virtual ~SocketWaiter() = default;
  // Blocks without time-out. On success `readable[i]` tells whether sockets[i] (as given to
  // Network::CreateWaiter) has a datagram waiting. Returns 0 or an error number.
  virtual int Wait(std::vector<bool>* readable) = 0;
  // Ends the Wait that blocks now, or the next one, and every later one: each returns 0 at once,
  // with no more than the sockets that are readable marked (none when none are). Like setting a
  // manual-reset event the wait also watches; callable from any thread while the waiter lives.
  // A stop request uses it beside its wake-up datagram, which a vanished address or a firewall
  // can lose.
  virtual void Wake() = 0;
  // Ends the Wait that blocks now, or the next one, once: it returns 0 with no more than the
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

class Network {
 public:
  virtual ~Network() = default;
  // Winsock start-up analogue; 0 on success.
  virtual int Startup() = 0;
  virtual int CreateUdpSocket(std::unique_ptr<UdpSocket>* socket) = 0;
  virtual std::unique_ptr<SocketWaiter> CreateWaiter(const std::vector<UdpSocket*>& sockets) = 0;
  // gethostbyname: first IPv4 address of `name`. Returns 0, or an error number with its text.
  virtual int ResolveHost(std::string_view name, uint32_t* address, std::string* error_text) = 0;
  // The interface address table of the system (MIB-II ipAddrTable rows), any order.
  virtual std::vector<InterfaceAddress> InterfaceAddresses() = 0;
  // The local address (network byte order) the system sends from to reach `destination` (network
  // byte order), as its routing table chooses it: an unbound UDP socket connected to the
  // destination reads its own address. Nothing is sent. Returns 0, or an error number where the
  // system cannot tell (no route).
  virtual int RouteSource(uint32_t destination, uint32_t* source) = 0;
  // Calls `changed`, on a thread of the watch's own, soon after an IPv4 address is added or
  // removed or a link changes, until the watch is destroyed; a burst of changes may come as one
  // call. Null where the system tells of no changes.
  virtual std::unique_ptr<AddressWatch> WatchAddresses(const std::function<void()>& /*changed*/) { return nullptr; }
};

Network& SystemNetwork();

}  // namespace chron::platform
