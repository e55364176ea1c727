#include "platform/linux/departure_stamps.h"

#include <linux/errqueue.h>
#include <linux/net_tstamp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/error_text.h"

namespace chron::platform {

namespace {

// Read at most this many queued stamps per call; the rest keep the error condition and are read
// by the next call.
constexpr int kMaxStampsPerCollect = 64;

// Reported as software stamps without the datagram's bytes (OPT_TSONLY: only the time comes
// back on the error queue). Which datagrams are stamped each send says for itself.
bool AskForReports(int fd) {
  const int flags = SOF_TIMESTAMPING_SOFTWARE | SOF_TIMESTAMPING_OPT_TSONLY;
  return setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPING, &flags, sizeof flags) == 0;
}

// sendmsg of one datagram, with the stamp request of this datagram as its control message.
ssize_t SendOne(int fd, const void* data, size_t size, const sockaddr* to, socklen_t length, bool stamped) {
  sockaddr_in6 address{};  // room for either family
  std::memcpy(&address, to, std::min<size_t>(length, sizeof address));
  iovec vector{const_cast<void*>(data), size};
  msghdr header{};
  header.msg_name = &address;
  header.msg_namelen = length;
  header.msg_iov = &vector;
  header.msg_iovlen = 1;
  alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(int))] = {};
  if (stamped) {
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&header);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SO_TIMESTAMPING;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    const int request = SOF_TIMESTAMPING_TX_SOFTWARE;
    std::memcpy(CMSG_DATA(c), &request, sizeof request);
  }
  ssize_t n;
  do {
    n = sendmsg(fd, &header, 0);
  } while (n < 0 && errno == EINTR);
  return n;
}

}  // namespace

std::error_code DepartureStamps::Send(int fd, const void* data, size_t size, const sockaddr* to, socklen_t length,
                                      size_t* sent) {
  std::lock_guard lock(mutex_);
  if (!tried_) {
    tried_ = true;
    supported_ = AskForReports(fd);
  }
  CollectLocked(fd);  // stamps of earlier datagrams, late or never read
  departure_.reset();
  awaiting_ = supported_;
  ssize_t n = SendOne(fd, data, size, to, length, supported_);
  // A kernel that knows no per-datagram stamp request refuses the control message: send plainly.
  if (n < 0 && errno == EINVAL && supported_) {
    supported_ = false;
    awaiting_ = false;
    n = SendOne(fd, data, size, to, length, false);
  }
  if (n < 0) {
    awaiting_ = false;
    return SystemError(errno);
  }
  if (sent != nullptr) *sent = static_cast<size_t>(n);
  return {};
}

bool DepartureStamps::Collect(int fd) {
  std::lock_guard lock(mutex_);
  CollectLocked(fd);
  return supported_;
}

std::optional<int64_t> DepartureStamps::Latest(int fd) {
  std::lock_guard lock(mutex_);
  CollectLocked(fd);
  return departure_;
}

void DepartureStamps::CollectLocked(int fd) {
  if (!tried_) return;  // nothing was ever asked for: leave the queue to whoever reads it
  for (int i = 0; i < kMaxStampsPerCollect; ++i) {
    // The stamp comes in the form of SO_TIMESTAMPNS too, which the socket has on for arrivals.
    alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(timespec)) + CMSG_SPACE(sizeof(scm_timestamping)) +
                                     CMSG_SPACE(sizeof(sock_extended_err) + sizeof(sockaddr_in6))];
    msghdr header{};
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    if (recvmsg(fd, &header, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
      if (errno == EINTR) continue;
      return;  // EAGAIN: the queue is empty
    }
    std::optional<int64_t> stamp;
    bool transmitted = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPING &&
          c->cmsg_len >= CMSG_LEN(sizeof(scm_timestamping))) {
        scm_timestamping stamps;
        std::memcpy(&stamps, CMSG_DATA(c), sizeof stamps);
        const timespec& software = stamps.ts[0];  // [1] is deprecated, [2] the hardware's
        if (software.tv_sec != 0 || software.tv_nsec != 0) {
          stamp = static_cast<int64_t>(software.tv_sec) * 1000000000 + software.tv_nsec;
        }
      } else if (((c->cmsg_level == SOL_IP && c->cmsg_type == IP_RECVERR) ||
                  (c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_RECVERR)) &&
                 c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err))) {
        sock_extended_err error;
        std::memcpy(&error, CMSG_DATA(c), sizeof error);
        transmitted = error.ee_origin == SO_EE_ORIGIN_TIMESTAMPING && error.ee_info == SCM_TSTAMP_SND;
      }
    }
    if (stamp && transmitted && awaiting_) {
      departure_ = stamp;
      awaiting_ = false;
    }
  }
}

}  // namespace chron::platform
