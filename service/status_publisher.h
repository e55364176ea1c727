// Publishes the status record of a running program to the status file: at start, after every
// client event, and at most every 10 s when only counters moved. Writing happens on a thread of
// its own; the receive path only bumps counters and wakes it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "engine/contexts.h"
#include "status/status_record.h"

namespace chron {

// What the record is made of: the parts that run, the settings of the client, the clock, the
// counters and client events, the adapter table (shared lock) and the shutdown event.
struct StatusSources {
  const Configuration& config;
  Roles roles;
  platform::Clock& clock;
  StatusBoard& status;
  Sockets& sockets;
  platform::Event& shutdown;
};

class StatusPublisher {
 public:
  // `status_line` gets the summary after each write (the service manager's STATUS=); may be
  // empty.
  StatusPublisher(const StatusSources& sources, std::string program, std::string version, std::string path,
                  std::function<void(const std::string&)> status_line);
  ~StatusPublisher();
  StatusPublisher(const StatusPublisher&) = delete;
  StatusPublisher& operator=(const StatusPublisher&) = delete;

  // Writes the first record (not synchronised) and starts the writing thread. Call after the
  // start-up has filled the adapter table and before the workers are released.
  void Start();
  // A client event or a stop: the thread writes at once.
  void Wake();
  // Ends the thread (after one last write).
  void Stop();

  // The record as it is at `now_ns` (service's clock); judges and remembers the client's state.
  StatusRecord Snapshot(int64_t now_ns);

 private:
  void Run();
  void Publish();

  StatusSources in_;
  StatusRecord base_;  // program, pid, version, start, modes
  std::string path_;
  std::function<void(const std::string&)> status_line_;
  bool synchronised_ = false;
  int64_t since_ns_ = 0;
  std::error_code last_error_;
  bool refusal_reported_ = false;  // of the status file's folder: once per process
  bool failure_reported_ = false;  // a write that failed otherwise: once per process

  std::mutex mutex_;
  std::condition_variable wake_;
  bool woken_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace chron
