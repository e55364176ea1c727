#include "engine/protection.h"

#include <gtest/gtest.h>

#include "tests/testutil/fake_network.h"
#include "tests/testutil/report_capture.h"

namespace chron {
namespace {

using testing::Endpoint;

TEST(ProtectionTest, WithoutValuesEverythingIsAdmittedAndNothingLimited) {
  const Protection p = ProtectionOf(Configuration{});
  EXPECT_TRUE(p.server.Admits(Endpoint("192.0.2.1", 123)));
  EXPECT_TRUE(p.TakesBroadcastFrom(Endpoint("192.0.2.1", 123)));
  EXPECT_FALSE(RateLimiter(p.rate, {}).Active());
  EXPECT_TRUE(p.faults.empty());
}

// Each list that does not parse is reported with its value and word and closes what it guards;
// the other lists still work.
TEST(ProtectionTest, BrokenListsAreReportedAndCloseWhatTheyGuard) {
  Configuration config;
  config.server_allow = "10.0.0.0/8 10.0.0.0/40";
  config.client_broadcast_from = "192.0.2.1";
  config.server_rate_limit = 1;
  config.server_rate_leak = 0;  // taken as the nearest in range
  const Protection p = ProtectionOf(config);
  EXPECT_FALSE(p.server.Admits(Endpoint("10.1.1.1", 123)));
  EXPECT_TRUE(p.TakesBroadcastFrom(Endpoint("192.0.2.1", 123)));
  EXPECT_FALSE(p.TakesBroadcastFrom(Endpoint("192.0.2.2", 123)));
  EXPECT_TRUE(p.rate.per_source);
  EXPECT_EQ(p.rate.leak, 1u);

  config.server_allow.reset();
  config.client_broadcast_from = "192.0.2.1\x1b[2J";
  const Protection q = ProtectionOf(config);
  EXPECT_TRUE(q.server.Admits(Endpoint("10.1.1.1", 123)));
  EXPECT_FALSE(q.TakesBroadcastFrom(Endpoint("192.0.2.1", 123)));
  testing::ReportCapture capture(ReportTarget::kConsole);
  ReportListFaults(p);
  ReportListFaults(q);
  EXPECT_EQ(capture.console_text(),
            "SNTP-Init: Der Wert Server\\Allow aus der Registry ist fehlerhaft: 10.0.0.0/40 ist keine IP-Adresse und "
            "kein Adressbereich. Solange der Wert fehlerhaft ist, beantwortet der SNTP Server keine Anfragen (Allow, "
            "Deny) bzw. nimmt der SNTP Client keine Broadcasts an (BroadcastFrom).\n"
            "SNTP-Init: Der Wert Client\\BroadcastFrom aus der Registry ist fehlerhaft: 192.0.2.1\\u001b[2J ist keine "
            "IP-Adresse und kein Adressbereich. Solange der Wert fehlerhaft ist, beantwortet der SNTP Server keine "
            "Anfragen (Allow, Deny) bzw. nimmt der SNTP Client keine Broadcasts an (BroadcastFrom).\n");
}

}  // namespace
}  // namespace chron
