// An in-memory network for the engine's unit tests: sockets record what is done to them, tests
// push the datagrams they should receive, and the waiter blocks until one of its sockets has one.
// Every object of one FakeNetwork shares one lock, so the engine's threads may send while
// another thread waits; the test thread may inspect and push at any time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/network.h"

namespace chron::testing {

// Address (network byte order) of a dotted text, for building SocketAddress values in tests.
uint32_t Ip(std::string_view dotted);
// Socket address from a dotted address and a port in host byte order.
platform::SocketAddress Endpoint(std::string_view dotted, uint16_t port);
using platform::SameEndpoint;  // the same family, address and port

struct FakeBindCall {
  platform::SocketAddress local;
  bool accept_broadcasts = false;
};

struct FakeDatagram {
  std::vector<uint8_t> bytes;
  platform::SocketAddress peer;    // destination of a sent datagram, source of a received one
  std::optional<int64_t> arrival;  // the system's arrival stamp of a received one, if any
  bool stamped = false;            // sent with SendToStamped
};

struct FakeNetworkCore;  // the lock and condition variable shared by one network's objects

// The socket state that tests look at. The engine holds a UdpSocket that forwards here; the
// state outlives it, so tests may inspect a socket after the engine has dropped it.
class FakeUdpSocket : public platform::UdpSocket {
 public:
  explicit FakeUdpSocket(std::shared_ptr<FakeNetworkCore> core, size_t index);

  // platform::UdpSocket; each call is recorded even when it fails with an injected error.
  std::error_code EnableBroadcast() override;
  std::error_code Bind(const platform::SocketAddress& local, bool accept_broadcasts) override;
  // Records the datagram, then (unless an error is injected) delivers it to every socket of the
  // same network bound to exactly `to` (address and port), with this socket's bound address as
  // source: a zero-length datagram to a socket's own address wakes its waiter, as on a host.
  std::error_code SendTo(const void* data, size_t size, const platform::SocketAddress& to, size_t* sent) override;
  // SendTo, recorded as stamped; its departure is what StampDepartures set.
  std::error_code SendToStamped(const void* data, size_t size, const platform::SocketAddress& to,
                                size_t* sent) override;
  std::optional<int64_t> LatestDeparture() override;
  // Takes the oldest queued datagram (or queued error) with its arrival stamp, if it was pushed
  // with one. Empty queue: EAGAIN. A datagram longer than `capacity` is consumed and fails with
  // EMSGSIZE, its start read and its full length in `received`, as on Linux.
  std::error_code ReceiveFrom(void* buffer, size_t capacity, size_t* received, platform::ReceivedFrom* from,
                              std::optional<int64_t>* arrival) override;

  // --- test side -----------------------------------------------------------------------------
  // Queues an incoming datagram, with the system's arrival stamp `arrival` (nanoseconds since
  // 1970 on the system clock) or none, and wakes waiters.
  void Push(std::vector<uint8_t> bytes, const platform::SocketAddress& from,
            std::optional<int64_t> arrival = std::nullopt);
  // The same for a datagram that arrived as a broadcast (without a stamp).
  void PushBroadcast(std::vector<uint8_t> bytes, const platform::SocketAddress& from);
  // Queues a receive error: the socket reads as readable and the next ReceiveFrom returns it.
  void PushReceiveError(int error);
  // Injected errors (the system's numbers, platform::SystemError), in force until set back to 0.
  // SendTo with an error sends nothing.
  void FailEnableBroadcastWith(int error);
  void FailBindWith(int error);
  void FailSendWith(int error);
  // Makes SendTo report `sent` bytes instead of the full size (a short send); SIZE_MAX: off.
  void ShortSend(size_t sent);
  // The departure (nanoseconds since 1970 on the system clock) the system reports for each later
  // SendToStamped; none (the default): the system reports none.
  void StampDepartures(std::optional<int64_t> departure);

  // Called when the engine drops its handle; the socket then takes no loopback deliveries.
  void MarkClosed();

  size_t index() const { return index_; }  // creation order within the network, from 0
  bool closed() const;                     // the engine has destroyed its handle
  int enable_broadcast_calls() const;
  std::vector<FakeBindCall> binds() const;
  bool bound() const;                      // a Bind call succeeded
  platform::SocketAddress local() const;   // address of the last successful Bind
  std::vector<FakeDatagram> sent() const;  // successful sends, in order
  size_t pending() const;                  // queued incoming datagrams and errors
  // Blocks until at least `count` datagrams were sent or `timeout` passed; true if they were.
  bool WaitForSent(size_t count, std::chrono::milliseconds timeout) const;

 private:
  friend class FakeNetwork;
  friend class FakeWaiter;
  struct Incoming {
    int error = 0;
    FakeDatagram datagram;
    bool broadcast = false;
  };
  void Queue(std::vector<uint8_t> bytes, const platform::SocketAddress& from, std::optional<int64_t> arrival,
             bool broadcast);

