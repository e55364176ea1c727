// Linux: the UDP socket of the network facility (udp_socket.h).
#include "platform/linux/udp_socket.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/error_text.h"
#include "platform/sockaddr.h"

namespace chron::platform::linux_net {

struct OwningInterface {
  std::string name;
  uint32_t broadcast = 0;  // network byte order; 0 when the interface has none
};

uint32_t BroadcastOf(const ifaddrs& row) {
  if ((row.ifa_flags & IFF_BROADCAST) == 0 || row.ifa_broadaddr == nullptr) return 0;
  const uint32_t broadcast = reinterpret_cast<const sockaddr_in*>(row.ifa_broadaddr)->sin_addr.s_addr;
  return broadcast == reinterpret_cast<const sockaddr_in*>(row.ifa_addr)->sin_addr.s_addr ? 0 : broadcast;
}

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

// The destination of one datagram of a batch: the sockaddr of its family, without the zeroing
// and copying of a whole sockaddr_storage per datagram.
union BatchAddress {
  sockaddr_in v4;
  sockaddr_in6 v6;
};

socklen_t SetBatchAddress(const SocketAddress& address, BatchAddress* result) {
  if (address.family != kAfInet6) {
    result->v4 = ToSockaddr<sockaddr_in>(address);
    return sizeof result->v4;
  }
  result->v6 = ToSockaddr6<sockaddr_in6>(address, AF_INET6);
  return sizeof result->v6;
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

}  // namespace

LinuxUdpSocket::LinuxUdpSocket(int fd) {
  EnableArrivalStamps(fd);
  fds_.push_back(fd);
}
LinuxUdpSocket::~LinuxUdpSocket() {
  for (int fd : fds_) close(fd);
}

std::error_code LinuxUdpSocket::EnableBroadcast() {
  int on = 1;
  return setsockopt(fds_[0], SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 ? std::error_code() : SystemError(errno);
}

// The main descriptor is bound without a device: a device binding would force every send,
// including requests to a time server routed through another interface, out of this one.
// A limited broadcast sent from it leaves through the interface owning its address anyway.
std::error_code LinuxUdpSocket::Bind(const SocketAddress& local, bool accept_broadcasts) {
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

std::error_code LinuxUdpSocket::SendTo(const void* data, size_t size, const SocketAddress& to, size_t* sent) {
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

std::error_code LinuxUdpSocket::SendBatch(const OutgoingDatagram* datagrams, size_t count, size_t* sent) {
  constexpr size_t kMost = 64;
  *sent = 0;
  while (*sent < count) {
    const size_t n = std::min(count - *sent, kMost);
    BatchAddress addresses[kMost];
    alignas(cmsghdr) uint8_t controls[kMost][kSourceControlSize];
    iovec vectors[kMost];
    mmsghdr headers[kMost];
    for (size_t i = 0; i < n; ++i) {
      const OutgoingDatagram& d = datagrams[*sent + i];
      vectors[i] = {const_cast<void*>(d.data), d.size};
      headers[i] = {};
      headers[i].msg_hdr.msg_name = &addresses[i];
      headers[i].msg_hdr.msg_namelen = SetBatchAddress(d.to, &addresses[i]);
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

std::error_code LinuxUdpSocket::SendToStamped(const void* data, size_t size, const SocketAddress& to, size_t* sent) {
  SystemAddress address = ToSystem(to);
  return departures_.Send(fds_[0], data, size, address.get(), address.length, sent);
}

// Blocks like a blocking recvfrom until one of the descriptors has a datagram, and hands out
// exactly one datagram per call. Datagrams already queued in the kernel are fetched in one
// recvmmsg and handed out one by one from here, each with its own kernel arrival stamp, in
// the one-at-a-time order of a plain read, at a third fewer system calls under load.
std::error_code LinuxUdpSocket::ReceiveFrom(void* buffer, size_t capacity, size_t* received, ReceivedFrom* from,
                                            std::optional<int64_t>* arrival) {
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

// The IPv6 socket: IPv6 only, so that port 123 stays free for the IPv4 sockets, and each
// datagram with its destination, the address a reply goes out from.
std::error_code LinuxUdpSocket::Bind6(const SocketAddress& local) {
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
Ipv6Bytes LinuxUdpSocket::Destination6(msghdr& header) {
  Ipv6Bytes destination{};
  for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
    if (c->cmsg_level != IPPROTO_IPV6 || c->cmsg_type != IPV6_PKTINFO) continue;
    in6_pktinfo info;
    std::memcpy(&info, CMSG_DATA(c), sizeof info);
    std::memcpy(destination.data(), &info.ipi6_addr, destination.size());
  }
  return destination;
}

std::error_code LinuxUdpSocket::AddReceiver(const OwningInterface& owner, uint32_t address, uint16_t port) {
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
std::error_code LinuxUdpSocket::Fetch(size_t index) {
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
bool LinuxUdpSocket::ArrivedAsBroadcast(msghdr& header) const {
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

std::error_code LinuxUdpSocket::HandOut(void* buffer, size_t capacity, size_t* received, ReceivedFrom* from,
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

}  // namespace chron::platform::linux_net
