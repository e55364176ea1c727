// Win32: the UDP socket of the network facility, a Winsock 2 socket read with WSARecvMsg. Shared
// by the factory (network.cpp) and the wait over the sockets (select_waiter.cpp).
// Errors carry Winsock's numbers (WSAGetLastError), e.g. 10040 WSAEMSGSIZE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <system_error>

#include "platform/error_text.h"
#include "platform/network.h"
#include "platform/win32/win32.h"

#include <mswsock.h>

namespace chron::platform::win32 {

inline std::error_code LastSocketError() { return SystemError(WSAGetLastError()); }

// A socket bound to an adapter's unicast address receives that adapter's broadcasts on Windows
// too, so one socket per address is all it takes.
class WinsockUdpSocket : public UdpSocket {
 public:
  // Takes `s` (an AF_INET or AF_INET6 datagram socket) and closes it with the socket.
  explicit WinsockUdpSocket(SOCKET s);
  ~WinsockUdpSocket() override { closesocket(socket_); }

  std::error_code EnableBroadcast() override;
  std::error_code Bind(const SocketAddress& local, bool accept_broadcasts) override;
  std::error_code SendTo(const void* data, size_t size, const SocketAddress& to, size_t* sent) override;
  std::error_code ReceiveFrom(void* buffer, size_t capacity, size_t* received, ReceivedFrom* from,
                              std::optional<int64_t>* arrival) override;

  SOCKET handle() const { return socket_; }

 private:
  std::error_code SendTo6(const void* data, size_t size, const SocketAddress& to, size_t* sent);

  SOCKET socket_;
  uint32_t bound_address_ = 0;  // network byte order
  LPFN_WSARECVMSG recv_message_ = nullptr;
};

}  // namespace chron::platform::win32
