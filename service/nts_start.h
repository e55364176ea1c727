// Network Time Security at start-up: the NTS-KE server where its certificate and key are named,
// the poll client's key establishment with Client\NTS, and the reports of what cannot be used.
#pragma once

#include "engine/runtime.h"

namespace chron {

// Fills `parts` as the settings ask, where this build has TLS, and reports NTS values that
// cannot be used. The NTS-KE server is opened (certificate, key, server keys, port) but not run.
// One that cannot open is reported by it and leaves the NTP server without NTS; the start goes on.
void PrepareNts(const Configuration& config, const Roles& roles, platform::Clock& clock, StatusBoard& status,
                NtsParts& parts);

}  // namespace chron
