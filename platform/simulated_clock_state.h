// The state a simulated clock keeps in its file, and the time it gives. A simulated clock is a
// function of the real clock (nanoseconds since 1970): between two changes of its file it runs
// at the rate of its oscillator plus the frequency correction, and pays off a pending slew at
// most kMaxSlewPpm (clock.h). Every change re-anchors the state at the real instant it is made,
// so the time stays continuous and every process that reads the same file computes the same time.
//
// File format. Short form (the original one): one signed decimal integer, the offset in
// nanoseconds (simulated minus real), blanks around it allowed; it never drifts. Long form:
// lines "name value" in any order, unknown names refused:
//   offset_ns       simulated minus real time at the anchor (integer nanoseconds)
//   anchor_ns       the real instant of the last change (integer nanoseconds since 1970)
//   frequency_ppm   the oscillator's error (decimal; positive: the clock runs fast)
//   correction_ppm  the frequency correction applied to it (decimal, within
//                   +-kMaxFrequencyCorrectionPpm)
//   slew_ns         the offset still to be slewed at the anchor (integer nanoseconds)
// offset_ns and anchor_ns are required, the others default to 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace chron::platform {

struct SimulatedClockState {
  int64_t offset_ns = 0;
  int64_t anchor_ns = 0;
  double frequency_ppm = 0;
  double correction_ppm = 0;
  int64_t slew_ns = 0;
  bool long_form = false;  // read from (or to be written in) the long form

  // The simulated time at real instant `real_ns` (at or after the anchor; before it the state
  // is extrapolated backwards without slew). Saturates at the ends of the 64-bit range.
  int64_t TimeAt(int64_t real_ns) const;
  // The slew still pending at `real_ns`.
  int64_t SlewLeftAt(int64_t real_ns) const;
  // This state re-anchored at `real_ns`: the same time there, with the slew paid off so far
  // removed from slew_ns. Rates and the form are kept.
  SimulatedClockState AnchoredAt(int64_t real_ns) const;
  // True when the state drifts or slews: it must be written in the long form.
  bool Moves() const { return frequency_ppm != 0 || correction_ppm != 0 || slew_ns != 0; }
};

// Parses either form; nullopt for anything else.
std::optional<SimulatedClockState> ParseSimulatedClockState(std::string_view text);
// The file's text: the short form while the state is in it and does not move, else the long.
std::string FormatSimulatedClockState(const SimulatedClockState& state);
// A decimal number such as "-12.5" (as CHRON_SIMULATED_FREQUENCY_PPM holds), or nullopt.
std::optional<double> ParseDecimal(std::string_view text);

}  // namespace chron::platform
