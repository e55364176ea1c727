// Linux: the wait over the UDP sockets of the network facility (epoll_waiter.h).
#include "platform/linux/epoll_waiter.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cerrno>
#include <utility>

#include "platform/error_text.h"
#include "platform/linux/udp_socket.h"

namespace chron::platform::linux_net {
namespace {

// One epoll set over every descriptor of every socket; each registration carries the index of
// its socket. Sockets must be bound before the waiter is created. The wake-up is an eventfd in
// the same set, registered with an index past the sockets; it is never read, so once written it
// keeps every later wait from blocking.
class EpollWaiter : public SocketWaiter {
 public:
  EpollWaiter(int epoll_fd, int wake_fd, std::error_code error, std::vector<LinuxUdpSocket*> sockets,
              size_t descriptors)
      : epoll_fd_(epoll_fd), wake_fd_(wake_fd), error_(error), sockets_(std::move(sockets)), events_(descriptors + 2) {
    // The nudge is an eventfd of its own that the wait reads back, so that it ends one wait only.
    nudge_fd_ = epoll_fd_ >= 0 ? eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kNudgeIndex;
    if (nudge_fd_ >= 0 && epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, nudge_fd_, &event) != 0) {
      close(nudge_fd_);
      nudge_fd_ = -1;
    }
  }
  ~EpollWaiter() override {
    if (epoll_fd_ >= 0) close(epoll_fd_);
    if (wake_fd_ >= 0) close(wake_fd_);
    if (nudge_fd_ >= 0) close(nudge_fd_);
  }

  void Nudge() override {
    if (nudge_fd_ >= 0) (void)eventfd_write(nudge_fd_, 1);
  }

  void Wake() override {
    woken_.store(true);
    // Fails only when the counter would overflow, which never-read writes of 1 cannot reach.
    if (wake_fd_ >= 0) (void)eventfd_write(wake_fd_, 1);
  }

  std::error_code Wait(std::vector<bool>* readable) override {
    // Woken: whatever else went wrong, the caller must get to look at its stop.
    if (woken_.load()) return Marked(readable, 0);
    if (error_) return error_;
    // A socket holding fetched datagrams is readable already: only look whether others are,
    // and not at all when every socket is.
    size_t pending = 0;
    for (const LinuxUdpSocket* socket : sockets_) pending += socket->HasPending() ? 1 : 0;
    int n = 0;
    if (pending == 0 || pending < sockets_.size()) {
      do {
        n = epoll_wait(epoll_fd_, events_.data(), static_cast<int>(events_.size()), pending > 0 ? 0 : -1);
      } while (n < 0 && errno == EINTR);
      if (n < 0) return SystemError(errno);
    }
    return Marked(readable, n);
  }

 private:
  // Marks the sockets of the first `n` events and those holding fetched datagrams; 0. An error
  // condition alone is mostly a departure stamp waiting: it is read here and marks nothing.
  std::error_code Marked(std::vector<bool>* readable, int n) {
    readable->assign(sockets_.size(), false);
    for (int i = 0; i < n; ++i) {
      const uint64_t index = events_[i].data.u64;
      if (index == kNudgeIndex) {
        eventfd_t count = 0;
        (void)eventfd_read(nudge_fd_, &count);
        continue;
      }
      if (index >= sockets_.size()) continue;
      const bool stamps_only = events_[i].events == EPOLLERR && sockets_[index]->CollectDepartures();
      if (!stamps_only) (*readable)[index] = true;
    }
    for (size_t i = 0; i < sockets_.size(); ++i) {
      if (sockets_[i]->HasPending()) (*readable)[i] = true;
    }
    return {};
  }

  static constexpr uint64_t kNudgeIndex = UINT64_MAX;  // past every socket's index and the wake-up's
  int epoll_fd_;
  int wake_fd_;
  int nudge_fd_ = -1;
  std::error_code error_;  // a failure while the set was built, returned by every Wait
  std::atomic<bool> woken_{false};
  std::vector<LinuxUdpSocket*> sockets_;
  std::vector<epoll_event> events_;
};

}  // namespace

std::unique_ptr<SocketWaiter> CreateEpollWaiter(const std::vector<UdpSocket*>& sockets) {
  int epoll_fd = epoll_create1(EPOLL_CLOEXEC);
  std::vector<LinuxUdpSocket*> linux_sockets(sockets.size(), nullptr);
  if (epoll_fd < 0) return std::make_unique<EpollWaiter>(-1, -1, SystemError(errno), std::vector<LinuxUdpSocket*>{}, 0);
  std::error_code error;
  const int wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd < 0) {
    error = SystemError(errno);
  } else {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = sockets.size();  // past every socket's index
    if (epoll_ctl(epoll_fd, EPOLL_CTL_ADD, wake_fd, &event) != 0) error = SystemError(errno);
  }
  size_t descriptors = 0;
  for (size_t i = 0; i < sockets.size() && !error; ++i) {
    auto* socket = dynamic_cast<LinuxUdpSocket*>(sockets[i]);
    if (socket == nullptr) {
      error = SystemError(EINVAL);
      break;
    }
    linux_sockets[i] = socket;
    for (int fd : socket->descriptors()) {
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.u64 = i;
      if (epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &event) != 0) {
        error = SystemError(errno);
        break;
      }
      ++descriptors;
    }
  }
  if (error) linux_sockets.clear();  // Wait returns the error and looks at no socket
  return std::make_unique<EpollWaiter>(epoll_fd, wake_fd, error, std::move(linux_sockets), descriptors);
}

}  // namespace chron::platform::linux_net
