#include "status/synchronised.h"

namespace chron {

std::optional<int64_t> SynchronisedUntil(const ClientState& client) {
  if (!client.last_sample ||
      (client.last_correction != kCorrectionStepped && client.last_correction != kCorrectionSlewed)) {
    return std::nullopt;
  }
  return client.last_sample->time_ns + 2 * int64_t{client.interval_s} * 1'000'000'000;
}

bool IsSynchronised(const ClientState& client, int64_t now_ns) {
  const std::optional<int64_t> until = SynchronisedUntil(client);
  return until && now_ns <= *until;
}

}  // namespace chron
