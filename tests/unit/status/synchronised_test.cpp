#include "status/synchronised.h"

#include <gtest/gtest.h>

namespace chron {
namespace {

constexpr int64_t kSecondNs = 1'000'000'000;

// Synchronised: the last sample brought the clock into step within two intervals.
TEST(SynchronisedTest, ATakenSampleWithinTwoIntervals) {
  struct Row {
    const char* correction;  // null: no sample yet
    int64_t now;             // the sample was taken at 0, interval 64 s
    bool synchronised;
    std::optional<int64_t> until;
  } rows[] = {
      {nullptr, 0, false, std::nullopt},
      {kCorrectionStepped, 128 * kSecondNs, true, 128 * kSecondNs},
      {kCorrectionStepped, 128 * kSecondNs + 1, false, 128 * kSecondNs},
      {kCorrectionSlewed, 100 * kSecondNs, true, 128 * kSecondNs},
      {kCorrectionRefused, 0, false, std::nullopt},
      {kCorrectionFailed, 0, false, std::nullopt},
  };
  for (const Row& row : rows) {
    ClientState client;
    client.interval_s = 64;
    if (row.correction != nullptr) {
      client.last_sample = LastSample{0, 0.001, 0.0001, 1, "LOCL", std::nullopt};
      client.last_correction = row.correction;
    }
    EXPECT_EQ(IsSynchronised(client, row.now), row.synchronised) << (row.correction ? row.correction : "none");
    EXPECT_EQ(SynchronisedUntil(client), row.until) << (row.correction ? row.correction : "none");
  }
}

}  // namespace
}  // namespace chron
