#include "chronstat/status_view.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "status/status_text.h"

namespace chron {

namespace {

// "2026-12-08 04:50:00 UTC (12 min ago)"
std::string WhenText(int64_t time_ns, int64_t now_ns) {
  std::string iso = IsoTime(time_ns);
  std::string text = iso.substr(0, 10) + " " + iso.substr(11, 8) + " UTC";
  return now_ns >= time_ns ? text + " (" + SpanText(now_ns - time_ns) + " ago)" : text;
}

void Line(std::string* out, const char* label, const std::string& value) {
  char head[32];
  std::snprintf(head, sizeof head, "%-18s: ", label);
  *out += head + TerminalText(value) + "\n";
}

// The length of the UTF-8 character that starts at text[at], or 0 where none does.
size_t Utf8Length(const std::string& text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const size_t length = lead < 0x80                    ? 1
                        : lead >= 0xC2 && lead <= 0xDF ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (size_t i = at + 1; i < at + length; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

std::string ModesText(const StatusRecord& r) {
  std::vector<const char*> modes;
  if (r.poll_client) modes.push_back("poll client");
  if (r.broadcast_client) modes.push_back("broadcast client");
  if (r.server) modes.push_back("server");
  if (r.broadcasting) modes.push_back("broadcasting");
  std::string text;
  for (const char* m : modes) text += (text.empty() ? "" : ", ") + std::string(m);
  return text.empty() ? "none" : text;
}

// A float as Prometheus reads it; integers without a fraction.
std::string Number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

void Metric(std::string* out, const char* name, const char* type, const char* help, const std::string& value,
            const std::string& labels = "") {
  *out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  *out += std::string(name) + (labels.empty() ? "" : "{" + labels + "}") + " " + value + "\n";
}

// A label value as the text format quotes it: backslash, double quote and line feed escaped.
std::string LabelValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return out;
}

// Seconds since 1970 with milliseconds: %g would cut them to whole tens of seconds.
std::string Seconds1970(int64_t ns) {
  char text[40];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ns) / 1e9);
  return text;
}

}  // namespace

Writer JudgeWriter(const StatusRecord& record, platform::ProcessWatch& watch) {
  const std::optional<std::string> identity = watch.Identity(record.pid);
  if (!identity) return {Writer::kGone};
  // An older writer tells neither identity nor period; an identity this reader cannot see
  // (another user's process hidden from it) leaves the pid alone to judge, and no common boot.
  if (record.period_s == 0 || identity->empty()) return {};
  if (*identity != record.process_identity) return {Writer::kGone};
  const int64_t silent_ms = watch.BootMilliseconds() - record.updated_boot_ms;
  if (silent_ms > 3 * int64_t{record.period_s} * 1000) return {Writer::kNotUpdated, silent_ms};
  return {};
}

int StatusExitCode(const StatusRecord& record, const Writer& writer) {
  if (writer.state == Writer::kGone) return kExitNotRunning;
  if (writer.state == Writer::kNotUpdated) return kExitNotSynchronised;
  if (!record.client) return kExitSynchronised;
  return record.client->synchronised ? kExitSynchronised : kExitNotSynchronised;
}

std::string TerminalText(const std::string& text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    size_t length = Utf8Length(text, at);
    // C1 controls (U+0080 to U+009F: 0xC2 0x80 to 0xC2 0x9F) act on terminals as ESC sequences do.
    const bool control = length == 0 || (length == 1 && (c < 0x20 || c == 0x7F)) ||
                         (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0);
    if (control) {
      length = std::max<size_t>(length, 1);
      for (size_t i = at; i < at + length; ++i) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[i]));
        out += escaped;
      }
    } else {
      out += c == '\\' ? std::string("\\\\") : text.substr(at, length);
    }
    at += length;
  }
  return out;
}