  std::shared_ptr<FakeNetworkCore> core_;
  size_t index_;
  bool closed_ = false;
  int enable_broadcast_calls_ = 0;
  std::vector<FakeBindCall> binds_;
  bool bound_ = false;
  platform::SocketAddress local_{};
  std::vector<FakeDatagram> sent_;
  std::deque<Incoming> incoming_;
  int enable_broadcast_error_ = 0;
  int bind_error_ = 0;
  int send_error_ = 0;
  size_t short_send_ = SIZE_MAX;
  std::optional<int64_t> departure_stamp_;  // given to each stamped send
  std::optional<int64_t> latest_departure_;
};

// Reports sockets with queued datagrams as readable; blocks until one is, an error is injected
// or it is woken.
class FakeWaiter : public platform::SocketWaiter {
 public:
  FakeWaiter(std::shared_ptr<FakeNetworkCore> core, std::vector<std::shared_ptr<FakeUdpSocket>> sockets);
  std::error_code Wait(std::vector<bool>* readable) override;
  void Wake() override;  // counted in FakeNetwork::wake_calls()

 private:
  std::shared_ptr<FakeNetworkCore> core_;
  std::vector<std::shared_ptr<FakeUdpSocket>> sockets_;  // null for a socket of another kind
  bool woken_ = false;                                   // guarded by the core's lock
};

class FakeNetwork : public platform::Network {
 public:
  FakeNetwork();
  ~FakeNetwork() override;

  // platform::Network
  std::error_code Startup() override;
  std::error_code CreateUdpSocket(std::unique_ptr<platform::UdpSocket>* socket) override;
  std::unique_ptr<platform::SocketWaiter> CreateWaiter(const std::vector<platform::UdpSocket*>& sockets) override;
  std::error_code ResolveHost(std::string_view name, uint32_t* address) override;
  std::vector<platform::InterfaceAddress> InterfaceAddresses() override;
  // What SetSnmpAgentFailure gave, once.
  std::error_code TakeSnmpAgentFailure() override;
  // The source that SetRoute gave for `destination`; ENETUNREACH for any other.
  std::error_code RouteSource(uint32_t destination, uint32_t* source) override;

  // --- test side -----------------------------------------------------------------------------
  void FailStartupWith(int error);
  // The next CreateUdpSocket calls fail with `error` (0: succeed again).
  void FailCreateSocketWith(int error);
  // Every Wait (running ones are woken) returns `error` until set back to 0.
  void FailWaitsWith(int error);
  // Name -> address (network byte order) for ResolveHost; unknown names fail with
  // `resolve_error` and its text as message() (default -2 "Name or service not known", as
  // getaddrinfo), an error valid while the network lives.
  void AddHost(std::string name, uint32_t address);
  void SetResolveError(int error, std::string text);
  void SetInterfaceAddresses(std::vector<platform::InterfaceAddress> rows);
  // The interface table comes from the adapter list: the SNMP agent failed to load with `error`.
  void SetSnmpAgentFailure(int error);
  // The routing table's source address for `destination` (both network byte order).
  void SetRoute(uint32_t destination, uint32_t source);

  int startup_calls() const;
  int create_waiter_calls() const;
  int wake_calls() const;                           // Wake calls of every waiter of this network
  std::vector<std::string> resolved_names() const;  // names asked for, in order
  // Sockets in creation order; the pointers stay valid for the network's lifetime.
  std::vector<FakeUdpSocket*> sockets() const;
  FakeUdpSocket* socket(size_t index) const;
  // First socket whose last successful Bind was to exactly `local`; null if none.
  FakeUdpSocket* SocketBoundTo(const platform::SocketAddress& local) const;

 private:
  std::shared_ptr<FakeNetworkCore> core_;
  int startup_error_ = 0;
  int create_socket_error_ = 0;
  int startup_calls_ = 0;
  int create_waiter_calls_ = 0;
  std::map<std::string, uint32_t, std::less<>> hosts_;
  // The category of ResolveHost's errors: one text, SetResolveError's.
  class ResolveErrors : public std::error_category {
   public:
    const char* name() const noexcept override { return "fake-getaddrinfo"; }
    std::string message(int code) const override;
    void SetText(std::string text);

   private:
    mutable std::mutex mutex_;
    std::string text_ = "Name or service not known";
  };
  int resolve_error_ = -2;
  ResolveErrors resolve_errors_;
  std::vector<std::string> resolved_names_;
  std::vector<platform::InterfaceAddress> interface_rows_;
  int snmp_agent_failure_ = 0;
  std::map<uint32_t, uint32_t> routes_;  // destination -> source
};

}  // namespace chron::testing
