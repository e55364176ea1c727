// A gate for scenario tests, loaded into a program with LD_PRELOAD: the first call of
// getifaddrs (adapter discovery, in the middle of start-up) holds the calling thread until the
// test opens the gate, while the program's other threads go on. The test can then do something
// at that known stage, for example send a stop, without racing the start-up.
//   CHRON_GATE_DIR=<dir>      the gate: "<dir>/reached.<pid>" appears when a thread waits at it;
//                             it opens when "<dir>/open" exists
//   CHRON_GATE_PROGRAM=<name> only in the program of this name (other programs of the command
//                             line, such as the wrappers that start it, pass freely)
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::atomic<bool> g_passed{false};

bool ThisProgram(const char* name) {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  const char* base = std::strrchr(path, '/');
  return std::strcmp(base != nullptr ? base + 1 : path, name) == 0;
}

void WaitAtGate() {
  const char* dir = std::getenv("CHRON_GATE_DIR");
  const char* program = std::getenv("CHRON_GATE_PROGRAM");
  if (dir == nullptr || program == nullptr || g_passed.exchange(true) || !ThisProgram(program)) return;
  const std::string reached = std::string(dir) + "/reached." + std::to_string(getpid());
  const int fd = open(reached.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) close(fd);
  const std::string open_path = std::string(dir) + "/open";
  while (access(open_path.c_str(), F_OK) != 0) usleep(5000);
}

}  // namespace

extern "C" int getifaddrs(struct ifaddrs** list) {
  using Real = int (*)(struct ifaddrs**);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getifaddrs"));
  const int saved = errno;
  WaitAtGate();
  errno = saved;
  if (real == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  return real(list);
}
