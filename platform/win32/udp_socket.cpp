// Win32: the UDP socket of the network facility (udp_socket.h).
#include "platform/win32/udp_socket.h"

#include <cstring>

#include "platform/sockaddr.h"

namespace chron::platform::win32 {
namespace {

// WSAIoctl code that switches off the report of ICMP port-unreachable messages (mstcpip.h of the
// Windows SDK; mingw-w64's headers lack it).
constexpr DWORD kSioUdpConnReset = _WSAIOW(IOC_VENDOR, 12);

}  // namespace

WinsockUdpSocket::WinsockUdpSocket(SOCKET s) : socket_(s) {
  GUID id = WSAID_WSARECVMSG;
  DWORD returned = 0;
  if (WSAIoctl(socket_, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &recv_message_, sizeof recv_message_,
               &returned, nullptr, nullptr) != 0) {
    recv_message_ = nullptr;
  }
}

std::error_code WinsockUdpSocket::EnableBroadcast() {
  BOOL on = TRUE;
  return setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) == 0
             ? std::error_code()
             : LastSocketError();
}

std::error_code WinsockUdpSocket::Bind(const SocketAddress& local, bool /*accept_broadcasts*/) {
  DWORD on = 1;
  if (local.family == kAfInet6) {
    // IPv6 only, so that port 123 stays free for the IPv4 sockets; each datagram with its
    // destination, the address a reply goes out from.
    if (setsockopt(socket_, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&on), sizeof on) != 0) {
      return LastSocketError();
    }
    sockaddr_in6 address = ToSockaddr6<sockaddr_in6>(local, AF_INET6);
    if (bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return LastSocketError();
    setsockopt(socket_, IPPROTO_IPV6, IPV6_PKTINFO, reinterpret_cast<const char*>(&on), sizeof on);
  } else {
    sockaddr_in address = ToSockaddr<sockaddr_in>(local);
    if (bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return LastSocketError();
    bound_address_ = local.address;
    setsockopt(socket_, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof on);
  }
  // A datagram sent to a port where nobody listens comes back as an ICMP message that Windows
  // would report as WSAECONNRESET at the next recvfrom of this socket; the service must not
  // take another host's closed port for an error of its own adapter.
  BOOL report = FALSE;
  DWORD returned = 0;
  WSAIoctl(socket_, kSioUdpConnReset, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
  return {};
}

std::error_code WinsockUdpSocket::SendTo(const void* data, size_t size, const SocketAddress& to, size_t* sent) {
  if (to.family == kAfInet6) return SendTo6(data, size, to, sent);
  sockaddr_in address = ToSockaddr<sockaddr_in>(to);
  const int n = sendto(socket_, static_cast<const char*>(data), static_cast<int>(size), 0,
                       reinterpret_cast<sockaddr*>(&address), sizeof address);
  if (n == SOCKET_ERROR) return LastSocketError();
  if (sent != nullptr) *sent = static_cast<size_t>(n);
  return {};
}

// A datagram longer than `capacity` is consumed and fails with WSAEMSGSIZE (10040), whether
// Winsock reports it as that error or as MSG_TRUNC. Winsock records no arrival time: `arrival`
// stays empty and the caller reads its clock. Whether the datagram came as a broadcast is told
// by its destination address (IP_PKTINFO): anything but the address this socket is bound to.
std::error_code WinsockUdpSocket::ReceiveFrom(void* buffer, size_t capacity, size_t* received, ReceivedFrom* from,
                                              std::optional<int64_t>* arrival) {
  if (arrival != nullptr) arrival->reset();
  sockaddr_storage peer{};                                 // sockaddr_in or sockaddr_in6
  char control[WSA_CMSG_SPACE(sizeof(IN6_PKTINFO))] = {};  // the larger of the two destinations
  WSABUF data{static_cast<ULONG>(capacity), static_cast<char*>(buffer)};
  WSAMSG message{};
  message.name = reinterpret_cast<sockaddr*>(&peer);
  message.namelen = sizeof peer;
  message.lpBuffers = &data;
  message.dwBufferCount = 1;
  message.Control = {sizeof control, control};
  DWORD n = 0;
  std::error_code error;
  if (recv_message_ == nullptr || recv_message_(socket_, &message, &n, nullptr, nullptr) == SOCKET_ERROR) {
    error = recv_message_ == nullptr ? SystemError(WSAEOPNOTSUPP) : LastSocketError();
    if (error.value() != WSAEMSGSIZE) return error;
  }
  // WSARecvMsg may also succeed with the datagram cut to the buffer and MSG_TRUNC among the
  // flags: that is the same long datagram, never a shorter message.
  if ((message.dwFlags & MSG_TRUNC) != 0) error = SystemError(WSAEMSGSIZE);
  if (from != nullptr && peer.ss_family == AF_INET6) {
    sockaddr_in6 v6;
    std::memcpy(&v6, &peer, sizeof v6);
    from->source = FromSockaddr6(v6);
    from->broadcast = false;  // IPv6 has no broadcasts
    for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header != nullptr;
         header = WSA_CMSG_NXTHDR(&message, header)) {
      if (header->cmsg_level != IPPROTO_IPV6 || header->cmsg_type != IPV6_PKTINFO) continue;
      const auto* info = reinterpret_cast<const IN6_PKTINFO*>(WSA_CMSG_DATA(header));
      std::memcpy(from->source.local6.data(), &info->ipi6_addr, from->source.local6.size());
    }
  } else if (from != nullptr) {
    sockaddr_in v4;
    std::memcpy(&v4, &peer, sizeof v4);
    from->source = SocketAddress{kAfInet, v4.sin_port, v4.sin_addr.s_addr};
    from->broadcast = false;
    for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header != nullptr;
         header = WSA_CMSG_NXTHDR(&message, header)) {
      if (header->cmsg_level != IPPROTO_IP || header->cmsg_type != IP_PKTINFO) continue;
      const auto* info = reinterpret_cast<const IN_PKTINFO*>(WSA_CMSG_DATA(header));
      from->broadcast = info->ipi_addr.s_addr != bound_address_;
    }
  }
  if (received != nullptr) *received = error ? capacity : static_cast<size_t>(n);
  if (from != nullptr) from->truncated = static_cast<bool>(error);
  return error;
}

