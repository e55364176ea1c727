// Win32 implementation of the network facility: Winsock 2 sockets (udp_socket.cpp), select over
// up to 64 of them and the IPv6 socket (select_waiter.cpp), getaddrinfo, the interface address
// table of the SNMP agent (snmp_table.cpp; of GetAdaptersAddresses where the agent cannot be
// loaded), the IPv6 addresses of GetAdaptersAddresses, and the IP helper library's change
// notifications (address_watch.cpp).
// Errors carry Winsock's numbers (WSAGetLastError), e.g. 10040 WSAEMSGSIZE.
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/network.h"
#include "platform/sockaddr.h"
#include "platform/win32/win32.h"

#include <iphlpapi.h>

#include "platform/error_text.h"
#include "platform/win32/address_watch.h"
#include "platform/win32/select_waiter.h"
#include "platform/win32/snmp_table.h"
#include "platform/win32/udp_socket.h"

namespace chron::platform {
namespace {

using win32::LastSocketError;

// getaddrinfo's errors: Winsock error numbers (e.g. 11001 WSAHOST_NOT_FOUND) with the system's
// texts, "Fehler N" for one it has none for; their conditions are the system's.
const std::error_category& ResolverCategory() {
  class Category : public std::error_category {
   public:
    const char* name() const noexcept override { return "getaddrinfo"; }
    std::string message(int code) const override {
      std::string text;
      if (!SystemErrorMessage(code, &text)) text = "Fehler " + std::to_string(code);
      return text;
    }
    std::error_condition default_error_condition(int code) const noexcept override {
      return std::system_category().default_error_condition(code);
    }
  };
  static const Category category;
  return category;
}

// getaddrinfo of `name` for `family` and `service`: the first address, the one the system
// prefers (RFC 6724 destination order). No error, or the error (ResolverCategory).
std::error_code Resolve(std::string_view name, int family, const char* service, SocketAddress* address) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* result = nullptr;
  const int status = getaddrinfo(std::string(name).c_str(), service, &hints, &result);
  if (status != 0) return std::error_code(status, ResolverCategory());
  *address = FromAddrinfo<sockaddr_in, sockaddr_in6>(*result, AF_INET6);
  freeaddrinfo(result);
  return {};
}

class WinsockNetwork : public Network {
 public:
  // Windows Sockets 2.2; every successful start-up is matched by the process end.
  std::error_code Startup() override {
    WSADATA data{};
    return SystemError(WSAStartup(MAKEWORD(2, 2), &data));
  }

  std::error_code CreateUdpSocket(std::unique_ptr<UdpSocket>* socket_out) override {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) return LastSocketError();
    // Not inherited by programs this one starts.
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    *socket_out = std::make_unique<win32::WinsockUdpSocket>(s);
    return {};
  }

  std::error_code CreateUdpSocket6(std::unique_ptr<UdpSocket>* socket_out) override {
    SOCKET s = socket(AF_INET6, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) return LastSocketError();
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    *socket_out = std::make_unique<win32::WinsockUdpSocket>(s);
    return {};
  }

  std::unique_ptr<SocketWaiter> CreateWaiter(const std::vector<UdpSocket*>& sockets) override {
    return win32::CreateSelectWaiter(sockets);
  }

  std::error_code ResolveHost(std::string_view name, uint32_t* address) override {
    SocketAddress first;
    const std::error_code error = Resolve(name, AF_INET, nullptr, &first);
    if (!error) *address = first.address;
    return error;
  }

  std::error_code ResolveAny(std::string_view name, SocketAddress* address) override {
    return Resolve(name, AF_UNSPEC, "123", address);
  }

  std::vector<InterfaceAddress> InterfaceAddresses() override {
    std::vector<InterfaceAddress> table;
    const int error = win32::SnmpIpAddressTable(&table);
    if (error == 0) return table;
    int expected = 0;  // the first failure is the one told
    snmp_failure_.compare_exchange_strong(expected, error);
    return win32::AdapterListIpAddressTable();
  }

  std::error_code TakeSnmpAgentFailure() override {
    // -1: told already; the failure stays told for the life of the process.
    int failure = snmp_failure_.load();
    while (failure > 0 && !snmp_failure_.compare_exchange_weak(failure, -1)) {
    }
    return SystemError(failure > 0 ? failure : 0);
  }

  std::vector<InterfaceAddress6> InterfaceAddresses6() override {
    std::vector<InterfaceAddress6> rows;
    win32::ForEachUnicastAddress(
        AF_INET6, [&rows](const IP_ADAPTER_ADDRESSES& adapter, const IP_ADAPTER_UNICAST_ADDRESS& unicast) {
          sockaddr_in6 v6;
          std::memcpy(&v6, unicast.Address.lpSockaddr, sizeof v6);
          const SocketAddress address = FromSockaddr6(v6);
          rows.push_back({address.address6, address.scope_id, win32::AdapterDisplayName(adapter)});
        });
    return rows;
  }

  std::unique_ptr<AddressWatch> WatchAddresses(const std::function<void()>& changed) override {
    return win32::WatchIpHelper(changed);
  }

  std::error_code RouteSource(uint32_t destination, uint32_t* source) override {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) return LastSocketError();
    // Connecting a UDP socket only fixes its peer: the stack picks the route and the source
    // address for it, and sends nothing.
    sockaddr_in peer = ToSockaddr<sockaddr_in>(SocketAddress{kAfInet, HostToNetwork16(123), destination});
    sockaddr_in local{};
    int length = sizeof local;
    std::error_code error;
    if (connect(s, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
      error = LastSocketError();
    }
    closesocket(s);
    if (error) return error;
    *source = local.sin_addr.s_addr;
    return {};
  }

 private:
  // The error with which the SNMP agent could not be loaded: 0 none yet, -1 once told.
  std::atomic<int> snmp_failure_{0};
};

}  // namespace

// Windows writes a zone as the interface's number ("fe80::1%12"), the form its tools show.
std::string AddressText(const SocketAddress& address) {
  if (address.family != kAfInet6) return DottedAddress(address.address);
  char text[INET6_ADDRSTRLEN] = {};
  in6_addr bytes;
  std::memcpy(&bytes, address.address6.data(), sizeof bytes);
  if (inet_ntop(AF_INET6, &bytes, text, sizeof text) == nullptr) return "?";
  std::string result = text;
  if (address.scope_id != 0) result += "%" + std::to_string(address.scope_id);
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
  static WinsockNetwork network;
  return network;
}

}  // namespace chron::platform
