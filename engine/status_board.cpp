#include "engine/status_board.h"

namespace chron {

void StatusBoard::RequestSent(int64_t time_ns, const std::string& address) {
  {
    std::lock_guard lock(mutex_);
    last_request_ns_ = time_ns;
    address_ = address;
  }
  if (listener_) listener_();
}

void StatusBoard::SampleTaken(const LastSample& sample, const std::string& address, const char* correction,
                              std::optional<double> frequency_ppm) {
  {
    std::lock_guard lock(mutex_);
    frequency_ppm_ = frequency_ppm;
    last_sample_ = sample;
    address_ = address;
    last_correction_ = correction;
    ++samples_;
    history_.push_back({sample.time_ns, sample.offset_s, sample.delay_s, correction});
    if (history_.size() > kHistoryLength) history_.pop_front();
  }
  if (listener_) listener_();
}

void StatusBoard::NtsClient(bool authenticated, uint32_t cookies) {
  {
    std::lock_guard lock(mutex_);
    nts_client_ = ClientState::Nts{authenticated, cookies};
  }
  if (listener_) listener_();
}

StatusCounters StatusBoard::Counters() const {
  StatusCounters counters;
  counters.requests_answered = answered_.load(std::memory_order_relaxed);
  counters.broadcasts_sent = broadcasts_.load(std::memory_order_relaxed);
  counters.kisses_sent = kisses_.load(std::memory_order_relaxed);
  counters.rate_table_used = rate_table_used_.load(std::memory_order_relaxed);
  counters.rate_table_size = rate_table_size_.load(std::memory_order_relaxed);
  counters.nts = nts_.load(std::memory_order_relaxed);
  counters.nts_ke_sessions = nts_ke_sessions_.load(std::memory_order_relaxed);
  counters.nts_requests_answered = nts_answered_.load(std::memory_order_relaxed);
  counters.nts_requests_refused = nts_refused_.load(std::memory_order_relaxed);
  for (size_t i = 0; i < kDropReasonCount; ++i) {
    counters.dropped[DropReasonName(static_cast<DropReason>(i))] = drops_[i].load(std::memory_order_relaxed);
  }
  std::lock_guard lock(mutex_);
  counters.samples_taken = samples_;
  return counters;
}

void StatusBoard::Client(ClientState* client, std::vector<HistoryEntry>* history) const {
  std::lock_guard lock(mutex_);
  client->address = address_;
  client->last_request_ns = last_request_ns_;
  client->last_sample = last_sample_;
  client->last_correction = last_correction_;
  client->frequency_ppm = frequency_ppm_;
  client->nts = nts_client_;
  history->assign(history_.begin(), history_.end());
}

}  // namespace chron
