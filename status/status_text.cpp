#include "status/status_text.h"

#include <cmath>
#include <cstdio>

namespace chron {

std::string SecondsText(double seconds, bool sign) {
  const double magnitude = std::fabs(seconds);
  double value = seconds;
  const char* unit = "s";
  if (magnitude < 1e-3) {
    value = seconds * 1e6;
    unit = "µs";
  } else if (magnitude < 1.0) {
    value = seconds * 1e3;
    unit = "ms";
  }
  // Three significant places: 12.3, 123, 1.23.
  const double shown = std::fabs(value);
  const int decimals = shown >= 100 || shown == 0 ? 0 : shown >= 10 ? 1 : 2;
  char text[48];
  std::snprintf(text, sizeof text, sign ? "%+.*f %s" : "%.*f %s", decimals, value, unit);
  return text;
}

std::string SpanText(int64_t ns) {
  const int64_t s = (ns < 0 ? 0 : ns) / 1'000'000'000;
  char text[32];
  if (s < 120) {
    std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(s));
  } else if (s < 7200) {
    std::snprintf(text, sizeof text, "%lld min", static_cast<long long>(s / 60));
  } else if (s < 172800) {
    std::snprintf(text, sizeof text, "%lld h", static_cast<long long>(s / 3600));
  } else {
    std::snprintf(text, sizeof text, "%lld d", static_cast<long long>(s / 86400));
  }
  return text;
}

std::string StatusSummary(const StatusRecord& record, int64_t now_ns) {
  if (!record.client) {
    return "serving: " + std::to_string(record.counters.requests_answered) + " requests answered, " +
           std::to_string(record.counters.broadcasts_sent) + " broadcasts sent";
  }
  const ClientState& client = *record.client;
  const std::string source = client.address.empty() ? client.source : client.address;
  if (client.synchronised && client.last_sample) {
    return "synchronised with " + source + ", offset " + SecondsText(client.last_sample->offset_s, true) + ", " +
           SpanText(now_ns - client.last_sample->time_ns) + " ago";
  }
  std::string text = "not synchronised";
  if (!source.empty()) text += " (source " + source;
  if (client.last_sample) {
    // Why the last sample did not bring the clock into step, when it was not merely too long ago.
    std::string why;
    if (client.last_correction == kCorrectionRefused) why = " refused by the deviation limit";
    if (client.last_correction == kCorrectionFailed) why = " could not be set";
    text += (source.empty() ? " (" : ", ") + std::string("last sample ") +
            (why.empty() ? std::string() : "offset " + SecondsText(client.last_sample->offset_s, true) + why + ", ") +
            SpanText(now_ns - client.last_sample->time_ns) + " ago)";
  } else if (!source.empty()) {
    text += ", no sample yet)";
  }
  return text;
}

}  // namespace chron
