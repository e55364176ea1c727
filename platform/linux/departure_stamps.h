// When a socket's datagrams left the host, as the kernel records it: the software transmit stamp
// (SO_TIMESTAMPING), taken as the network device takes the datagram. A time read in user space
// before sendto comes earlier by the whole send path through the kernel, which after a second
// of idleness costs tens of microseconds more than on a path just used.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <system_error>

namespace chron::platform {

// The departures of the datagrams sent with Send on one descriptor. Only those ask for a stamp
// (per datagram), so a socket that also answers requests puts nothing else on its error queue.
// Thread-safe: one thread may send while another collects.
class DepartureStamps {
 public:
  // Sends `size` bytes to `to` on `fd` and asks the kernel to stamp the datagram's departure;
  // forgets the departure of the one sent before. Where the kernel refuses stamps this is a
  // plain send. No error, or the error of the send.
  // `to` is a sockaddr_in or sockaddr_in6 of `length` bytes.
  std::error_code Send(int fd, const void* data, size_t size, const sockaddr* to, socklen_t length, size_t* sent);
  // Reads every stamp the kernel has queued on `fd` (its error queue, which makes the descriptor
  // report an error condition until read) and keeps the first one after the latest Send. Never
  // blocks. False when no stamp is ever asked for on `fd`: its error condition has another cause.
  bool Collect(int fd);
  // Collect, then the departure of the datagram of the latest Send in nanoseconds since 1970
  // on the system clock (CLOCK_REALTIME), if the kernel has reported it.
  std::optional<int64_t> Latest(int fd);

 private:
  void CollectLocked(int fd);

  std::mutex mutex_;
  bool tried_ = false;      // reports were asked for on the descriptor
  bool supported_ = false;  // and the kernel takes stamp requests
  bool awaiting_ = false;   // the latest Send's departure is still to come
  std::optional<int64_t> departure_;
};

}  // namespace chron::platform
