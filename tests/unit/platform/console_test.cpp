#include "platform/console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/testutil/child_process.h"

namespace chron::platform {
namespace {

using chron::testing::Channel;
using chron::testing::ChildExitCode;
using chron::testing::ForkChild;

// A pseudo-terminal; the child side is opened by a forked child as its standard input or output.
class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) name_ = ptsname(master_);
  }
  ~Pty() {
    if (master_ >= 0) close(master_);
  }
  bool ok() const { return !name_.empty(); }
  int master() const { return master_; }
  // In the child: puts the terminal on `fd`.
  bool Attach(int fd) const {
    const int slave = open(name_.c_str(), O_RDWR | O_NOCTTY);
    return slave >= 0 && dup2(slave, fd) == fd;
  }
  // Everything the child wrote, until it closed the terminal or 2 s passed.
  std::string ReadAll() const {
    std::string text;
    char buffer[256];
    pollfd readable{master_, POLLIN, 0};
    while (poll(&readable, 1, 2000) == 1) {
      const ssize_t got = read(master_, buffer, sizeof buffer);
      if (got <= 0) break;
      text.append(buffer, static_cast<size_t>(got));
    }
    return text;
  }

 private:
  int master_ = -1;
  std::string name_;
};

TEST(ConsoleTest, KeyWaitReturnsAtOnceWithoutATerminal) {
  // A pipe whose writer stays open: a wait that read from it would never end.
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  const pid_t child = ForkChild([&] {
    dup2(input[0], STDIN_FILENO);
    if (StdinIsTerminal()) return 1;
    WaitForKey();
    return 0;
  });
  EXPECT_EQ(ChildExitCode(child, 3000), 0);
  close(input[0]);
  close(input[1]);

  const pid_t from_null = ForkChild([] {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    WaitForKey();
    return 0;
  });
  EXPECT_EQ(ChildExitCode(from_null, 3000), 0);
}

TEST(ConsoleTest, KeyWaitOnATerminalTakesOneKeyWithoutEnterAndRestoresTheMode) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  Channel ready;
  const pid_t child = ForkChild([&] {
    if (!pty.Attach(STDIN_FILENO) || !StdinIsTerminal()) return 2;
    termios before{};
    tcgetattr(STDIN_FILENO, &before);
    ready.Send('r');
    WaitForKey();
    termios after{};
    tcgetattr(STDIN_FILENO, &after);
    if (after.c_lflag != before.c_lflag) return 3;
    // The rest of a multi-byte key was dropped.
    fcntl(STDIN_FILENO, F_SETFL, O_NONBLOCK);
    char rest;
    if (read(STDIN_FILENO, &rest, 1) > 0) return 4;
    return 0;
  });
  char byte = 0;
  ASSERT_TRUE(ready.Receive(&byte, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "returned before a key was pressed";
  // An arrow key: three bytes, no line end.
  ASSERT_EQ(write(pty.master(), "\033[A", 3), 3);
  EXPECT_EQ(ChildExitCode(child, 3000), 0);
  // Nothing was echoed (the child side is closed now: a read gives no data).
  fcntl(pty.master(), F_SETFL, O_NONBLOCK);
  char echoed;
  EXPECT_LE(read(pty.master(), &echoed, 1), 0);
}

TEST(ConsoleTest, KeyWaitDoesNotWaitInTheBackgroundOfItsTerminal) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const pid_t session = ForkChild([&] {
    // A session of its own whose controlling terminal is the pty, with this process in front.
    if (setsid() < 0) return 2;
    const int slave = open(ptsname(pty.master()), O_RDWR);
    if (slave < 0 || dup2(slave, STDIN_FILENO) != STDIN_FILENO) return 2;
    if (tcgetpgrp(STDIN_FILENO) != getpgrp()) return 2;
    const pid_t job = ForkChild([] {
      setpgid(0, 0);  // a background job of the same terminal
      WaitForKey();
      return 0;
    });
    return ChildExitCode(job, 3000);
  });
  EXPECT_EQ(ChildExitCode(session, 5000), 0);
}

TEST(ConsoleTest, TitleIsWrittenOnlyToATerminal) {
  int output[2];
  ASSERT_EQ(pipe(output), 0);
  const pid_t child = ForkChild([&] {
    dup2(output[1], STDOUT_FILENO);
    SetTerminalTitle("SNTP Client für Windows 95");
    std::fputs("end", stdout);
    std::fflush(stdout);
    return 0;
  });
  close(output[1]);
  EXPECT_EQ(ChildExitCode(child, 3000), 0);
  char buffer[128] = {};
  const ssize_t got = read(output[0], buffer, sizeof buffer - 1);
  close(output[0]);
  EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0), "end");

  Pty pty;
  ASSERT_TRUE(pty.ok());
  const pid_t on_terminal = ForkChild([&] {
    if (!pty.Attach(STDOUT_FILENO)) return 2;
    SetTerminalTitle("SNTP Client für Windows 95\a\033]0;x");
    std::fputs("end", stdout);
    std::fflush(stdout);
    return 0;
  });
  EXPECT_EQ(ChildExitCode(on_terminal, 3000), 0);
  EXPECT_EQ(pty.ReadAll(), "\033]0;SNTP Client für Windows 95]0;x\aend");
}

TEST(ConsoleTest, DetachedDaemonRunsInItsOwnSessionWithoutTerminal) {
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  const pid_t original = ForkChild([&] {
    close(report[0]);
    if (DetachAsDaemon()) return 2;
    // Only the daemon gets here.
    struct stat null_info {
    }, out_info{};
    stat("/dev/null", &null_info);
    fstat(STDOUT_FILENO, &out_info);
    const bool on_null = out_info.st_rdev == null_info.st_rdev && S_ISCHR(out_info.st_mode);
    const bool no_terminal = open("/dev/tty", O_RDWR) < 0;
    const std::string line = std::to_string(getpid()) + " " + std::to_string(getsid(0)) + " " +
                             (on_null ? "null" : "other") + " " + (no_terminal ? "noterm" : "term") + "\n";
    (void)!write(report[1], line.data(), line.size());
    ConfirmDaemonStart(7);
    return 0;
  });
  close(report[1]);
  EXPECT_EQ(ChildExitCode(original, 3000), 7) << "the calling process ends with the status of the daemon's start";
  std::string line;
  char buffer[128];
  ssize_t got;
  while ((got = read(report[0], buffer, sizeof buffer)) > 0) line.append(buffer, static_cast<size_t>(got));
  close(report[0]);
  long pid = 0, sid = 0;
  char where[16] = {}, terminal[16] = {};
  ASSERT_EQ(std::sscanf(line.c_str(), "%ld %ld %15s %15s", &pid, &sid, where, terminal), 4) << line;
  EXPECT_NE(pid, original);
  EXPECT_NE(sid, getsid(0));
  EXPECT_NE(pid, sid) << "not a session leader, so it can never get a terminal back";
  EXPECT_STREQ(where, "null");
  EXPECT_STREQ(terminal, "noterm");
}

}  // namespace
}  // namespace chron::platform
