// Child processes for tests of process-wide and machine-wide objects: fork, a one-byte
// handshake channel, and waiting with a time-out.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>

namespace chron::testing {

// Forks; the child runs `body` and ends with _exit(its result), so no test framework state of the
// child is ever flushed or destroyed. Fork before starting threads in the test.
inline pid_t ForkChild(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

// Waits up to `timeout_ms` for the child to end. Returns true with its waitpid status, or false
// after killing and reaping a child that did not end in time.
inline bool WaitChild(pid_t pid, int timeout_ms, int* status) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const pid_t done = waitpid(pid, status, WNOHANG);
    if (done == pid) return true;
    if (done < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, status, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Exit status of a child that ended normally, or -1 (killed by a signal, or did not end in time).
inline int ChildExitCode(pid_t pid, int timeout_ms) {
  int status = 0;
  if (!WaitChild(pid, timeout_ms, &status) || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// A pipe for one-byte messages between a parent and a forked child ("ready", "go").
class Channel {
 public:
  Channel() {
    if (pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
  }
  ~Channel() {
    for (int fd : fds_) {
      if (fd >= 0) close(fd);
    }
  }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  bool Send(char byte) const { return write(fds_[1], &byte, 1) == 1; }
  // Returns false when nothing arrived within `timeout_ms` or the writers are gone.
  bool Receive(char* byte, int timeout_ms) const {
    pollfd readable{fds_[0], POLLIN, 0};
    if (poll(&readable, 1, timeout_ms) != 1) return false;
    return read(fds_[0], byte, 1) == 1;
  }

 private:
  int fds_[2];
};

}  // namespace chron::testing
