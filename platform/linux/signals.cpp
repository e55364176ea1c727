// Linux implementation of the control signals: blocked in every thread and read from a signalfd
// by a thread of their own, so no work is ever done inside a signal handler.
#include "platform/signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "platform/error_text.h"

namespace chron::platform {
namespace {

struct Mapping {
  int number;
  ControlSignal signal;
};
constexpr Mapping kSignals[] = {
    {SIGINT, ControlSignal::kInterrupt},    {SIGQUIT, ControlSignal::kBreak}, {SIGTERM, ControlSignal::kStop},
    {SIGUSR1, ControlSignal::kInterrogate}, {SIGHUP, ControlSignal::kHangup},
};

sigset_t ControlSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const Mapping& m : kSignals) sigaddset(&set, m.number);
  return set;
}

int NumberOf(ControlSignal signal) {
  for (const Mapping& m : kSignals) {
    if (m.signal == signal) return m.number;
  }
  return SIGTERM;
}

}  // namespace

std::error_code BlockControlSignals() {
  const sigset_t set = ControlSet();
  return SystemError(pthread_sigmask(SIG_BLOCK, &set, nullptr));
}

struct ControlSignalWatcher::State {
  int signals = -1;  // signalfd for the control signals
  int stop = -1;     // eventfd written by the destructor
  std::thread thread;

  ~State() {
    if (thread.joinable()) {
      const uint64_t one = 1;
      while (write(stop, &one, sizeof one) < 0 && errno == EINTR) {
      }
      thread.join();
    }
    if (signals >= 0) close(signals);
    if (stop >= 0) close(stop);
  }

  void Run(const Handler& handler) const {
    pollfd watched[2] = {{signals, POLLIN, 0}, {stop, POLLIN, 0}};
    for (;;) {
      if (poll(watched, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (watched[1].revents != 0) return;
      signalfd_siginfo info{};
      if (read(signals, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
      for (const Mapping& m : kSignals) {
        if (static_cast<int>(info.ssi_signo) == m.number) handler(m.signal);
      }
    }
  }
};

ControlSignalWatcher::ControlSignalWatcher(std::unique_ptr<State> state) : state_(std::move(state)) {}
ControlSignalWatcher::~ControlSignalWatcher() = default;

std::error_code ControlSignalWatcher::Start(Handler handler, std::unique_ptr<ControlSignalWatcher>* out) {
  out->reset();
  auto state = std::make_unique<State>();
  const sigset_t set = ControlSet();
  state->signals = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  if (state->signals < 0) return SystemError(errno);
  state->stop = eventfd(0, EFD_CLOEXEC);
  if (state->stop < 0) return SystemError(errno);
  try {
    State* raw = state.get();
    state->thread = std::thread([raw, handler = std::move(handler)] { raw->Run(handler); });
  } catch (const std::system_error& e) {
    return SystemError(e.code().value());  // an errno value (generic category)
  }
  out->reset(new ControlSignalWatcher(std::move(state)));
  return {};
}

void RestoreDefaultAndRaise(ControlSignal signal) {
  const int number = NumberOf(signal);
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(number, &action, nullptr);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, number);
  // Raise first: the signal is then pending for this thread and is delivered as the mask opens.
  raise(number);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
}

}  // namespace chron::platform
