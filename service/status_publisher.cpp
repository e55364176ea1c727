#include "service/status_publisher.h"

#include <chrono>
#include <shared_mutex>
#include <utility>

#include "engine/status_board.h"
#include "messages/report.h"
#include "platform/process_watch.h"
#include "platform/status_file.h"
#include "status/status_text.h"
#include "status/synchronised.h"

namespace chron {

namespace {

// The longest the file lags behind the counters (and behind the synchronised state): the thread
// rewrites it at least this often, which the record tells its readers (period_s).
constexpr std::chrono::seconds kCounterPeriod{10};

}  // namespace

StatusPublisher::StatusPublisher(const StatusSources& sources, std::string program, std::string version,
                                 std::string path, std::function<void(const std::string&)> status_line)
    : in_(sources), path_(std::move(path)), status_line_(std::move(status_line)) {
  base_.program = std::move(program);
  base_.version = std::move(version);
  base_.pid = platform::CurrentProcessId();
  base_.period_s = static_cast<uint32_t>(kCounterPeriod.count());
  base_.process_identity = platform::SystemProcessWatch().Identity(base_.pid).value_or("");
}

StatusPublisher::~StatusPublisher() { Stop(); }

void StatusPublisher::Start() {
  base_.started_ns = in_.clock.NowNanoseconds();
  since_ns_ = base_.started_ns;
  base_.poll_client = in_.roles.client_active && in_.config.client_broadcast == 0;
  base_.broadcast_client = in_.roles.client_accepts_broadcasts;
  base_.server = in_.roles.server_active;
  base_.broadcasting = in_.roles.server_broadcasts;
  in_.status.SetListener([this] { Wake(); });
  Publish();
  thread_ = std::thread([this] { Run(); });
}

void StatusPublisher::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  wake_.notify_one();
}

void StatusPublisher::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

StatusRecord StatusPublisher::Snapshot(int64_t now_ns) {
  StatusRecord record = base_;
  record.updated_ns = now_ns;
  record.updated_boot_ms = platform::SystemProcessWatch().BootMilliseconds();
  {
    // The receive loop changes the table when the system's addresses change.
    std::shared_lock table_lock(in_.sockets.adapters_mutex);
    for (const AdapterEntry& entry : in_.sockets.adapters) {
      if (entry.in_use) record.adapters.push_back({entry.name, platform::DottedAddress(entry.address.address)});
    }
  }
  record.counters = in_.status.Counters();
  if (!in_.roles.client_active) return record;
  ClientState client;
  in_.status.Client(&client, &record.history);
  client.source = in_.config.client_broadcast != 0 ? std::string() : in_.config.client_time_source;
  // A broadcast client does not know its server's interval: it assumes the broadcaster's default.
  client.interval_s = in_.config.client_broadcast != 0 ? kDefaultBroadcastIntervalS : in_.config.client_poll_interval;
  const bool synchronised = IsSynchronised(client, now_ns);
  if (synchronised != synchronised_) {
    synchronised_ = synchronised;
    // In step since the sample that brought it; out of step since two intervals after the last
    // one taken, or since a sample that was not taken (refused, or the clock could not take it).
    const std::optional<int64_t> until = SynchronisedUntil(client);
    since_ns_ = synchronised ? client.last_sample->time_ns : until.value_or(client.last_sample->time_ns);
  }
  client.synchronised = synchronised_;
  client.since_ns = since_ns_;
  record.client = std::move(client);
  return record;
}

void StatusPublisher::Publish() {
  const int64_t now = in_.clock.NowNanoseconds();
  const StatusRecord record = Snapshot(now);
  const std::error_code error = platform::ReplaceFileContents(path_, StatusToJson(record));
  // A folder refused and a file that cannot be written are each told once in every mode, and the
  // program goes on without the file; in debug mode the trace tells each new error. None at
  // every write.
  if (platform::IsStatusFolderRefusal(error)) {
    if (!refusal_reported_) ReportMessage(msg::kStatusFolderRefused, {path_, error.message()});
    refusal_reported_ = true;
  } else if (error) {
    if (!failure_reported_) ReportMessage(msg::kStatusFileUnwritable, {path_, std::string(SystemErrorText(error))});
    failure_reported_ = true;
    if (error != last_error_ && DebugMode()) {
      Trace("SNTP-Status: Statusdatei %s nicht geschrieben, Fehler %d.\n", path_.c_str(), error.value());
    }
  }
  last_error_ = error;
  // Once the stop has begun the service manager's status tells the stop, not the time.
  if (status_line_ && !in_.shutdown.Wait(0)) status_line_(StatusSummary(record, now));
}

void StatusPublisher::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait_for(lock, kCounterPeriod, [this] { return woken_ || stop_; });
    woken_ = false;
    lock.unlock();
    Publish();
    lock.lock();
    if (stop_) return;
  }
}

}  // namespace chron