// An IPv6 datagram, from `to.local6` where it names one (WSASendMsg with IPV6_PKTINFO).
std::error_code WinsockUdpSocket::SendTo6(const void* data, size_t size, const SocketAddress& to, size_t* sent) {
  sockaddr_in6 address = ToSockaddr6<sockaddr_in6>(to, AF_INET6);
  WSABUF buffer{static_cast<ULONG>(size), static_cast<char*>(const_cast<void*>(data))};
  WSAMSG message{};
  message.name = reinterpret_cast<sockaddr*>(&address);
  message.namelen = sizeof address;
  message.lpBuffers = &buffer;
  message.dwBufferCount = 1;
  char control[WSA_CMSG_SPACE(sizeof(IN6_PKTINFO))] = {};
  if (to.local6 != Ipv6Bytes{}) {
    message.Control = {sizeof control, control};
    WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IPV6;
    header->cmsg_type = IPV6_PKTINFO;
    header->cmsg_len = WSA_CMSG_LEN(sizeof(IN6_PKTINFO));
    IN6_PKTINFO info{};
    std::memcpy(&info.ipi6_addr, to.local6.data(), to.local6.size());
    std::memcpy(WSA_CMSG_DATA(header), &info, sizeof info);
  }
  DWORD n = 0;
  if (WSASendMsg(socket_, &message, 0, &n, nullptr, nullptr) == SOCKET_ERROR) return LastSocketError();
  if (sent != nullptr) *sent = static_cast<size_t>(n);
  return {};
}

}  // namespace chron::platform::win32
