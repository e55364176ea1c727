// Linux implementation of the network facility: BSD sockets (udp_socket.cpp), epoll and eventfd
// (epoll_waiter.cpp), getaddrinfo (resolver.cpp), getifaddrs, and netlink (address_watch.cpp).
#include "platform/network.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

#include "platform/error_text.h"
#include "platform/linux/address_watch.h"
#include "platform/linux/epoll_waiter.h"
#include "platform/linux/resolver.h"
#include "platform/linux/udp_socket.h"
#include "platform/sockaddr.h"

namespace chron::platform {
namespace {

class LinuxNetwork : public Network {
 public:
  std::error_code Startup() override { return {}; }

  std::error_code CreateUdpSocket(std::unique_ptr<UdpSocket>* socket_out) override {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return SystemError(errno);
    *socket_out = std::make_unique<linux_net::LinuxUdpSocket>(fd);
    return {};
  }

  std::error_code CreateUdpSocket6(std::unique_ptr<UdpSocket>* socket_out) override {
    int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return SystemError(errno);
    *socket_out = std::make_unique<linux_net::LinuxUdpSocket>(fd);
    return {};
  }

  std::unique_ptr<SocketWaiter> CreateWaiter(const std::vector<UdpSocket*>& sockets) override {
    return linux_net::CreateEpollWaiter(sockets);
  }

  std::error_code ResolveHost(std::string_view name, uint32_t* address) override {
    SocketAddress first;
    const std::error_code error = linux_net::Resolve(name, AF_INET, nullptr, &first);
    if (!error) *address = first.address;
    return error;
  }

  std::error_code ResolveAny(std::string_view name, SocketAddress* address) override {
    return linux_net::Resolve(name, AF_UNSPEC, "123", address);
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
      entry.broadcast = linux_net::BroadcastOf(*row);
      entry.interface = row->ifa_name;
      entry.interface_index = if_nametoindex(row->ifa_name);
      rows.push_back(std::move(entry));
    }
    freeifaddrs(list);
    return rows;
  }

  std::unique_ptr<AddressWatch> WatchAddresses(const std::function<void()>& changed) override {
    return linux_net::WatchNetlink(changed);
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

bool ParseAddressText(std::string_view text, SocketAddress* address) {
  const std::string copy(text);  // inet_pton reads up to a zero
  SocketAddress parsed;
  in_addr v4;
  in6_addr v6;
  if (inet_pton(AF_INET, copy.c_str(), &v4) == 1) {
    std::memcpy(&parsed.address, &v4, sizeof parsed.address);
  } else if (inet_pton(AF_INET6, copy.c_str(), &v6) == 1) {
    parsed.family = kAfInet6;
    std::memcpy(parsed.address6.data(), &v6, parsed.address6.size());
  } else {
    return false;
  }
  *address = parsed;
  return true;
}

Network& SystemNetwork() {
  static LinuxNetwork network;
  return network;
}

}  // namespace chron::platform
