// chronstat's readings of a status record: the exit status for scripts, the plain view for
// people and the Prometheus text format for the node exporter's textfile collector.
#pragma once

#include <cstdint>
#include <string>

#include "engine/status_record.h"

namespace chron {

inline constexpr int kExitSynchronised = 0;  // also a program without client (a server alone)
inline constexpr int kExitNotSynchronised = 1;
inline constexpr int kExitNotRunning = 2;  // also: no status file, or none that can be read

// The exit status of a record whose writer is (`running`) or is not running.
int StatusExitCode(const StatusRecord& record, bool running);

// A few aligned lines of plain words; `now_ns` is the reader's time, for "... ago".
std::string PlainText(const StatusRecord& record, bool running, int64_t now_ns);

// The counters and current values in the Prometheus text exposition format (version 0.0.4).
std::string PrometheusText(const StatusRecord& record, bool running);

}  // namespace chron
