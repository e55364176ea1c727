// Whether the client is synchronised: the one rule behind the status record's `synchronised`,
// which the writer judges at every write and the readers take as written.
#pragma once

#include <cstdint>
#include <optional>

#include "status/status_record.h"

namespace chron {

// The last moment (ns since 1970, on the writer's clock) at which the client's last sample still
// keeps it synchronised: two of its intervals (`interval_s`) after a sample that brought the
// clock into step (stepped or slewed). None when the last sample did not (none yet, one the
// deviation limit refused, or one the clock could not take).
std::optional<int64_t> SynchronisedUntil(const ClientState& client);

// Whether the client is synchronised at `now_ns` (same clock): not after SynchronisedUntil.
bool IsSynchronised(const ClientState& client, int64_t now_ns);

}  // namespace chron
