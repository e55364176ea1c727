// Linux implementation of the console: the terminal of standard input and output (termios,
// xterm title sequence) and detaching from it as a daemon.
#include "platform/console.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

namespace chron::platform {

void OpenConsole() {}

// A terminal's encoding is the user's locale's; the programs print UTF-8 whatever it is.
void UseUtf8Console() {}
void RestoreConsole() {}

void WriteText(std::FILE* stream, std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream); }

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

void WaitForKey() {
  termios saved{};
  if (!StdinIsTerminal() || tcgetattr(STDIN_FILENO, &saved) != 0) return;
  // A job in the background of its terminal would be stopped (SIGTTOU) by changing the mode and
  // could never get the key: it does not wait either. tcgetpgrp fails when the terminal is not
  // this process's controlling terminal; the key is then read all the same.
  const pid_t foreground = tcgetpgrp(STDIN_FILENO);
  if (foreground > 0 && foreground != getpgrp()) return;
  termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return;
  char key = 0;
  while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
  }
  // A key such as an arrow sends several bytes: drop the rest so that the shell does not get it.
  tcflush(STDIN_FILENO, TCIFLUSH);
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

void SetTerminalTitle(std::string_view title) {
  if (isatty(STDOUT_FILENO) != 1) return;
  std::string sequence = "\033]0;";
  for (char c : title) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) sequence += c;
  }
  sequence += '\a';
  std::fputs(sequence.c_str(), stdout);
  std::fflush(stdout);
}

namespace {

// The daemon's end of the channel to the waiting original process, until the start is told.
std::atomic<int> g_start_channel{-1};

// Writes one number to the waiting original process: the outcome of detaching (0 or an errno
// value), later the exit status of the start.
void Tell(int channel, int value) {
  while (write(channel, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

// Reads one number from the daemon; false when it ended the channel before.
bool Hear(int channel, int* value) {
  ssize_t got;
  while ((got = read(channel, value, sizeof *value)) < 0 && errno == EINTR) {
  }
  return got == static_cast<ssize_t>(sizeof *value);
}

}  // namespace

std::error_code DetachAsDaemon() {
  // Text still buffered would otherwise be written twice, by the original and by the daemon.
  std::fflush(nullptr);
  int channel[2];
  if (pipe2(channel, O_CLOEXEC) != 0) return SystemError(errno);
  const pid_t child = fork();
  if (child < 0) {
    const std::error_code error = SystemError(errno);
    close(channel[0]);
    close(channel[1]);
    return error;
  }
  if (child > 0) {
    // Original process: the daemon's word on detaching, then, once it is set up, the exit status
    // of its start; or report the failure of detaching.
    close(channel[1]);
    int error = 0;
    const bool told = Hear(channel[0], &error);
    if (told && error == 0) {
      int status = 1;  // the daemon ended before it could tell
      Hear(channel[0], &status);
      _exit(status);
    }
    close(channel[0]);
    if (!told) error = ECHILD;  // died before telling
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return SystemError(error);
  }
  close(channel[0]);
  if (setsid() < 0) {
    Tell(channel[1], errno);
    _exit(1);
  }
  // A second fork: the daemon is no session leader and so can never acquire a terminal again.
  const pid_t daemon = fork();
  if (daemon < 0) {
    Tell(channel[1], errno);
    _exit(1);
  }
  if (daemon > 0) _exit(0);
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) {
    Tell(channel[1], errno);
    _exit(1);
  }
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (dup2(null, fd) < 0) {
      Tell(channel[1], errno);
      _exit(1);
    }
  }
  if (null > STDERR_FILENO) close(null);
  Tell(channel[1], 0);
  g_start_channel = channel[1];
  return {};
}

void ConfirmDaemonStart(int exit_status) {
  const int channel = g_start_channel.exchange(-1);
  if (channel < 0) return;
  Tell(channel, exit_status);
  close(channel);
}

}  // namespace chron::platform
