// chronstat's readings of a status record: the exit status for scripts, the plain view for
// people and the Prometheus text format for the node exporter's textfile collector.
#pragma once

#include <cstdint>
#include <string>

#include "platform/process_watch.h"
#include "status/status_record.h"

namespace chron {

inline constexpr int kExitSynchronised = 0;  // also a program without client (a server alone)
inline constexpr int kExitNotSynchronised = 1;
inline constexpr int kExitNotRunning = 2;  // also: no status file, or none that can be read

// What became of the process that wrote a record.
struct Writer {
  enum State { kRunning, kNotUpdated, kGone } state = kRunning;
  int64_t silent_ms = 0;  // kNotUpdated: since the last write, on the boot clock
};

// The writer is gone when no process has the record's pid, or one whose identity differs from
// the record's (the pid was given to another process, or the system was restarted). It has not
// updated the record when the boot clock is more than three of the record's periods past its
// last write. A record of an older writer, which tells neither, is judged by its pid alone.
Writer JudgeWriter(const StatusRecord& record, platform::ProcessWatch& watch);

// The exit status of a record and what became of its writer.
int StatusExitCode(const StatusRecord& record, const Writer& writer);

// A text as it may reach a terminal: control characters (C0, DEL, and C1 in UTF-8), bytes of no
// UTF-8 character and the backslash written as \x1b, \x0a, ..., \\, so that no field of a
// record clears the screen or adds a line of its own.
std::string TerminalText(const std::string& text);

// A few aligned lines of plain words, every value through TerminalText; `now_ns` is the reader's
// time, for "... ago".
std::string PlainText(const StatusRecord& record, const Writer& writer, int64_t now_ns);

// The counters and current values in the Prometheus text exposition format (version 0.0.4).
std::string PrometheusText(const StatusRecord& record, const Writer& writer);

}  // namespace chron
