#include "engine/protection.h"

#include <gtest/gtest.h>

#include "tests/testutil/fake_network.h"

namespace chron {
namespace {

using testing::Endpoint;

// Without values everything is admitted and nothing limited; a list that does not parse is
// a fault with its value and word and closes what it guards, the others work.
TEST(ProtectionTest, BrokenListsAreFaultsAndCloseWhatTheyGuard) {
  const Protection open = ProtectionOf(Configuration{});
  EXPECT_TRUE(open.server.Admits(Endpoint("10.1.1.1", 123)) && open.TakesBroadcastFrom(Endpoint("10.1.1.1", 123)));
  EXPECT_FALSE(RateLimiter(open.rate, {}).Active());
  Configuration config;
  config.server_allow = "10.0.0.0/8 10.0.0.0/40";
  config.client_broadcast_from = "192.0.2.1";
  config.server_rate_limit = 1;
  config.server_rate_leak = 0;  // taken as the nearest in range
  const Protection p = ProtectionOf(config);
  EXPECT_FALSE(p.server.Admits(Endpoint("10.1.1.1", 123)));
  EXPECT_TRUE(p.TakesBroadcastFrom(Endpoint("192.0.2.1", 123)));
  EXPECT_FALSE(p.TakesBroadcastFrom(Endpoint("192.0.2.2", 123)));
  EXPECT_EQ(p.rate.leak, 1u);
  ASSERT_EQ(p.faults.size(), 1u);
  EXPECT_EQ(p.faults[0].path, "Server\\Allow");
  EXPECT_EQ(p.faults[0].word, "10.0.0.0/40");
  config.client_broadcast_from = "192.0.2.1 x";
  EXPECT_FALSE(ProtectionOf(config).TakesBroadcastFrom(Endpoint("192.0.2.1", 123)));
}

}  // namespace
}  // namespace chron
