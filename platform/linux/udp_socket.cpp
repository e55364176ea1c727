// Linux implementation of the network facility: BSD sockets, epoll, eventfd, getaddrinfo, getifaddrs.
// IPv6 sockets are IPv6 only and take each datagram's local address (IPV6_PKTINFO).
#include "platform/network.h"
#include "platform/sockaddr.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/errqueue.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <thread>

#include "platform/error_text.h"
#include "platform/linux/departure_stamps.h"

namespace chron::platform {
namespace {

// A SocketAddress as the system's sockaddr of its family.
struct SystemAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

SystemAddress ToSystem(const SocketAddress& address) {
  SystemAddress result;
  if (address.family != kAfInet6) {
    const sockaddr_in v4 = ToSockaddr<sockaddr_in>(address);
    std::memcpy(&result.storage, &v4, sizeof v4);
    result.length = sizeof v4;
    return result;
  }
  const sockaddr_in6 v6 = ToSockaddr6<sockaddr_in6>(address, AF_INET6);
  std::memcpy(&result.storage, &v6, sizeof v6);
  result.length = sizeof v6;
  return result;
}

// Room for the control message that names a datagram's source (IPV6_PKTINFO).
constexpr size_t kSourceControlSize = CMSG_SPACE(sizeof(in6_pktinfo));

// Puts into `header` the control message that sends the datagram to `to` from `to.local6`; none
// for IPv4 or where no local address is known, which leaves the choice to the routing table.
// The interface stays 0: a scoped destination names its own (sin6_scope_id).
void SetSource(const SocketAddress& to, uint8_t (&control)[kSourceControlSize], msghdr* header) {
  header->msg_control = nullptr;
  header->msg_controllen = 0;
  if (to.family != kAfInet6 || to.local6 == Ipv6Bytes{}) return;
  std::memset(control, 0, sizeof control);
  header->msg_control = control;
  header->msg_controllen = sizeof control;
  cmsghdr* c = CMSG_FIRSTHDR(header);
  c->cmsg_level = IPPROTO_IPV6;
  c->cmsg_type = IPV6_PKTINFO;
  c->cmsg_len = CMSG_LEN(sizeof(in6_pktinfo));
  in6_pktinfo info{};
  std::memcpy(&info.ipi6_addr, to.local6.data(), to.local6.size());
  std::memcpy(CMSG_DATA(c), &info, sizeof info);
}

struct OwningInterface {
  std::string name;
  uint32_t broadcast = 0;  // network byte order; 0 when the interface has none
};

// The broadcast address of an IPv4 row of getifaddrs (network byte order), 0 when it has none.
// For an address configured without one getifaddrs names the address itself: taken as a
// broadcast address, it would make the datagrams sent to the host look like broadcasts.
uint32_t BroadcastOf(const ifaddrs& row) {
  if ((row.ifa_flags & IFF_BROADCAST) == 0 || row.ifa_broadaddr == nullptr) return 0;
  const uint32_t broadcast = reinterpret_cast<const sockaddr_in*>(row.ifa_broadaddr)->sin_addr.s_addr;
  return broadcast == reinterpret_cast<const sockaddr_in*>(row.ifa_addr)->sin_addr.s_addr ? 0 : broadcast;
}

// The interface that carries `address` (network byte order), if any.
std::optional<OwningInterface> FindInterface(uint32_t address) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return std::nullopt;
  std::optional<OwningInterface> found;
  for (ifaddrs* row = list; row != nullptr; row = row->ifa_next) {
    if (row->ifa_addr == nullptr || row->ifa_addr->sa_family != AF_INET) continue;
    if (reinterpret_cast<const sockaddr_in*>(row->ifa_addr)->sin_addr.s_addr != address) continue;
    found = OwningInterface{row->ifa_name, BroadcastOf(*row)};
    break;
  }
  freeifaddrs(list);
  return found;
}

// A wildcard socket (address 0.0.0.0, as for an adapter without a configured address) and the
// sockets bound to specific addresses all use port 123. Linux lets a wildcard and a specific
// bind of one port coexist only when both sockets carry SO_REUSEADDR; binding to a device does
// not lift the conflict as long as the wildcard socket has no device. SO_REUSEADDR also lets a
// second instance bind the same addresses: the instance mutex is what refuses it.
std::error_code SetReuseAddress(int fd) {
  int on = 1;
  return setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 ? std::error_code() : SystemError(errno);
}

// Asks the kernel to stamp every datagram with CLOCK_REALTIME when it arrives (SO_TIMESTAMPNS).
// Without it (the option refused) the datagrams carry no stamp and the caller reads its clock.
void EnableArrivalStamps(int fd) {
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
}

// The kernel's arrival stamp of a received datagram, in nanoseconds since 1970, if it has one.
std::optional<int64_t> ArrivalStamp(msghdr& header) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS || c->cmsg_len < CMSG_LEN(sizeof(timespec))) {
      continue;
    }
    timespec stamp{};
    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
    if (stamp.tv_sec == 0 && stamp.tv_nsec == 0) return std::nullopt;
    return static_cast<int64_t>(stamp.tv_sec) * 1000000000 + stamp.tv_nsec;
  }
  return std::nullopt;
}

