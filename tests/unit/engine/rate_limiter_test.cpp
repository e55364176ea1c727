#include "engine/rate_limiter.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace chron {
namespace {

constexpr int64_t kS = 1'000'000'000;
constexpr RateHashKey kKey = {0x0123456789abcdefull, 0xfedcba9876543210ull};
using V = RateVerdict;

platform::SocketAddress Source(const char* text) {
  platform::SocketAddress address;
  EXPECT_TRUE(platform::ParseAddressText(text, &address)) << text;
  return address;
}

platform::SocketAddress Forged(uint32_t n) {
  platform::SocketAddress address;
  address.address = platform::HostToNetwork32(0x0A000000u + n);  // 10.0.0.0/8 upwards
  return address;
}

RateLimitSettings PerSource(uint32_t ceiling = 0) { return {.per_source = true, .ceiling = ceiling}; }

// One source, defaults (8 s, burst 8, leak 2): 8 answers at once, then the first request over
// the limit is kissed, every fourth over it answered, one answer per 8 s from then on, and after a
// quiet spell a full burst again.
TEST(RateLimiterTest, BurstThenOneAnswerPerIntervalWithLeakAndOneKissPerInterval) {
  const struct {
    int64_t at_ns;
    int count;
    V verdict;
  } steps[] = {
      {0, 8, V::kAnswer},
      {0, 1, V::kKiss},
      {0, 2, V::kDropRateLimited},
      {0, 1, V::kAnswer},
      {kS, 3, V::kDropRateLimited},
      {kS, 1, V::kAnswer},
      {8 * kS - 1, 3, V::kDropRateLimited},
      {8 * kS - 1, 1, V::kAnswer},
      {8 * kS, 1, V::kAnswer},
      {8 * kS, 1, V::kKiss},
      {16 * kS, 1, V::kAnswer},
      {16 * kS, 1, V::kKiss},
      {16 * kS, 1, V::kDropRateLimited},
      {200 * kS, 8, V::kAnswer},
  };
  RateLimiter limiter(PerSource(), kKey);
  const platform::SocketAddress source = Source("192.0.2.1");
  for (const auto& s : steps) {
    for (int i = 0; i < s.count; ++i) {
      EXPECT_EQ(limiter.Decide(source, s.at_ns), s.verdict) << s.at_ns << " #" << i;
    }
  }
  EXPECT_EQ(limiter.Used(), 1u);
}

// A flood from one source: of the requests over the limit one in 2^leak gets the time, and one
// Kiss-o'-Death per interval goes out, whatever the rate.
TEST(RateLimiterTest, FloodGetsLeakShareAndOneKissPerInterval) {
  for (unsigned leak : {1u, 2u, 4u}) {
    RateLimitSettings settings = PerSource();
    settings.leak = leak;
    RateLimiter limiter(settings, kKey);
    std::map<V, int> seen;
    constexpr int kSeconds = 64, kPerSecond = 1000;  // 64 s: 8 intervals
    for (int64_t n = 0; n < int64_t{kSeconds} * kPerSecond; ++n) {
      ++seen[limiter.Decide(Source("2001:db8::1"), n * kS / kPerSecond)];
    }
    const int over = kSeconds * kPerSecond - 8 - 7;  // the burst and one answer per later interval
    EXPECT_NEAR(seen[V::kAnswer], 8 + 7 + (over >> leak), 2) << leak;
    EXPECT_EQ(seen[V::kKiss], 8) << leak;
  }
}

TEST(RateLimiterTest, SourceIsTheIpv4AddressOrTheIpv6Slash64) {
  const struct {
    const char* first;
    const char* second;
    bool shared;
  } cases[] = {
      {"192.0.2.1", "192.0.2.2", false},
      {"192.0.2.1", "::ffff:192.0.2.1", true},
      {"2001:db8:0:1::1", "2001:db8:0:1:ffff::2", true},
      {"2001:db8:0:1::1", "2001:db8:0:2::1", false},
  };
  for (const auto& c : cases) {
    RateLimiter limiter(PerSource(), kKey);
    for (int i = 0; i < 8; ++i) limiter.Decide(Source(c.first), 0);
    EXPECT_EQ(limiter.Decide(Source(c.second), 0), c.shared ? V::kKiss : V::kAnswer) << c.first << " " << c.second;
  }
}

// The ceiling bounds answers and kisses of all sources together per second; with it alone
// there is no table.
TEST(RateLimiterTest, CeilingBoundsAllRepliesPerSecond) {
  for (bool per_source : {false, true}) {
    RateLimitSettings settings = PerSource(10);
    settings.per_source = per_source;
    RateLimiter limiter(settings, kKey);
    std::map<V, int> seen;
    for (int64_t t = 0; t < 5; ++t) {  // five sources: at 4 s over their limit of 8 answers
      for (uint32_t n = 0; n < 500; ++n) ++seen[limiter.Decide(Forged(n % 5), t * kS + n)];
    }
    EXPECT_EQ(seen[V::kAnswer] + seen[V::kKiss], 50) << per_source;
    EXPECT_EQ(seen[V::kKiss], per_source ? 5 : 0);
    EXPECT_EQ(limiter.Capacity(), per_source ? RateLimiter::kEntries : 0u);
  }
}

// 100,000 forged sources over 160 s beside a client polling every 16 s: the table keeps its
// size, and the client, whose entry the flood replaces between its polls, is answered every time.
TEST(RateLimiterTest, ForgedFloodKeepsTheTableAndARealClientAnswered) {
  RateLimiter limiter(PerSource(), kKey);
  int client_answered = 0;
  for (uint32_t n = 0; n < 100'000; ++n) {
    const int64_t now = int64_t{n} * 1'600'000;  // 1.6 ms apart
    limiter.Decide(Forged(n), now);
    if (n % 10'000 == 0) client_answered += limiter.Decide(Source("192.0.2.77"), now) == V::kAnswer;
  }
  EXPECT_EQ(limiter.Capacity(), RateLimiter::kEntries);
  EXPECT_EQ(limiter.Used(), RateLimiter::kEntries);
  EXPECT_EQ(client_answered, 10);
}

}  // namespace
}  // namespace chron
