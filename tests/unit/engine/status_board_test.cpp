#include "engine/status_board.h"

#include <gtest/gtest.h>

#include <vector>

namespace chron {
namespace {

constexpr int64_t kSecondNs = 1'000'000'000;

TEST(StatusBoardTest, HistoryKeepsTheLatestThousandSamples) {
  StatusBoard board;
  int events = 0;
  board.SetListener([&] { ++events; });
  for (int i = 0; i < 1005; ++i)
    board.SampleTaken(LastSample{i * kSecondNs, 0, 0, 1, "LOCL", {}}, "10.0.0.1", kCorrectionStepped);
  ClientState client;
  std::vector<HistoryEntry> history;
  board.Client(&client, &history);
  ASSERT_EQ(history.size(), kHistoryLength);
  EXPECT_EQ(history.front().time_ns, 5 * kSecondNs);
  EXPECT_EQ(board.Counters().samples_taken, 1005u);
  EXPECT_EQ(events, 1005);
}

}  // namespace
}  // namespace chron
