// Win32: the wait over the UDP sockets of the network facility (select_waiter.h).
#include "platform/win32/select_waiter.h"

#include <atomic>
#include <utility>

#include "platform/error_text.h"
#include "platform/win32/udp_socket.h"
#include "platform/win32/win32.h"

namespace chron::platform::win32 {
namespace {

// select over the sockets (at most 64: the adapter table has no more rows) and a wake-up socket
// of its own on 127.0.0.1, which Wake sends a datagram to (select waits on sockets only): up to
// 66 in one fd_set with the IPv6 socket, as the build's FD_SETSIZE allows.
class SelectWaiter : public SocketWaiter {
 public:
  SelectWaiter(std::vector<SOCKET> sockets, std::error_code error) : sockets_(std::move(sockets)), error_(error) {
    wake_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in loopback{};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof wake_address_;
    if (wake_ != INVALID_SOCKET && (bind(wake_, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback) != 0 ||
                                    getsockname(wake_, reinterpret_cast<sockaddr*>(&wake_address_), &size) != 0)) {
      closesocket(wake_);
      wake_ = INVALID_SOCKET;
    }
  }
  ~SelectWaiter() override {
    if (wake_ != INVALID_SOCKET) closesocket(wake_);
  }

  std::error_code Wait(std::vector<bool>* readable) override {
    if (error_) return error_;
    fd_set set;
    FD_ZERO(&set);
    for (SOCKET s : sockets_) FD_SET(s, &set);
    const bool woken = woken_.load();
    if (!woken && wake_ != INVALID_SOCKET) FD_SET(wake_, &set);
    timeval now{0, 0};
    if (select(0, &set, nullptr, nullptr, woken ? &now : nullptr) == SOCKET_ERROR) return LastSocketError();
    readable->assign(sockets_.size(), false);
    for (size_t i = 0; i < sockets_.size(); ++i) (*readable)[i] = FD_ISSET(sockets_[i], &set) != 0;
    if (!woken && wake_ != INVALID_SOCKET && FD_ISSET(wake_, &set) != 0) {
      char unused = 0;
      recv(wake_, &unused, sizeof unused, 0);
    }
    return {};
  }

  void Wake() override {
    woken_.store(true);
    Nudge();
  }

  // The same datagram, which the next wait reads back unless a Wake keeps every wait short.
  void Nudge() override {
    if (wake_ != INVALID_SOCKET) {
      sendto(wake_, "", 0, 0, reinterpret_cast<const sockaddr*>(&wake_address_), sizeof wake_address_);
    }
  }

 private:
  std::vector<SOCKET> sockets_;
  std::error_code error_;
  SOCKET wake_ = INVALID_SOCKET;
  sockaddr_in wake_address_{};
  std::atomic<bool> woken_{false};
};

}  // namespace

std::unique_ptr<SocketWaiter> CreateSelectWaiter(const std::vector<UdpSocket*>& sockets) {
  std::vector<SOCKET> handles;
  for (UdpSocket* socket : sockets) {
    auto* winsock = dynamic_cast<WinsockUdpSocket*>(socket);
    if (winsock == nullptr) return std::make_unique<SelectWaiter>(std::vector<SOCKET>{}, SystemError(WSAEINVAL));
    handles.push_back(winsock->handle());
  }
  if (handles.size() + 1 > FD_SETSIZE)
    return std::make_unique<SelectWaiter>(std::vector<SOCKET>{}, SystemError(WSAEINVAL));
  return std::make_unique<SelectWaiter>(std::move(handles), std::error_code());
}

}  // namespace chron::platform::win32
