// The live state behind the status record: counters the receive path bumps (relaxed atomics,
// nothing else on that path) and the client's events, kept under a lock and announced to a
// listener (the status publisher), which writes the file on a thread of its own.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "engine/drop_reason.h"
#include "status/status_record.h"

namespace chron {

class StatusBoard {
 public:
  // Counters: any thread, lock-free.
  void CountDrop(DropReason reason) { drops_[static_cast<size_t>(reason)].fetch_add(1, std::memory_order_relaxed); }
  void CountAnswered(uint64_t replies = 1) { answered_.fetch_add(replies, std::memory_order_relaxed); }
  void CountBroadcast() { broadcasts_.fetch_add(1, std::memory_order_relaxed); }
  void CountKiss() { kisses_.fetch_add(1, std::memory_order_relaxed); }
  // Network Time Security: the server's NTS-KE sessions (the NTS-KE server's threads) and NTS
  // requests answered or refused (receive thread). Each also marks NTS as in use, so that the
  // record shows the counts; NtsServing marks it before the first.
  void NtsServing() { nts_.store(true, std::memory_order_relaxed); }
  void CountNtsKeSession() { Bump(nts_ke_sessions_); }
  void CountNtsAnswered() { Bump(nts_answered_); }
  void CountNtsRefused() { Bump(nts_refused_); }
  // The NTS client's state (poll thread and receive thread): whether its last sample came
  // through NTS, and the cookies it holds.
  void NtsClient(bool authenticated, uint32_t cookies);
  // The rate limiter's table: sources held of how many it can hold (receive thread).
  void RateTable(uint64_t used, uint64_t size) {
    rate_table_used_.store(used, std::memory_order_relaxed);
    rate_table_size_.store(size, std::memory_order_relaxed);
  }

  // Client events (poll thread and receive thread); each calls the listener after the lock is
  // released. `time_ns` on the service's clock.
  void RequestSent(int64_t time_ns, const std::string& address);
  // `frequency_ppm`: the clock's frequency correction where the client disciplines it.
  void SampleTaken(const LastSample& sample, const std::string& address, const char* correction,
                   std::optional<double> frequency_ppm = std::nullopt);
  // The adapter table changed with the system's addresses (receive thread).
  void AdaptersChanged() {
    if (listener_) listener_();
  }

  // Called after each client event; set before the worker threads start.
  void SetListener(std::function<void()> listener) { listener_ = std::move(listener); }

  // The counters and the client's part as they are now. `client` gets source, address, the
  // last request and sample, the last correction; the caller judges `synchronised`
  // (status/synchronised.h).
  StatusCounters Counters() const;
  void Client(ClientState* client, std::vector<HistoryEntry>* history) const;

 private:
  void Bump(std::atomic<uint64_t>& counter) {
    nts_.store(true, std::memory_order_relaxed);
    counter.fetch_add(1, std::memory_order_relaxed);
  }

  std::array<std::atomic<uint64_t>, kDropReasonCount> drops_{};
  std::atomic<uint64_t> answered_{0};
  std::atomic<uint64_t> broadcasts_{0};
  std::atomic<uint64_t> kisses_{0};
  std::atomic<uint64_t> rate_table_used_{0};
  std::atomic<uint64_t> rate_table_size_{0};
  std::atomic<bool> nts_{false};
  std::atomic<uint64_t> nts_ke_sessions_{0};
  std::atomic<uint64_t> nts_answered_{0};
  std::atomic<uint64_t> nts_refused_{0};

  mutable std::mutex mutex_;
  std::optional<int64_t> last_request_ns_;
  std::string address_;
  std::optional<LastSample> last_sample_;
  std::string last_correction_;
  std::optional<double> frequency_ppm_;
  uint64_t samples_ = 0;
  std::deque<HistoryEntry> history_;
  std::optional<ClientState::Nts> nts_client_;
  std::function<void()> listener_;
};

}  // namespace chron