std::string PlainText(const StatusRecord& r, const Writer& writer, int64_t now_ns) {
  std::string out;
  std::string state = ", running";
  if (writer.state == Writer::kGone) state = ", NOT RUNNING (the status file was left behind)";
  if (writer.state == Writer::kNotUpdated) {
    const std::string iso = IsoTime(r.updated_ns);
    state += ", but NOT UPDATED since " + iso.substr(0, 10) + " " + iso.substr(11, 8) + " UTC (" +
             SpanText(writer.silent_ms * 1'000'000) + " ago)";
  }
  Line(&out, "Program", r.program + " " + r.version + ", pid " + std::to_string(r.pid) + state);
  Line(&out, "Started", WhenText(r.started_ns, now_ns));
  Line(&out, "Modes", ModesText(r));
  std::string adapters;
  for (const StatusAdapter& a : r.adapters) adapters += (adapters.empty() ? "" : ", ") + a.name + " " + a.address;
  Line(&out, "Adapters", adapters.empty() ? "none" : adapters);
  if (r.client) {
    const ClientState& c = *r.client;
    Line(&out, "State",
         std::string(c.synchronised ? "synchronised" : "not synchronised") + " since " + WhenText(c.since_ns, now_ns));
    std::string source = c.source.empty() ? "broadcasts" : c.source;
    if (!c.address.empty() && c.address != c.source) source += " (" + c.address + ")";
    Line(&out, "Time source", source);
    if (c.last_request_ns) Line(&out, "Last request", WhenText(*c.last_request_ns, now_ns));
    if (c.last_sample) {
      const LastSample& s = *c.last_sample;
      Line(&out, "Last sample", WhenText(s.time_ns, now_ns));
      Line(&out, "Offset", SecondsText(s.offset_s, true) + (s.offset_s >= 0 ? " (server ahead)" : " (server behind)"));
      Line(&out, "Delay", SecondsText(s.delay_s));
      std::string server = "stratum " + std::to_string(s.stratum) + ", reference " + s.refid;
      if (s.key_id) server += ", key " + std::to_string(*s.key_id);
      Line(&out, "Server", server);
    } else {
      Line(&out, "Last sample", "none yet");
    }
    if (!c.last_correction.empty()) Line(&out, "Last correction", c.last_correction);
    if (c.frequency_ppm) Line(&out, "Frequency", Number(*c.frequency_ppm) + " ppm");
    if (c.nts) {
      Line(&out, "NTS",
           std::string(c.nts->authenticated ? "authenticated" : "not authenticated") + ", " +
               std::to_string(c.nts->cookies) + " cookies left");
    }
  }
  const StatusCounters& n = r.counters;
  if (r.server) Line(&out, "Requests answered", std::to_string(n.requests_answered));
  if (r.server && (n.rate_table_size != 0 || n.kisses_sent != 0)) {
    Line(&out, "Rate limit",
         std::to_string(n.rate_table_used) + " of " + std::to_string(n.rate_table_size) + " sources held, " +
             std::to_string(n.kisses_sent) + " kiss-o'-death sent");
  }
  if (n.nts) {
    Line(&out, "NTS",
         std::to_string(n.nts_ke_sessions) + " NTS-KE sessions, " + std::to_string(n.nts_requests_answered) +
             " requests answered, " + std::to_string(n.nts_requests_refused) + " refused");
  }
  if (r.broadcasting) Line(&out, "Broadcasts sent", std::to_string(n.broadcasts_sent));
  if (r.client) Line(&out, "Samples taken", std::to_string(n.samples_taken));
  uint64_t dropped = 0;
  std::string reasons;
  for (const auto& [reason, count] : n.dropped) {
    if (count == 0) continue;
    dropped += count;
    reasons += (reasons.empty() ? "" : ", ") + reason + " " + std::to_string(count);
  }
  Line(&out, "Dropped", std::to_string(dropped) + (reasons.empty() ? "" : " (" + reasons + ")"));
  return out;
}

std::string PrometheusText(const StatusRecord& r, const Writer& writer) {
  const bool running = writer.state != Writer::kGone;
  std::string out;
  const std::string program = "program=\"" + LabelValue(r.program) + "\"";
  Metric(&out, "chron_up", "gauge", "1 while the program that wrote the status file runs.", running ? "1" : "0",
         program);
  Metric(&out, "chron_start_time_seconds", "gauge", "Start of the program, seconds since 1970.",
         Seconds1970(r.started_ns));
  if (r.client) {
    const ClientState& c = *r.client;
    Metric(&out, "chron_synchronised", "gauge", "1 while a sample was taken within two intervals.",
           c.synchronised ? "1" : "0");
    if (c.last_sample) {
      const LastSample& s = *c.last_sample;
      Metric(&out, "chron_offset_seconds", "gauge", "Offset of the last sample (positive: the server was ahead).",
             Number(s.offset_s));
      Metric(&out, "chron_delay_seconds", "gauge", "Round-trip delay of the last sample.", Number(s.delay_s));
      Metric(&out, "chron_stratum", "gauge", "Stratum of the server of the last sample.", std::to_string(s.stratum));
      Metric(&out, "chron_last_sample_timestamp_seconds", "gauge", "Time of the last sample, seconds since 1970.",
             Seconds1970(s.time_ns));
    }
    if (c.nts) {
      Metric(&out, "chron_nts_authenticated", "gauge", "1 while the last sample came through NTS.",
             c.nts->authenticated ? "1" : "0");
      Metric(&out, "chron_nts_cookies", "gauge", "NTS cookies the client holds.", std::to_string(c.nts->cookies));
    }
    Metric(&out, "chron_samples_taken_total", "counter", "Samples taken.", std::to_string(r.counters.samples_taken));
  }
  Metric(&out, "chron_requests_answered_total", "counter", "Client requests answered.",
         std::to_string(r.counters.requests_answered));
  Metric(&out, "chron_broadcasts_sent_total", "counter", "Broadcasts sent.",
         std::to_string(r.counters.broadcasts_sent));
  Metric(&out, "chron_kisses_sent_total", "counter", "Kiss-o'-Death RATE replies sent by the rate limit.",
         std::to_string(r.counters.kisses_sent));
  Metric(&out, "chron_rate_table_sources", "gauge", "Sources the rate limit's table holds.",
         std::to_string(r.counters.rate_table_used));
  Metric(&out, "chron_rate_table_size", "gauge", "Sources the rate limit's table can hold (0: no limit per source).",
         std::to_string(r.counters.rate_table_size));
  if (r.counters.nts) {
    Metric(&out, "chron_nts_ke_sessions_total", "counter", "NTS-KE sessions completed by the server.",
           std::to_string(r.counters.nts_ke_sessions));
    Metric(&out, "chron_nts_requests_answered_total", "counter", "NTS requests answered with time.",
           std::to_string(r.counters.nts_requests_answered));
    Metric(&out, "chron_nts_requests_refused_total", "counter", "NTS requests refused (NTS NAK or dropped).",
           std::to_string(r.counters.nts_requests_refused));
  }
  out += "# HELP chron_dropped_total Received datagrams dropped, by reason.\n# TYPE chron_dropped_total counter\n";
  for (const auto& [reason, count] : r.counters.dropped) {
    out += "chron_dropped_total{reason=\"" + LabelValue(reason) + "\"} " + std::to_string(count) + "\n";
  }
  return out;
}

}  // namespace chron
