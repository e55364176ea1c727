// What the receive-loop thread keeps from pass to pass: the server's replies of the current
// pass, the broadcasts already taken, the rate limit's table, and the reports that datagrams can
// repeat.
#pragma once

#include "engine/broadcast_copies.h"
#include "engine/rate_limiter.h"
#include "engine/reply_batch.h"
#include "engine/report_limit.h"

namespace chron {

struct ReceiveState {
  // The reports that datagrams can repeat.
  ReportLimit reports;
  // The replies of the current pass.
  ReplyBatch replies;
  // Broadcasts taken so far, whose further copies the loop drops.
  BroadcastCopies broadcast_copies;
  // How often the server answers; without limits every request is answered.
  RateLimiter limiter{RateLimitSettings{}, RateHashKey{}};
};

}  // namespace chron
