// Linux: the UDP socket of the network facility, BSD sockets read with recvmmsg. Shared by the
// factory (network.cpp) and the wait over the sockets' descriptors (epoll_waiter.cpp).
// IPv6 sockets are IPv6 only and take each datagram's local address (IPV6_PKTINFO).
#pragma once

#include <ifaddrs.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/linux/departure_stamps.h"
#include "platform/network.h"

namespace chron::platform::linux_net {

// The broadcast address of an IPv4 row of getifaddrs (network byte order), 0 when it has none.
// For an address configured without one getifaddrs names the address itself: taken as a
// broadcast address, it would make the datagrams sent to the host look like broadcasts.
uint32_t BroadcastOf(const ifaddrs& row);

struct OwningInterface;  // the interface that carries a bound address (udp_socket.cpp)

class LinuxUdpSocket : public UdpSocket {
 public:
  // Takes `fd` (an AF_INET or AF_INET6 datagram socket) and closes it with the socket.
  explicit LinuxUdpSocket(int fd);
  ~LinuxUdpSocket() override;

  std::error_code EnableBroadcast() override;
  std::error_code Bind(const SocketAddress& local, bool accept_broadcasts) override;
  std::error_code SendTo(const void* data, size_t size, const SocketAddress& to, size_t* sent) override;
  std::error_code SendBatch(const OutgoingDatagram* datagrams, size_t count, size_t* sent) override;
  size_t Fetched() const override { return count_ - head_; }
  std::error_code SendToStamped(const void* data, size_t size, const SocketAddress& to, size_t* sent) override;
  std::optional<int64_t> LatestDeparture() override { return departures_.Latest(fds_[0]); }

  // Reads the departure stamps that make the main descriptor report an error condition; false
  // when it never asked for any.
  bool CollectDepartures() { return departures_.Collect(fds_[0]); }

  std::error_code ReceiveFrom(void* buffer, size_t capacity, size_t* received, ReceivedFrom* from,
                              std::optional<int64_t>* arrival) override;

  // Datagrams fetched from the kernel and not yet handed out.
  bool HasPending() const { return head_ < count_; }

  const std::vector<int>& descriptors() const { return fds_; }

 private:
  std::error_code Bind6(const SocketAddress& local);
  static Ipv6Bytes Destination6(msghdr& header);
  std::error_code AddReceiver(const OwningInterface& owner, uint32_t address, uint16_t port);
  std::error_code Fetch(size_t index);
  bool ArrivedAsBroadcast(msghdr& header) const;
  std::error_code HandOut(void* buffer, size_t capacity, size_t* received, ReceivedFrom* from,
                          std::optional<int64_t>* arrival);

  // As many as the receive loop takes from one socket in one pass (kMostPerPass), so that a
  // busy pass costs one recvmmsg.
  static constexpr unsigned kBatch = 32;
  struct Slot {
    uint8_t data[1280];     // an NTS message with eight cookies fits; a longer one is handed out cut
    sockaddr_storage peer;  // sockaddr_in or sockaddr_in6
    iovec vector;
    // The arrival stamp, on a wildcard descriptor the destination, and once departure stamps are
    // reported (SO_TIMESTAMPING) the arrival once more in their form, which comes before the
    // destination and must not crowd it out. The IPv6 destination is the larger.
    alignas(cmsghdr) uint8_t
        control[CMSG_SPACE(sizeof(timespec)) + CMSG_SPACE(sizeof(scm_timestamping)) + CMSG_SPACE(sizeof(in6_pktinfo))];
  };
  Slot slots_[kBatch];
  mmsghdr headers_[kBatch];
  unsigned head_ = 0;     // next datagram to hand out
  unsigned count_ = 0;    // datagrams fetched by the last recvmmsg
  std::vector<int> fds_;  // [0] sends and receives; the rest receive broadcasts only
  size_t next_ = 0;
  size_t fetched_from_ = 0;     // index in fds_ of the descriptor the datagrams in slots_ came from
  bool wildcard_ = false;       // fds_[0] is bound to 0.0.0.0 and reports each destination
  DepartureStamps departures_;  // of the datagrams fds_[0] sent with SendToStamped
};

}  // namespace chron::platform::linux_net
