#include "engine/report_limit.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "messages/report.h"

namespace chron {

void ReportLimit::ReportSuppressed(Entry& entry) {
  if (entry.suppressed == 0) return;
  char text[160];
  std::snprintf(text, sizeof text,
                "SNTP-Network: Meldung 0x%08" PRIx32 " wurde %" PRIu64
                " mal unterdrückt (höchstens eine je %lld Sekunden).",
                entry.id, entry.suppressed, static_cast<long long>(window.count()));
  entry.suppressed = 0;
  // The generic entry of the suppressed message's severity (identifier bits 31-30).
  switch (entry.id >> 30) {
    case 3: ReportMessage(msg::kEventError, {std::string(text)}); break;
    case 2: ReportMessage(msg::kEventWarning, {std::string(text)}); break;
    case 1: ReportMessage(msg::kEventInformation, {std::string(text)}); break;
    default: ReportMessage(msg::kEventSuccess, {std::string(text)}); break;
  }
}

bool ReportLimit::Allow(uint32_t id) {
  const TimePoint time = now();
  for (Entry& entry : entries_) {
    if (entry.id != id) continue;
    if (time - entry.reported < window) {
      ++entry.suppressed;
      return false;
    }
    ReportSuppressed(entry);
    entry.reported = time;
    return true;
  }
  entries_.push_back({id, time, 0});
  return true;
}

void ReportLimit::Flush() {
  for (Entry& entry : entries_) ReportSuppressed(entry);
}

}  // namespace chron
