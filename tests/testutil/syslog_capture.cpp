#include "tests/testutil/syslog_capture.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <regex>
#include <thread>

namespace chron::testing {
namespace {

// In the child: report why the set-up failed through `pipe_fd` and end.
[[noreturn]] void ChildFail(int pipe_fd, const char* step) {
  std::string reason = std::string(step) + ": " + std::strerror(errno);
  ssize_t ignored = write(pipe_fd, reason.data(), reason.size());
  (void)ignored;
  _exit(77);
}

// In the child: a private mount namespace in which /dev/log is the socket at `socket_path`.
void EnterCaptureNamespace(const std::string& dir, const std::string& socket_path, int pipe_fd) {
  if (unshare(CLONE_NEWNS) != 0) ChildFail(pipe_fd, "unshare(CLONE_NEWNS)");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) ChildFail(pipe_fd, "mount --make-rprivate /");
  const std::string layer = dir + "/layer";
  if (mount("tmpfs", layer.c_str(), "tmpfs", 0, "mode=0700") != 0) ChildFail(pipe_fd, "mount tmpfs");
  const std::string upper = layer + "/upper";
  const std::string work = layer + "/work";
  if (mkdir(upper.c_str(), 0755) != 0 || mkdir(work.c_str(), 0700) != 0) ChildFail(pipe_fd, "mkdir overlay layers");
  const std::string options = "lowerdir=/dev,upperdir=" + upper + ",workdir=" + work;
  if (mount("overlay", "/dev", "overlay", 0, options.c_str()) != 0) {
    // Without overlayfs, an empty /dev serves as well for code that only logs.
    if (mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") != 0) ChildFail(pipe_fd, "mount over /dev");
  }
  unlink("/dev/log");  // a link to the journal's socket in the lower layer
  int fd = open("/dev/log", O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (fd < 0) ChildFail(pipe_fd, "create /dev/log");
  close(fd);
  if (mount(socket_path.c_str(), "/dev/log", nullptr, MS_BIND, nullptr) != 0)
    ChildFail(pipe_fd, "bind socket to /dev/log");
}

}  // namespace

SyslogCapture CaptureSyslog(const std::function<void()>& body) {
  SyslogCapture capture;
  if (geteuid() != 0) {
    capture.reason = "needs root to create a private mount namespace";
    return capture;
  }
  char dir_template[] = "/tmp/chron-syslog-XXXXXX";
  if (mkdtemp(dir_template) == nullptr) {
    capture.reason = std::string("mkdtemp: ") + std::strerror(errno);
    return capture;
  }
  const std::string dir = dir_template;
  const std::string socket_path = dir + "/log";
  const std::string layer = dir + "/layer";
  mkdir(layer.c_str(), 0700);

  int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_path.c_str(), sizeof(address.sun_path) - 1);
  int pipe_fds[2] = {-1, -1};
  if (sock < 0 || bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      pipe2(pipe_fds, O_CLOEXEC) != 0) {
    capture.reason = std::string("capture socket: ") + std::strerror(errno);
  } else {
    const pid_t pid = fork();
    if (pid == 0) {
      close(pipe_fds[0]);
      close(sock);
      EnterCaptureNamespace(dir, socket_path, pipe_fds[1]);
      close(pipe_fds[1]);
      body();
      _exit(0);
    }
    close(pipe_fds[1]);
    capture.child_pid = pid;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    capture.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    char reason[512];
    const ssize_t length = read(pipe_fds[0], reason, sizeof(reason));
    close(pipe_fds[0]);
    if (length > 0) {
      capture.reason.assign(reason, static_cast<size_t>(length));
    } else {
      capture.available = true;
      char datagram[65536];
      ssize_t size;
      while ((size = recv(sock, datagram, sizeof(datagram), MSG_DONTWAIT)) >= 0) {
        capture.datagrams.emplace_back(datagram, static_cast<size_t>(size));
      }
    }
  }
  if (sock >= 0) close(sock);
  unlink(socket_path.c_str());
  rmdir(layer.c_str());
  rmdir(dir.c_str());
  return capture;
}

bool ParseSyslogDatagram(std::string_view datagram, SyslogRecord* record) {
  static const std::regex pattern(
      R"(^<(\d{1,3})>[A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d ([^ \[:]+)(?:\[(\d+)\])?: ([\s\S]*)$)");
  std::match_results<std::string_view::const_iterator> match;
  if (!std::regex_match(datagram.begin(), datagram.end(), match, pattern)) return false;
  record->priority = std::stoi(match[1].str());
  record->identifier = match[2].str();
  record->pid = match[3].matched ? std::stoi(match[3].str()) : 0;
  record->message = match[4].str();
  return true;
}

}  // namespace chron::testing
