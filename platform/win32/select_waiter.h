// Win32: the wait over the UDP sockets of the network facility (Network::CreateWaiter), select
// over the sockets and a wake-up socket of its own.
#pragma once

#include <memory>
#include <vector>

#include "platform/network.h"

namespace chron::platform::win32 {

// A waiter over `sockets`, which must be WinsockUdpSocket (udp_socket.h). Where they are not, or
// are too many for one fd_set, the waiter's every Wait returns WSAEINVAL.
std::unique_ptr<SocketWaiter> CreateSelectWaiter(const std::vector<UdpSocket*>& sockets);

}  // namespace chron::platform::win32
