// Linux: the wait over the UDP sockets of the network facility (Network::CreateWaiter), one
// epoll set over every descriptor of every socket.
#pragma once

#include <memory>
#include <vector>

#include "platform/network.h"

namespace chron::platform::linux_net {

// A waiter over `sockets`, which must be LinuxUdpSocket (udp_socket.h) and bound already. Where
// the set cannot be built, the waiter's every Wait returns the error.
std::unique_ptr<SocketWaiter> CreateEpollWaiter(const std::vector<UdpSocket*>& sockets);

}  // namespace chron::platform::linux_net
