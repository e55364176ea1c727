// Win32 implementation of the network facility: Winsock 2 sockets, select over up to 64 of
// them and the IPv6 socket, getaddrinfo, the interface address table of the SNMP agent
// (snmp_table.cpp; of GetAdaptersAddresses where the agent cannot be loaded) and the IPv6
// addresses of GetAdaptersAddresses.
// Errors carry Winsock's numbers (WSAGetLastError), e.g. 10040 WSAEMSGSIZE.
#include <atomic>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "platform/network.h"
#include "platform/sockaddr.h"
#include "platform/win32/win32.h"

#include <iphlpapi.h>
#include <mswsock.h>

#include "platform/error_text.h"
#include "platform/win32/snmp_table.h"

namespace chron::platform {
namespace {

std::error_code LastSocketError() { return SystemError(WSAGetLastError()); }

// WSAIoctl code that switches off the report of ICMP port-unreachable messages (mstcpip.h of the
// Windows SDK; mingw-w64's headers lack it).
constexpr DWORD kSioUdpConnReset = _WSAIOW(IOC_VENDOR, 12);

// A socket bound to an adapter's unicast address receives that adapter's broadcasts on Windows
// too, so one socket per address is all it takes.
class WinsockUdpSocket : public UdpSocket {
 public:
  explicit WinsockUdpSocket(SOCKET s) : socket_(s) {
    GUID id = WSAID_WSARECVMSG;
    DWORD returned = 0;
    if (WSAIoctl(socket_, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &recv_message_, sizeof recv_message_,
                 &returned, nullptr, nullptr) != 0) {
      recv_message_ = nullptr;
    }
  }
  ~WinsockUdpSocket() override { closesocket(socket_); }

  std::error_code EnableBroadcast() override {
    BOOL on = TRUE;
    return setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) == 0
               ? std::error_code()
               : LastSocketError();
  }

  std::error_code Bind(const SocketAddress& local, bool /*accept_broadcasts*/) override {
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

  std::error_code SendTo(const void* data, size_t size, const SocketAddress& to, size_t* sent) override {
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
  std::error_code ReceiveFrom(void* buffer, size_t capacity, size_t* received, ReceivedFrom* from,
                              std::optional<int64_t>* arrival) override {
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

  SOCKET handle() const { return socket_; }

 private:
  // An IPv6 datagram, from `to.local6` where it names one (WSASendMsg with IPV6_PKTINFO).
  std::error_code SendTo6(const void* data, size_t size, const SocketAddress& to, size_t* sent) {
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

  SOCKET socket_;
  uint32_t bound_address_ = 0;  // network byte order
  LPFN_WSARECVMSG recv_message_ = nullptr;
};

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

// NotifyUnicastIpAddressChange and NotifyIpInterfaceChange of the IP helper library (Windows
// Vista and later), looked up at run time so that the programs still load where it lacks them.
// Their callbacks receive a row and a notification type, which are not looked at here.
using ChangeCallback = void(WINAPI*)(void* context, void* row, int type);
using NotifyChange = DWORD(WINAPI*)(USHORT family, ChangeCallback callback, void* context, BOOLEAN initial,
                                    HANDLE* handle);
using CancelNotify = DWORD(WINAPI*)(HANDLE handle);

class IpHelperWatch : public AddressWatch {
 public:
  explicit IpHelperWatch(std::function<void()> changed) : changed_(std::move(changed)) {}
  ~IpHelperWatch() override {
    // Returns once no callback runs any more.
    for (HANDLE handle : handles_) cancel_(handle);
    if (library_ != nullptr) FreeLibrary(library_);
  }

  // True when at least one kind of change is watched.
  bool Start() {
    library_ = LoadLibraryA("iphlpapi.dll");
    if (library_ == nullptr) return false;
    cancel_ = reinterpret_cast<CancelNotify>(Entry("CancelMibChangeNotify2"));
    if (cancel_ == nullptr) return false;
    for (const char* name : {"NotifyUnicastIpAddressChange", "NotifyIpInterfaceChange"}) {
      auto notify = reinterpret_cast<NotifyChange>(Entry(name));
      HANDLE handle = nullptr;
      if (notify != nullptr && notify(AF_INET, &Changed, this, FALSE, &handle) == NO_ERROR && handle != nullptr) {
        handles_.push_back(handle);
      }
    }
    return !handles_.empty();
  }

 private:
  // Through void*, as GetProcAddress's FARPROC is no function type of its own.
  void* Entry(const char* name) const { return reinterpret_cast<void*>(GetProcAddress(library_, name)); }

  static void WINAPI Changed(void* context, void* /*row*/, int /*type*/) {
    static_cast<IpHelperWatch*>(context)->changed_();
  }

  std::function<void()> changed_;
  HMODULE library_ = nullptr;
  CancelNotify cancel_ = nullptr;
  std::vector<HANDLE> handles_;
};

// getaddrinfo of `name` for `family` and `service`: the first address, the one the system
// prefers (RFC 6724 destination order). 0, or the error with its text.
std::error_code Resolve(std::string_view name, int family, const char* service, SocketAddress* address,
                        std::string* error_text) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* result = nullptr;
  const int status = getaddrinfo(std::string(name).c_str(), service, &hints, &result);
  if (status != 0) {
    // getaddrinfo answers with Winsock error numbers (e.g. 11001 WSAHOST_NOT_FOUND).
    if (error_text != nullptr && !SystemErrorMessage(status, error_text)) {
      *error_text = "Fehler " + std::to_string(status);
    }
    return SystemError(status);
  }
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
    *socket_out = std::make_unique<WinsockUdpSocket>(s);
    return {};
  }

  std::error_code CreateUdpSocket6(std::unique_ptr<UdpSocket>* socket_out) override {
    SOCKET s = socket(AF_INET6, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) return LastSocketError();
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    *socket_out = std::make_unique<WinsockUdpSocket>(s);
    return {};
  }

  std::unique_ptr<SocketWaiter> CreateWaiter(const std::vector<UdpSocket*>& sockets) override {
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

  std::error_code ResolveHost(std::string_view name, uint32_t* address, std::string* error_text) override {
    SocketAddress first;
    const std::error_code error = Resolve(name, AF_INET, nullptr, &first, error_text);
    if (!error) *address = first.address;
    return error;
  }

  std::error_code ResolveAny(std::string_view name, SocketAddress* address, std::string* error_text) override {
    return Resolve(name, AF_UNSPEC, "123", address, error_text);
  }

  std::vector<InterfaceAddress> InterfaceAddresses() override {
    std::vector<InterfaceAddress> table;
    const int error = win32::SnmpIpAddressTable(&table);
    if (error == 0) return table;
    int expected = 0;  // the first failure is the one told
    snmp_failure_.compare_exchange_strong(expected, error);
    return win32::AdapterListIpAddressTable();
  }

  int TakeSnmpAgentFailure() override {
    // -1: told already; the failure stays told for the life of the process.
    int failure = snmp_failure_.load();
    while (failure > 0 && !snmp_failure_.compare_exchange_weak(failure, -1)) {
    }
    return failure > 0 ? failure : 0;
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
    auto watch = std::make_unique<IpHelperWatch>(changed);
    if (!watch->Start()) return nullptr;
    return watch;
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

Network& SystemNetwork() {
  static WinsockNetwork network;
  return network;
}

}  // namespace chron::platform
