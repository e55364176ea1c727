#include "engine/rate_limiter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

namespace chron {

namespace {

constexpr int64_t kNsPerS = 1'000'000'000;
constexpr platform::Ipv6Bytes kMappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};  // ::ffff:0:0/96

uint64_t Rotate(uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

// SipHash-2-4 (Aumasson and Bernstein) of the 16 bytes `m0`, `m1` (as little-endian words)
// under `key`: an attacker who does not know the key cannot choose sources that share a set.
uint64_t SipHash(const RateHashKey& key, uint64_t m0, uint64_t m1) {
  uint64_t v0 = key[0] ^ 0x736f6d6570736575ull;
  uint64_t v1 = key[1] ^ 0x646f72616e646f6dull;
  uint64_t v2 = key[0] ^ 0x6c7967656e657261ull;
  uint64_t v3 = key[1] ^ 0x7465646279746573ull;
  auto round = [&] {
    v0 += v1;
    v1 = Rotate(v1, 13) ^ v0;
    v0 = Rotate(v0, 32);
    v2 += v3;
    v3 = Rotate(v3, 16) ^ v2;
    v0 += v3;
    v3 = Rotate(v3, 21) ^ v0;
    v2 += v1;
    v1 = Rotate(v1, 17) ^ v2;
    v2 = Rotate(v2, 32);
  };
  for (uint64_t m : {m0, m1, uint64_t{16} << 56}) {  // the last block: the length, 16 bytes
    v3 ^= m;
    round();
    round();
    v0 ^= m;
  }
  v2 ^= 0xFF;
  for (int i = 0; i < 4; ++i) round();
  return v0 ^ v1 ^ v2 ^ v3;
}

unsigned Bounded(unsigned value, unsigned lowest, unsigned highest) { return std::clamp(value, lowest, highest); }

}  // namespace

RateLimitSettings BoundedRateLimitSettings(RateLimitSettings settings) {
  settings.interval = Bounded(settings.interval, 0, 12);
  settings.burst = Bounded(settings.burst, 1, 255);
  settings.leak = Bounded(settings.leak, 1, 4);
  return settings;
}

RateHashKey RandomRateHashKey() {
  std::random_device random;
  RateHashKey key{};
  for (uint64_t& word : key) word = uint64_t{random()} << 32 | random();
  return key;
}

RateLimiter::RateLimiter(const RateLimitSettings& settings, const RateHashKey& key)
    : settings_(BoundedRateLimitSettings(settings)), key_(key), interval_ns_(kNsPerS << settings_.interval) {
  if (settings_.per_source) table_.resize(kEntries);
}

// The source's entry: the one it has, else a free one of its set, else the set's least recently
// seen, started afresh.
RateLimiter::Entry& RateLimiter::Find(uint16_t family, uint64_t id, int64_t now_ns) {
  const size_t set = SipHash(key_, id, family) % kSets;
  Entry* first = &table_[set * kWays];
  // A set spans five or six cache lines, seldom cached with many sources: asked for together,
  // they arrive in the time of one instead of one after the other as the scan reaches them.
  const uintptr_t end = reinterpret_cast<uintptr_t>(first + kWays);
  for (uintptr_t line = reinterpret_cast<uintptr_t>(first) & ~uintptr_t{63}; line < end; line += 64) {
    __builtin_prefetch(reinterpret_cast<const void*>(line), 1);
  }
  Entry* choice = nullptr;
  for (Entry* e = first; e != first + kWays; ++e) {
    if (e->family == family && e->id == id) return *e;
    if (choice == nullptr || (choice->family != 0 && (e->family == 0 || e->seen_ns < choice->seen_ns))) choice = e;
  }
  if (choice->family == 0) ++used_;
  *choice = Entry{id, now_ns, now_ns, std::numeric_limits<int64_t>::min(), 0, family};
  return *choice;
}

// The generic cell rate algorithm: an answer moves `due_ns` on by one interval; a source may run
// ahead of it by burst - 1 intervals.
RateVerdict RateLimiter::DecideForSource(Entry* e, int64_t now_ns) const {
  e->seen_ns = now_ns;
  const int64_t due = std::max(e->due_ns, now_ns);
  if (due - now_ns <= int64_t{settings_.burst - 1} * interval_ns_) {
    e->due_ns = due + interval_ns_;
    return RateVerdict::kAnswer;
  }
  if ((++e->over & ((1u << settings_.leak) - 1)) == 0) return RateVerdict::kAnswer;
  if (now_ns >= e->kiss_ns) {
    e->kiss_ns = now_ns + interval_ns_;
    return RateVerdict::kKiss;
  }
  return RateVerdict::kDropRateLimited;
}

bool RateLimiter::TakeCeiling(int64_t now_ns) {
  if (settings_.ceiling == 0) return true;
  if (!window_open_ || now_ns - window_start_ns_ >= kNsPerS || now_ns < window_start_ns_) {
    window_open_ = true;
    window_start_ns_ = now_ns;
    window_count_ = 0;
  }
  if (window_count_ >= settings_.ceiling) return false;
  ++window_count_;
  return true;
}

RateVerdict RateLimiter::Decide(const platform::SocketAddress& source, int64_t now_ns) {
  RateVerdict verdict = RateVerdict::kAnswer;
  Entry* entry = nullptr;
  Entry decided;
  if (settings_.per_source) {
    uint16_t family = platform::kAfInet;
    uint64_t id = source.address;
    const platform::Ipv6Bytes& v6 = source.address6;
    if (source.family == platform::kAfInet6 && std::equal(v6.begin(), v6.begin() + 12, kMappedPrefix.begin())) {
      uint32_t v4 = 0;
      std::memcpy(&v4, v6.data() + 12, sizeof v4);
      id = v4;
    } else if (source.family == platform::kAfInet6) {
      family = platform::kAfInet6;
      std::memcpy(&id, v6.data(), sizeof id);  // the /64, in whatever order the host keeps words
    }
    entry = &Find(family, id, now_ns);
    decided = *entry;
    verdict = DecideForSource(&decided, now_ns);
  }
  if (verdict != RateVerdict::kDropRateLimited && !TakeCeiling(now_ns)) {
    if (entry != nullptr) entry->seen_ns = now_ns;  // the source keeps the budget it did not use
    return RateVerdict::kDropCeiling;
  }
  if (entry != nullptr) *entry = decided;
  return verdict;
}

}  // namespace chron
