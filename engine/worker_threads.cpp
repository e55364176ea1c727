#include "engine/worker_threads.h"

#include <system_error>
#include <utility>

namespace chron {

std::error_code WorkerThreads::Start(std::function<void()> body) {
  std::lock_guard lock(mutex_);
  try {
    threads_.emplace_back([this, body = std::move(body)] {
      body();
      End();
    });
  } catch (const std::system_error& e) {
    return e.code() ? e.code() : std::make_error_code(std::errc::resource_unavailable_try_again);
  }
  ++running_;
  return {};
}

void WorkerThreads::Begin() {
  std::lock_guard lock(mutex_);
  ++running_;
}

void WorkerThreads::End() {
  std::lock_guard lock(mutex_);
  --running_;
  ended_.notify_all();
}

bool WorkerThreads::WaitEnded(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return ended_.wait_for(lock, limit, [this] { return running_ == 0; });
}

void WorkerThreads::Join() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(threads_);
  }
  for (std::thread& thread : threads) thread.join();
}

}  // namespace chron
