#include "chronstat/status_view.h"

#include <cstdio>
#include <vector>

#include "engine/status_text.h"

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
  *out += head + value + "\n";
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

int StatusExitCode(const StatusRecord& record, bool running) {
  if (!running) return kExitNotRunning;
  if (!record.client) return kExitSynchronised;
  return record.client->synchronised ? kExitSynchronised : kExitNotSynchronised;
}

std::string PlainText(const StatusRecord& r, bool running, int64_t now_ns) {
  std::string out;
  Line(&out, "Program",
       r.program + " " + r.version + ", pid " + std::to_string(r.pid) +
           (running ? ", running" : ", NOT RUNNING (the status file was left behind)"));
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
  }
  const StatusCounters& n = r.counters;
  if (r.server) Line(&out, "Requests answered", std::to_string(n.requests_answered));
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

std::string PrometheusText(const StatusRecord& r, bool running) {
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
    Metric(&out, "chron_samples_taken_total", "counter", "Samples taken.", std::to_string(r.counters.samples_taken));
  }
  Metric(&out, "chron_requests_answered_total", "counter", "Client requests answered.",
         std::to_string(r.counters.requests_answered));
  Metric(&out, "chron_broadcasts_sent_total", "counter", "Broadcasts sent.",
         std::to_string(r.counters.broadcasts_sent));
  out += "# HELP chron_dropped_total Received datagrams dropped, by reason.\n# TYPE chron_dropped_total counter\n";
  for (const auto& [reason, count] : r.counters.dropped) {
    out += "chron_dropped_total{reason=\"" + LabelValue(reason) + "\"} " + std::to_string(count) + "\n";
  }
  return out;
}

}  // namespace chron
