#include "engine/broadcast_copies.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/testutil/fake_network.h"

namespace chron {
namespace {

using testing::Endpoint;

TEST(BroadcastCopiesTest, SameSenderAndBytesWithinTheWindowIsACopy) {
  const auto t0 = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  const std::vector<uint8_t> a(48, 1);
  std::vector<uint8_t> b = a;
  b[47] = 2;
  const std::vector<uint8_t> signed_a(68, 1);
  const std::vector<uint8_t> longer(69, 1);
  struct Case {
    const char* address;
    uint16_t port;
    const std::vector<uint8_t>* bytes;
    int at_ms;
    bool copy;
  };
  const Case cases[] = {
      {"10.0.0.7", 123, &a, 0, false},         {"10.0.0.7", 123, &a, 1, true},
      {"10.0.0.7", 124, &a, 1, false},         {"10.0.0.8", 123, &a, 1, false},
      {"10.0.0.7", 123, &b, 1, false},         {"10.0.0.7", 123, &signed_a, 1, false},
      {"10.0.0.7", 123, &signed_a, 2, true},   {"10.0.0.7", 123, &a, 2000, true},
      {"10.0.0.7", 123, &a, 2001, false},  // the window has passed: remembered anew
      {"10.0.0.7", 123, &longer, 3000, false}, {"10.0.0.7", 123, &longer, 3000, false},
  };
  BroadcastCopies copies;
  for (const Case& c : cases) {
    EXPECT_EQ(copies.Repeated(Endpoint(c.address, c.port), c.bytes->data(), c.bytes->size(),
                              t0 + std::chrono::milliseconds(c.at_ms)),
              c.copy)
        << c.address << ":" << c.port << " " << c.bytes->size() << " bytes at " << c.at_ms;
  }
}

}  // namespace
}  // namespace chron
