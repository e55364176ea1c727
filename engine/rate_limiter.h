// How often the server answers one source, and all of them together.
//
// Per source (an IPv4 address, or the /64 of an IPv6 address; an IPv4-mapped IPv6 source counts
// as its IPv4 address) answers keep a mean interval of 2^interval s with a burst of `burst`:
// after a quiet spell `burst` requests in a row are answered, then one per 2^interval s. Of the
// requests over that limit one in 2^leak is still answered, so that a client whose address a
// flood forges keeps its time; of the rest, the first in each 2^interval s gets a Kiss-o'-Death
// RATE (which tells a real client to slow down), the others are dropped.
//
// The sources live in a table of fixed size, kEntries entries in sets of kWays, allocated once:
// forged sources cannot grow memory. A source's set is chosen by a hash under a random key, so
// that a flood cannot aim its sources at the set of one client. When a set is full, its least
// recently seen source is replaced; a replaced source starts again with a full burst, as a new
// one does.
//
// Above the ceiling (answers per second of all sources together, Kiss-o'-Death replies
// included; counted in windows of one second) every request is dropped.
//
// Pure: the caller passes the time. Used by the receive-loop thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/network.h"

namespace chron {

struct RateLimitSettings {
  bool per_source = false;  // the limit per source; off, only the ceiling (if any) applies
  unsigned interval = 3;    // log2 of the mean interval in seconds, 0..12
  unsigned burst = 8;       // answers in a row after a quiet spell, 1..255
  unsigned leak = 2;        // one in 2^leak of the requests over the limit is answered, 1..4
  uint32_t ceiling = 0;     // answers per second of all sources together; 0: none
};

// The settings as the limiter takes them: each number outside its range set to the nearest end.
RateLimitSettings BoundedRateLimitSettings(RateLimitSettings settings);

enum class RateVerdict {
  kAnswer,           // send the time
  kKiss,             // send a Kiss-o'-Death RATE (RateKiss) instead
  kDropRateLimited,  // the source is over its limit
  kDropCeiling,      // all sources together are over the ceiling
};

using RateHashKey = std::array<uint64_t, 2>;

// A key for the table's hash from the system's random source.
RateHashKey RandomRateHashKey();

class RateLimiter {
 public:
  static constexpr size_t kWays = 8;
  static constexpr size_t kSets = 512;
  static constexpr size_t kEntries = kWays * kSets;

  RateLimiter(const RateLimitSettings& settings, const RateHashKey& key);

  // Whether any limit applies: without one every verdict is kAnswer.
  bool Active() const { return settings_.per_source || settings_.ceiling != 0; }

  // The verdict on a request from `source` (its port does not count) at `now_ns`, a monotonic
  // time in nanoseconds.
  RateVerdict Decide(const platform::SocketAddress& source, int64_t now_ns);

  // Sources held, and how many the table holds at most (both 0 without the per-source limit).
  size_t Used() const { return used_; }
  size_t Capacity() const { return table_.size(); }

 private:
  struct Entry {
    uint64_t id = 0;      // IPv4 address (network byte order) or the first 8 bytes of IPv6
    int64_t seen_ns = 0;  // the latest request
    int64_t due_ns = 0;   // when the next answer keeps the mean interval; later: over budget
    int64_t kiss_ns = 0;  // the earliest time of the next Kiss-o'-Death
    uint32_t over = 0;    // requests over the limit, counted for the leak
    uint16_t family = 0;  // 0: the entry is free
  };

  Entry& Find(uint16_t family, uint64_t id, int64_t now_ns);
  RateVerdict DecideForSource(Entry* entry, int64_t now_ns) const;
  bool TakeCeiling(int64_t now_ns);

  RateLimitSettings settings_;
  RateHashKey key_;
  int64_t interval_ns_ = 0;
  std::vector<Entry> table_;  // kEntries with the per-source limit, else none
  size_t used_ = 0;
  int64_t window_start_ns_ = 0;  // the ceiling's current second
  uint64_t window_count_ = 0;    // replies in it
  bool window_open_ = false;
};

}  // namespace chron
