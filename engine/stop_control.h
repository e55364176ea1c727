// The start and the stop of a running service: the events the threads wait on, the worker
// threads themselves, and what a stop request may wake.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "engine/worker_threads.h"
#include "platform/event.h"
#include "platform/network.h"

namespace chron {

struct StopControl {
  platform::Event shutdown;  // set once by RequestStop
  platform::Event start;     // set by the receive loop when it starts
  // Set with `start` by a start-up that failed after it had started workers: they end unseen.
  std::atomic<bool> start_abandoned{false};
  // The worker threads and the activities the stop waits for; joined before the process ends.
  WorkerThreads workers;

  // What a stop request may wake, guarded by `mutex`. Start-up fills the adapter table without
  // a lock while a stop may already arrive on another thread, so the table is handed to the
  // stop only when the receive loop starts over the complete table; the loop then wakes itself
  // for a stop that came earlier.
  std::mutex mutex;
  bool may_wake = false;                          // the table is complete and the loop has started
  platform::SocketWaiter* loop_waiter = nullptr;  // the running loop's waiter; null once it ended

  // RequestStop of the host: signals `shutdown`, reports, wakes the receive loop.
  std::function<bool()> request_stop;
  // Called when the receive loop ends: releases the instance mutex.
  std::function<void()> release_instance;
};

}  // namespace chron
