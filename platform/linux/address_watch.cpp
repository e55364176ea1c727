// Linux: the watch over the system's IPv4 addresses and links (address_watch.h).
#include "platform/linux/address_watch.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <thread>
#include <utility>

namespace chron::platform::linux_net {
namespace {

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

}  // namespace

std::unique_ptr<AddressWatch> WatchNetlink(const std::function<void()>& changed) {
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

}  // namespace chron::platform::linux_net
