// Short texts of the status record for people: a duration or offset in the unit its size
// calls for, and the one-line summary the service manager shows (STATUS=) and chronstat prints.
#pragma once

#include <cstdint>
#include <string>

#include "status/status_record.h"

namespace chron {

// Seconds in µs, ms or s by size, three significant places: "12 µs", "1.50 ms", "-3.25 s".
// With `sign` a positive value gets "+".
std::string SecondsText(double seconds, bool sign = false);

// A span of nanoseconds, whole: "40 s", "12 min", "3 h", "2 d".
std::string SpanText(int64_t ns);

// "synchronised with 10.0.0.1, offset +12.0 µs, 40 s ago", "not synchronised (source
// 10.0.0.1, last sample 5 min ago)", "not synchronised (source 10.0.0.1, last sample offset
// +250 s refused by the deviation limit, 1 s ago)", or for a program without client "serving:
// 12 requests answered, 3 broadcasts sent". `now_ns` on the record's clock.
std::string StatusSummary(const StatusRecord& record, int64_t now_ns);

}  // namespace chron