class LinuxUdpSocket : public UdpSocket {
 public:
  explicit LinuxUdpSocket(int fd) {
    EnableArrivalStamps(fd);
    fds_.push_back(fd);
  }
  ~LinuxUdpSocket() override {
    for (int fd : fds_) close(fd);
  }

  std::error_code EnableBroadcast() override {
    int on = 1;
    return setsockopt(fds_[0], SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 ? std::error_code() : SystemError(errno);
  }

  // The main descriptor is bound without a device: a device binding would force every send,
  // including requests to a time server routed through another interface, out of this one.
  // A limited broadcast sent from it leaves through the interface owning its address anyway.
  std::error_code Bind(const SocketAddress& local, bool accept_broadcasts) override {
    if (local.family == kAfInet6) return Bind6(local);
    if (std::error_code error = SetReuseAddress(fds_[0])) return error;
    sockaddr_in address = ToSockaddr<sockaddr_in>(local);
    if (bind(fds_[0], reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return SystemError(errno);
    // A socket bound to 0.0.0.0 receives broadcasts itself, mixed with the datagrams sent to the
    // host: only each datagram's destination tells them apart. One bound to a unicast address
    // receives no broadcasts on Linux, so it gets receive-only companions on its interface.
    if (local.address == 0) {
      int on = 1;
      if (setsockopt(fds_[0], IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) return SystemError(errno);
      wildcard_ = true;
      return {};
    }
    if (!accept_broadcasts) return {};
    std::optional<OwningInterface> owner = FindInterface(local.address);
    if (!owner) return {};
    if (std::error_code error = AddReceiver(*owner, kInaddrNone, local.port)) return error;
    if (owner->broadcast != 0 && owner->broadcast != kInaddrNone) {
      if (std::error_code error = AddReceiver(*owner, owner->broadcast, local.port)) return error;
    }
    return {};
  }

  std::error_code SendTo(const void* data, size_t size, const SocketAddress& to, size_t* sent) override {
    SystemAddress address = ToSystem(to);
    iovec vector{const_cast<void*>(data), size};
    msghdr header{};
    header.msg_name = address.get();
    header.msg_namelen = address.length;
    header.msg_iov = &vector;
    header.msg_iovlen = 1;
    alignas(cmsghdr) uint8_t control[kSourceControlSize];
    SetSource(to, control, &header);
    ssize_t n = sendmsg(fds_[0], &header, 0);
    if (n < 0) return SystemError(errno);
    if (sent != nullptr) *sent = static_cast<size_t>(n);
    return {};
  }

  std::error_code SendBatch(const OutgoingDatagram* datagrams, size_t count, size_t* sent) override {
    constexpr size_t kMost = 64;
    *sent = 0;
    while (*sent < count) {
      const size_t n = std::min(count - *sent, kMost);
      SystemAddress addresses[kMost];
      alignas(cmsghdr) uint8_t controls[kMost][kSourceControlSize];
      iovec vectors[kMost];
      mmsghdr headers[kMost];
      for (size_t i = 0; i < n; ++i) {
        const OutgoingDatagram& d = datagrams[*sent + i];
        addresses[i] = ToSystem(d.to);
        vectors[i] = {const_cast<void*>(d.data), d.size};
        headers[i] = {};
        headers[i].msg_hdr.msg_name = addresses[i].get();
        headers[i].msg_hdr.msg_namelen = addresses[i].length;
        headers[i].msg_hdr.msg_iov = &vectors[i];
        headers[i].msg_hdr.msg_iovlen = 1;
        SetSource(d.to, controls[i], &headers[i].msg_hdr);
      }
      int k;
      do {
        k = sendmmsg(fds_[0], headers, static_cast<unsigned>(n), 0);
      } while (k < 0 && errno == EINTR);
      if (k < 0) return SystemError(errno);
      *sent += static_cast<size_t>(k);
      // Fewer than asked: the next one failed; sending it alone tells why.
      if (static_cast<size_t>(k) < n) {
        const OutgoingDatagram& d = datagrams[*sent];
        size_t bytes = 0;
        if (std::error_code error = SendTo(d.data, d.size, d.to, &bytes)) return error;
        ++*sent;
      }
    }
    return {};
  }

  size_t Fetched() const override { return count_ - head_; }

  std::error_code SendToStamped(const void* data, size_t size, const SocketAddress& to, size_t* sent) override {
    SystemAddress address = ToSystem(to);
    return departures_.Send(fds_[0], data, size, address.get(), address.length, sent);
  }

  std::optional<int64_t> LatestDeparture() override { return departures_.Latest(fds_[0]); }

  // Reads the departure stamps that make the main descriptor report an error condition; false
  // when it never asked for any.
  bool CollectDepartures() { return departures_.Collect(fds_[0]); }

  // Blocks like a blocking recvfrom until one of the descriptors has a datagram, and hands out
  // exactly one datagram per call. Datagrams already queued in the kernel are fetched in one
  // recvmmsg and handed out one by one from here, each with its own kernel arrival stamp, in
  // the one-at-a-time order of a plain read, at a third fewer system calls under load.
  std::error_code ReceiveFrom(void* buffer, size_t capacity, size_t* received, ReceivedFrom* from,
                              std::optional<int64_t>* arrival) override {
    for (;;) {
      if (HasPending()) return HandOut(buffer, capacity, received, from, arrival);
      for (size_t k = 0; k < fds_.size(); ++k) {
        // Start after the descriptor read last, so that no descriptor starves the others.
        size_t i = (next_ + k) % fds_.size();
        const std::error_code error = Fetch(i);
        if (error == std::errc::resource_unavailable_try_again) continue;  // EWOULDBLOCK is EAGAIN
        next_ = i + 1;
        if (error) return error;
        return HandOut(buffer, capacity, received, from, arrival);
      }
      std::vector<pollfd> polls;
      for (int fd : fds_) polls.push_back({fd, POLLIN, 0});
      if (poll(polls.data(), polls.size(), -1) < 0 && errno != EINTR) return SystemError(errno);
      // Departure stamps are no datagram, but keep the descriptor ready until they are read.
      if ((polls[0].revents & (POLLERR | POLLIN)) == POLLERR) CollectDepartures();
    }
  }

  // Datagrams fetched from the kernel and not yet handed out.
  bool HasPending() const { return head_ < count_; }

  const std::vector<int>& descriptors() const { return fds_; }

 private:
  // The IPv6 socket: IPv6 only, so that port 123 stays free for the IPv4 sockets, and each
  // datagram with its destination, the address a reply goes out from.
  std::error_code Bind6(const SocketAddress& local) {
    int on = 1;
    if (setsockopt(fds_[0], IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) return SystemError(errno);
    if (std::error_code error = SetReuseAddress(fds_[0])) return error;
    if (setsockopt(fds_[0], IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on) != 0) return SystemError(errno);
    // A socket on the unspecified address would otherwise receive what is sent to the groups the
    // host itself is in (ff02::1 reaches every node of the link): a request to a group is not
    // answered. Kernels before 4.20 know no such option.
    int off = 0;
    (void)setsockopt(fds_[0], IPPROTO_IPV6, IPV6_MULTICAST_ALL, &off, sizeof off);
    SystemAddress address = ToSystem(local);
    if (bind(fds_[0], address.get(), address.length) != 0) return SystemError(errno);
    return {};
  }

  // The destination of an IPv6 datagram (IPV6_PKTINFO), all zero where the system gave none.
  static Ipv6Bytes Destination6(msghdr& header) {
    Ipv6Bytes destination{};
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
      if (c->cmsg_level != IPPROTO_IPV6 || c->cmsg_type != IPV6_PKTINFO) continue;
      in6_pktinfo info;
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      std::memcpy(destination.data(), &info.ipi6_addr, destination.size());
    }
    return destination;
  }

  std::error_code AddReceiver(const OwningInterface& owner, uint32_t address, uint16_t port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return SystemError(errno);
    EnableArrivalStamps(fd);
    std::error_code error = SetReuseAddress(fd);
    if (!error && setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, owner.name.c_str(),
                             static_cast<socklen_t>(owner.name.size() + 1)) != 0) {
      error = SystemError(errno);
    }
    sockaddr_in local = ToSockaddr<sockaddr_in>(SocketAddress{kAfInet, port, address});
    if (!error && bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) error = SystemError(errno);
    if (error) {
      close(fd);
      return error;
    }
    fds_.push_back(fd);
    return {};
  }

  // Reads up to kBatch queued datagrams of descriptor fds_[index] without waiting:
  // no error (count_ >= 1), EAGAIN, or the error of the first read.
  std::error_code Fetch(size_t index) {
    for (unsigned i = 0; i < kBatch; ++i) {
      slots_[i].vector = {slots_[i].data, sizeof slots_[i].data};
      headers_[i] = {};
      headers_[i].msg_hdr.msg_name = &slots_[i].peer;
      headers_[i].msg_hdr.msg_namelen = sizeof slots_[i].peer;
      headers_[i].msg_hdr.msg_iov = &slots_[i].vector;
      headers_[i].msg_hdr.msg_iovlen = 1;
      headers_[i].msg_hdr.msg_control = slots_[i].control;
      headers_[i].msg_hdr.msg_controllen = sizeof slots_[i].control;
    }
    int n;
    do {
      n = recvmmsg(fds_[index], headers_, kBatch, MSG_DONTWAIT | MSG_TRUNC, nullptr);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return SystemError(errno);
    head_ = 0;
    count_ = static_cast<unsigned>(n);
    fetched_from_ = index;
    return {};
  }

  // Whether the datagram of `header`, read from fds_[fetched_from_], came as a broadcast.
  bool ArrivedAsBroadcast(msghdr& header) const {
    if (fetched_from_ != 0) return true;  // a companion bound to a broadcast address
    if (!wildcard_) return false;         // bound to a unicast address: sent to this host
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
      if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
      in_pktinfo info;
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      // ipi_addr is the header's destination. For a datagram sent to one of the host's own
      // addresses the kernel names that same address as the local one (ipi_spec_dst); for a
      // limited, directed or multicast destination it names an interface address instead.
      const uint32_t destination = info.ipi_addr.s_addr;
      return destination == kInaddrNone || IN_MULTICAST(ntohl(destination)) || destination != info.ipi_spec_dst.s_addr;
    }
    return false;
  }

  std::error_code HandOut(void* buffer, size_t capacity, size_t* received, ReceivedFrom* from,
                          std::optional<int64_t>* arrival) {
    const Slot& slot = slots_[head_];
    mmsghdr& header = headers_[head_];
    ++head_;
    if (from != nullptr && slot.peer.ss_family == AF_INET6) {
      sockaddr_in6 peer;
      std::memcpy(&peer, &slot.peer, sizeof peer);
      from->source = FromSockaddr6(peer);
      from->source.local6 = Destination6(header.msg_hdr);
      from->broadcast = false;  // IPv6 has no broadcasts, and the socket joins no multicast group
    } else if (from != nullptr) {
      sockaddr_in peer;
      std::memcpy(&peer, &slot.peer, sizeof peer);
      from->source = SocketAddress{kAfInet, peer.sin_port, peer.sin_addr.s_addr};
      from->broadcast = ArrivedAsBroadcast(header.msg_hdr);
    }
    if (arrival != nullptr) *arrival = ArrivalStamp(header.msg_hdr);
    // A datagram longer than the caller's buffer is cut like recvfrom would cut it: the rest is
    // gone either way.
    // msg_len is the datagram's full length (MSG_TRUNC among the flags of the read).
    const size_t size = header.msg_len;
    const bool cut = (header.msg_hdr.msg_flags & MSG_TRUNC) != 0 || size > capacity;
    std::memcpy(buffer, slot.data, std::min({size, capacity, sizeof slot.data}));
    if (received != nullptr) *received = size;
    if (from != nullptr) from->truncated = cut;
    return cut ? SystemError(EMSGSIZE) : std::error_code();
  }

  static constexpr unsigned kBatch = 16;
  struct Slot {
    uint8_t data[512];      // any SNTP datagram fits; longer ones are refused as EMSGSIZE anyway
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

// One epoll set over every descriptor of every socket; each registration carries the index of
// its socket. Sockets must be bound before the waiter is created. The wake-up is an eventfd in
// the same set, registered with an index past the sockets; it is never read, so once written it
// keeps every later wait from blocking.
class EpollWaiter : public SocketWaiter {
 public:
  EpollWaiter(int epoll_fd, int wake_fd, std::error_code error, std::vector<LinuxUdpSocket*> sockets,
              size_t descriptors)
      : epoll_fd_(epoll_fd), wake_fd_(wake_fd), error_(error), sockets_(std::move(sockets)), events_(descriptors + 2) {
    // The nudge is an eventfd of its own that the wait reads back, so that it ends one wait only.
    nudge_fd_ = epoll_fd_ >= 0 ? eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kNudgeIndex;
    if (nudge_fd_ >= 0 && epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, nudge_fd_, &event) != 0) {
      close(nudge_fd_);
      nudge_fd_ = -1;
    }
  }
  ~EpollWaiter() override {
    if (epoll_fd_ >= 0) close(epoll_fd_);
    if (wake_fd_ >= 0) close(wake_fd_);
    if (nudge_fd_ >= 0) close(nudge_fd_);
  }

  void Nudge() override {
    if (nudge_fd_ >= 0) (void)eventfd_write(nudge_fd_, 1);
  }

  void Wake() override {
    woken_.store(true);
    // Fails only when the counter would overflow, which never-read writes of 1 cannot reach.
    if (wake_fd_ >= 0) (void)eventfd_write(wake_fd_, 1);
  }

  std::error_code Wait(std::vector<bool>* readable) override {
    // Woken: whatever else went wrong, the caller must get to look at its stop.
    if (woken_.load()) return Marked(readable, 0);
    if (error_) return error_;
    // A socket holding fetched datagrams is readable already: only look whether others are,
    // and not at all when every socket is.
    size_t pending = 0;
    for (const LinuxUdpSocket* socket : sockets_) pending += socket->HasPending() ? 1 : 0;
    int n = 0;
    if (pending == 0 || pending < sockets_.size()) {
      do {
        n = epoll_wait(epoll_fd_, events_.data(), static_cast<int>(events_.size()), pending > 0 ? 0 : -1);
      } while (n < 0 && errno == EINTR);
      if (n < 0) return SystemError(errno);
    }
    return Marked(readable, n);
  }

 private:
  // Marks the sockets of the first `n` events and those holding fetched datagrams; 0. An error
  // condition alone is mostly a departure stamp waiting: it is read here and marks nothing.
  std::error_code Marked(std::vector<bool>* readable, int n) {
    readable->assign(sockets_.size(), false);
    for (int i = 0; i < n; ++i) {
      const uint64_t index = events_[i].data.u64;
      if (index == kNudgeIndex) {
        eventfd_t count = 0;
        (void)eventfd_read(nudge_fd_, &count);
        continue;
      }
      if (index >= sockets_.size()) continue;
      const bool stamps_only = events_[i].events == EPOLLERR && sockets_[index]->CollectDepartures();
      if (!stamps_only) (*readable)[index] = true;
    }
    for (size_t i = 0; i < sockets_.size(); ++i) {
      if (sockets_[i]->HasPending()) (*readable)[i] = true;
    }
    return {};
  }

  static constexpr uint64_t kNudgeIndex = UINT64_MAX;  // past every socket's index and the wake-up's
  int epoll_fd_;
  int wake_fd_;
  int nudge_fd_ = -1;
  std::error_code error_;  // a failure while the set was built, returned by every Wait
  std::atomic<bool> woken_{false};
  std::vector<LinuxUdpSocket*> sockets_;
  std::vector<epoll_event> events_;
};

// A netlink socket subscribed to the kernel's IPv4 address and link messages, read by a thread
// of its own; an eventfd ends the thread.
class NetlinkWatch : public AddressWatch {
 public:
  NetlinkWatch(int netlink_fd, std::function<void()> changed) : netlink_fd_(netlink_fd) {
    stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this, changed = std::move(changed)] { Run(changed); });
  }
  ~NetlinkWatch() override {
    if (stop_fd_ >= 0) (void)eventfd_write(stop_fd_, 1);
    thread_.join();
    close(netlink_fd_);
    if (stop_fd_ >= 0) close(stop_fd_);
  }

 private:
  // Waits up to `timeout_ms` (-1: without end) for messages and reads them all; false once stopped.
  bool Drain(int timeout_ms, bool* any) {
    pollfd polls[2] = {{netlink_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    const int n = poll(polls, stop_fd_ >= 0 ? 2 : 1, timeout_ms);
    if (n < 0 && errno != EINTR) return false;
    if ((polls[1].revents & POLLIN) != 0) return false;
    if ((polls[0].revents & (POLLIN | POLLERR)) == 0) return true;
    // The messages themselves do not matter: any of them makes the caller read the table again.
    // An overflowing queue (ENOBUFS) lost some, which is a change as well.
    uint8_t buffer[8192];
    while (recv(netlink_fd_, buffer, sizeof buffer, MSG_DONTWAIT) > 0 || errno == ENOBUFS) *any = true;
    return true;
  }

  void Run(const std::function<void()>& changed) {
    for (;;) {
      bool any = false;
      if (!Drain(-1, &any)) return;
      if (!any) continue;
      // A change comes as a burst (a link going down removes its routes and addresses): wait for
      // its end so that it is followed once.
      while (any) {
        any = false;
        if (!Drain(kBurstMs, &any)) return;
      }
      changed();
    }
  }

  static constexpr int kBurstMs = 200;
  int netlink_fd_;
  int stop_fd_ = -1;
  std::thread thread_;
};

// getaddrinfo's own error codes (EAI_*, negative), with gai_strerror's texts.
const std::error_category& ResolverCategory() {
  class Category : public std::error_category {
   public:
    const char* name() const noexcept override { return "getaddrinfo"; }
    std::string message(int code) const override { return gai_strerror(code); }
  };
  static const Category category;
  return category;
}

// getaddrinfo of `name` for `family` and `service`: the first address, the one the system
// prefers (RFC 6724 destination order). No error, or the error with its text.
std::error_code Resolve(std::string_view name, int family, const char* service, SocketAddress* address,
                        std::string* error_text) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* result = nullptr;
  const int status = getaddrinfo(std::string(name).c_str(), service, &hints, &result);
  if (status != 0) {
    // getaddrinfo's own codes are negative; a system failure carries an errno value.
    const std::error_code error =
        status == EAI_SYSTEM ? SystemError(errno) : std::error_code(status, ResolverCategory());
    if (error_text != nullptr) *error_text = error.message();
    return error;
  }
  *address = FromAddrinfo<sockaddr_in, sockaddr_in6>(*result, AF_INET6);
  freeaddrinfo(result);
  return {};
}

class LinuxNetwork : public Network {
 public:
  std::error_code Startup() override { return {}; }

  std::error_code CreateUdpSocket(std::unique_ptr<UdpSocket>* socket_out) override {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return SystemError(errno);
    *socket_out = std::make_unique<LinuxUdpSocket>(fd);
    return {};
  }

  std::error_code CreateUdpSocket6(std::unique_ptr<UdpSocket>* socket_out) override {
    int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return SystemError(errno);
    *socket_out = std::make_unique<LinuxUdpSocket>(fd);
    return {};
  }

  std::unique_ptr<SocketWaiter> CreateWaiter(const std::vector<UdpSocket*>& sockets) override {
    int epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    std::vector<LinuxUdpSocket*> linux_sockets(sockets.size(), nullptr);
    if (epoll_fd < 0)
      return std::make_unique<EpollWaiter>(-1, -1, SystemError(errno), std::vector<LinuxUdpSocket*>{}, 0);
    std::error_code error;
    const int wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd < 0) {
      error = SystemError(errno);
    } else {
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.u64 = sockets.size();  // past every socket's index
      if (epoll_ctl(epoll_fd, EPOLL_CTL_ADD, wake_fd, &event) != 0) error = SystemError(errno);
    }
    size_t descriptors = 0;
    for (size_t i = 0; i < sockets.size() && !error; ++i) {
      auto* socket = dynamic_cast<LinuxUdpSocket*>(sockets[i]);
      if (socket == nullptr) {
        error = SystemError(EINVAL);
        break;
      }
      linux_sockets[i] = socket;
      for (int fd : socket->descriptors()) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = i;
        if (epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &event) != 0) {
          error = SystemError(errno);
          break;
        }
        ++descriptors;
      }
    }
    if (error) linux_sockets.clear();  // Wait returns the error and looks at no socket
    return std::make_unique<EpollWaiter>(epoll_fd, wake_fd, error, std::move(linux_sockets), descriptors);
  }

