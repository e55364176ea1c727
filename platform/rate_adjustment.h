// The rules of the Windows clock rate (platform/win32/clock_rate.h) that need no system: what an
// adjustment read back means as a learnt frequency correction, and what rate to leave in force
// when the clock is given up. Kept here so that they are tested on every system.
#pragma once

#include <cstdint>
#include <optional>

namespace chron::platform {

// The frequency correction (ppm, positive: the clock is made to run faster) that an adjustment
// read at start stands for: (adjustment / increment - 1) * 10^6, both per clock period in the
// same units. 0 where the system adjusts by itself (`disabled`), where the increment is 0, and
// where the adjustment is that of a slew: 500 ppm or more away from the increment, allowing for
// the rounding to whole units (half a unit) of the adjustment that set it. A slew left in force
// by a process that ended during it is no learnt frequency.
double LearntCorrectionPpm(uint64_t adjustment, uint64_t increment, bool disabled);

// The rate (ppm) to set when the clock is given up (the service stops): the correction alone
// while a slew is being paid off (`slew_ppm` not 0), whose +-500 ppm would otherwise stay until
// the system restarts; empty while none is, when the rate in force is the correction already.
std::optional<double> RateToRestore(double correction_ppm, double slew_ppm);

}  // namespace chron::platform
