#include "platform/simulated_clock_state.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <sstream>

#include "platform/clock.h"

namespace chron::platform {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && kBlanks.find(text.front()) != std::string_view::npos) text.remove_prefix(1);
  while (!text.empty() && kBlanks.find(text.back()) != std::string_view::npos) text.remove_suffix(1);
  return text;
}

std::optional<int64_t> ParseInteger(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);  // from_chars takes only '-'
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  const auto [rest, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || rest != text.data() + text.size()) return std::nullopt;
  return value;
}

// a + b, stopping at the ends of the range instead of wrapping around.
int64_t SaturatedAdd(int64_t a, int64_t b) {
  if (b > 0 && a > std::numeric_limits<int64_t>::max() - b) return std::numeric_limits<int64_t>::max();
  if (b < 0 && a < std::numeric_limits<int64_t>::min() - b) return std::numeric_limits<int64_t>::min();
  return a + b;
}

std::string DecimalText(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

}  // namespace

std::optional<double> ParseDecimal(std::string_view text) {
  text = Trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double value = 0;
  const auto [rest, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || rest != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

int64_t SimulatedClockState::SlewLeftAt(int64_t real_ns) const {
  if (slew_ns == 0 || real_ns <= anchor_ns) return slew_ns;
  const double paid = static_cast<double>(real_ns - anchor_ns) * kMaxSlewPpm * 1e-6;
  const double left = static_cast<double>(slew_ns > 0 ? slew_ns : -slew_ns) - paid;
  if (left <= 0) return 0;
  const auto magnitude = static_cast<int64_t>(std::llround(left));
  return slew_ns > 0 ? magnitude : -magnitude;
}

int64_t SimulatedClockState::TimeAt(int64_t real_ns) const {
  int64_t time = SaturatedAdd(real_ns, offset_ns);
  if (!Moves()) return time;
  // Elapsed real time times the rate: within double's 53 bits for any elapsed time of years.
  const double elapsed = static_cast<double>(real_ns) - static_cast<double>(anchor_ns);
  const auto drift = static_cast<int64_t>(std::llround(elapsed * (frequency_ppm + correction_ppm) * 1e-6));
  time = SaturatedAdd(time, drift);
  if (real_ns > anchor_ns) time = SaturatedAdd(time, slew_ns - SlewLeftAt(real_ns));
  return time;
}

SimulatedClockState SimulatedClockState::AnchoredAt(int64_t real_ns) const {
  SimulatedClockState next = *this;
  next.slew_ns = SlewLeftAt(real_ns);
  next.anchor_ns = real_ns;
  next.offset_ns = TimeAt(real_ns) - real_ns;
  return next;
}

std::optional<SimulatedClockState> ParseSimulatedClockState(std::string_view text) {
  SimulatedClockState state;
  const std::string_view whole = Trimmed(text);
  if (whole.find('\n') == std::string_view::npos && whole.find(' ') == std::string_view::npos) {
    const std::optional<int64_t> offset = ParseInteger(whole);
    if (!offset) return std::nullopt;
    state.offset_ns = *offset;
    return state;
  }
  state.long_form = true;
  bool have_offset = false;
  bool have_anchor = false;
  std::string_view rest = whole;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const std::string_view line = Trimmed(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.empty()) continue;
    const size_t space = line.find_first_of(" \t");
    if (space == std::string_view::npos) return std::nullopt;
    const std::string_view name = line.substr(0, space);
    const std::string_view value = Trimmed(line.substr(space));
    std::optional<int64_t> integer;
    std::optional<double> decimal;
    if (name == "offset_ns" && (integer = ParseInteger(value))) {
      state.offset_ns = *integer;
      have_offset = true;
    } else if (name == "anchor_ns" && (integer = ParseInteger(value))) {
      state.anchor_ns = *integer;
      have_anchor = true;
    } else if (name == "slew_ns" && (integer = ParseInteger(value))) {
      state.slew_ns = *integer;
    } else if (name == "frequency_ppm" && (decimal = ParseDecimal(value))) {
      state.frequency_ppm = *decimal;
    } else if (name == "correction_ppm" && (decimal = ParseDecimal(value)) &&
               std::fabs(*decimal) <= kMaxFrequencyCorrectionPpm) {
      state.correction_ppm = *decimal;
    } else {
      return std::nullopt;
    }
  }
  if (!have_offset || !have_anchor) return std::nullopt;
  return state;
}

std::string FormatSimulatedClockState(const SimulatedClockState& state) {
  if (!state.long_form && !state.Moves()) return std::to_string(state.offset_ns) + "\n";
  std::ostringstream text;
  text << "offset_ns " << state.offset_ns << "\nanchor_ns " << state.anchor_ns << "\nfrequency_ppm "
       << DecimalText(state.frequency_ppm) << "\ncorrection_ppm " << DecimalText(state.correction_ppm) << "\nslew_ns "
       << state.slew_ns << "\n";
  return text.str();
}

}  // namespace chron::platform
