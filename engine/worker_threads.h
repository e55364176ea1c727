// The threads a running service starts beside its main thread (the client's poll thread, the
// server's broadcaster, chron95's shutdown watcher), and what the stop waits for before it ends
// the process. Every thread is joined, at the latest when the set is destroyed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace chron {

class WorkerThreads {
 public:
  WorkerThreads() = default;
  WorkerThreads(const WorkerThreads&) = delete;
  WorkerThreads& operator=(const WorkerThreads&) = delete;
  ~WorkerThreads() { Join(); }

  // Starts `body` on a thread of its own; the runtime library's error when it cannot.
  std::error_code Start(std::function<void()> body);
  // An activity on a thread the caller owns (the service's start-up and receive loop), counted
  // from Begin to End so that the waits below wait for it too.
  void Begin();
  void End();
  // Waits up to `limit` for every started body and every begun activity to end; true when they
  // have (at once when none runs).
  bool WaitEnded(std::chrono::milliseconds limit);
  // Waits for every started thread to end and joins it.
  void Join();

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
  int running_ = 0;
  std::vector<std::thread> threads_;
};

}  // namespace chron
