// Limits the reports that datagrams from the network can repeat at will (a receive error per
// datagram, a failed reply per request): at most one per message per `window`. The first one
// allowed after suppressed ones is preceded by a report of how many were suppressed.
// Used by the receive-loop thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace chron {

class ReportLimit {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // True when a report of message `id` may go out now (after the report of the suppressed
  // ones, if any); false counts it as suppressed.
  bool Allow(uint32_t id);
  // Reports how many of each message were suppressed since its last report (at the end).
  void Flush();

  std::chrono::seconds window{10};
  std::function<TimePoint()> now = [] { return std::chrono::steady_clock::now(); };

 private:
  struct Entry {
    uint32_t id;
    TimePoint reported;  // when the last report of `id` went out
    uint64_t suppressed;
  };
  void ReportSuppressed(Entry& entry);

  std::vector<Entry> entries_;
};

}  // namespace chron
