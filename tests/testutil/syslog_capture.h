// Runs code in a child process whose /dev/log is a socket of the test's own, and returns what
// reached it: the real syslog(3) path, without touching the machine's log.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace chron::testing {

struct SyslogCapture {
  bool available = false;  // false: the mechanism could not be set up, see reason
  std::string reason;
  int exit_status = -1;  // the child's exit status (0 when body returned)
  int child_pid = 0;
  std::vector<std::string> datagrams;  // as received at /dev/log, in order
};

// Forks a child that enters a private mount namespace, mounts an overlay (upper layer on a
// tmpfs of its own) over /dev, bind-mounts a datagram socket bound by the parent over /dev/log,
// runs `body` and exits. Needs root (CAP_SYS_ADMIN); without it `available` is false. The
// child's mounts vanish with it; the parent removes its socket and directory.
SyslogCapture CaptureSyslog(const std::function<void()>& body);

// One datagram as glibc's syslog(3) sends it: "<PRI>Mmm dd hh:mm:ss IDENT[PID]: MESSAGE".
struct SyslogRecord {
  int priority = -1;  // facility * 8 + severity
  std::string identifier;
  int pid = 0;
  std::string message;
};
bool ParseSyslogDatagram(std::string_view datagram, SyslogRecord* record);

}  // namespace chron::testing