  std::error_code ResolveHost(std::string_view name, uint32_t* address, std::string* error_text) override {
    SocketAddress first;
    const std::error_code error = Resolve(name, AF_INET, nullptr, &first, error_text);
    if (!error) *address = first.address;
    return error;
  }

  std::error_code ResolveAny(std::string_view name, SocketAddress* address, std::string* error_text) override {
    return Resolve(name, AF_UNSPEC, "123", address, error_text);
  }

  std::vector<InterfaceAddress6> InterfaceAddresses6() override {
    std::vector<InterfaceAddress6> rows;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return rows;
    for (ifaddrs* row = list; row != nullptr; row = row->ifa_next) {
      if (row->ifa_addr == nullptr || row->ifa_addr->sa_family != AF_INET6) continue;
      sockaddr_in6 v6;
      std::memcpy(&v6, row->ifa_addr, sizeof v6);
      const SocketAddress address = FromSockaddr6(v6);
      rows.push_back({address.address6, address.scope_id, row->ifa_name});
    }
    freeifaddrs(list);
    return rows;
  }

  std::vector<InterfaceAddress> InterfaceAddresses() override {
    std::vector<InterfaceAddress> rows;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return rows;
    for (ifaddrs* row = list; row != nullptr; row = row->ifa_next) {
      if (row->ifa_addr == nullptr || row->ifa_addr->sa_family != AF_INET) continue;
      InterfaceAddress entry;
      entry.address = reinterpret_cast<const sockaddr_in*>(row->ifa_addr)->sin_addr.s_addr;
      entry.broadcast = BroadcastOf(*row);
      entry.interface = row->ifa_name;
      entry.interface_index = if_nametoindex(row->ifa_name);
      rows.push_back(std::move(entry));
    }
    freeifaddrs(list);
    return rows;
  }

