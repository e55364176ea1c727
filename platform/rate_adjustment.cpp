#include "platform/rate_adjustment.h"

#include <cmath>

#include "platform/clock.h"

namespace chron::platform {

double LearntCorrectionPpm(uint64_t adjustment, uint64_t increment, bool disabled) {
  if (disabled || increment == 0) return 0.0;
  const double per_unit_ppm = 1e6 / static_cast<double>(increment);
  const double ppm = (static_cast<double>(adjustment) / static_cast<double>(increment) - 1.0) * 1e6;
  if (std::fabs(ppm) + per_unit_ppm / 2 >= kMaxSlewPpm) return 0.0;
  return ppm;
}

std::optional<double> RateToRestore(double correction_ppm, double slew_ppm) {
  if (slew_ppm == 0) return std::nullopt;
  return correction_ppm;
}

}  // namespace chron::platform