  std::unique_ptr<AddressWatch> WatchAddresses(const std::function<void()>& changed) override {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return nullptr;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      close(fd);
      return nullptr;
    }
    return std::make_unique<NetlinkWatch>(fd, changed);
  }

  std::error_code RouteSource(uint32_t destination, uint32_t* source) override {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return SystemError(errno);
    // Connecting a UDP socket only fixes its peer: the kernel picks the route and the source
    // address for it, and sends nothing.
    sockaddr_in peer = ToSockaddr<sockaddr_in>(SocketAddress{kAfInet, HostToNetwork16(123), destination});
    sockaddr_in local{};
    socklen_t length = sizeof local;
    std::error_code error;
    if (connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
      error = SystemError(errno);
    }
    close(fd);
    if (error) return error;
    *source = local.sin_addr.s_addr;
    return {};
  }
};

}  // namespace

std::string AddressText(const SocketAddress& address) {
  if (address.family != kAfInet6) return DottedAddress(address.address);
  char text[INET6_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET6, address.address6.data(), text, sizeof text) == nullptr) return "?";
  std::string result = text;
  if (address.scope_id != 0) {
    char name[IF_NAMESIZE] = {};
    result += '%';
    result += if_indextoname(address.scope_id, name) != nullptr ? std::string(name) : std::to_string(address.scope_id);
  }
  return result;
}

Network& SystemNetwork() {
  static LinuxNetwork network;
  return network;
}

}  // namespace chron::platform
