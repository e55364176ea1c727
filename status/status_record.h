// The status record a running program publishes for chronstat and scripts, and its JSON form.
// The field names of the JSON form are an interface (docs/chronstat.md): keep them stable.
// Times are nanoseconds since 1970-01-01 00:00:00 UTC in memory and ISO 8601 UTC text with
// milliseconds in the file ("2026-12-08T04:50:00.123Z"); offsets and delays are seconds.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace chron {

// What the client did with a sample: "stepped", "slewed", "refused" (deviation limit) or
// "failed" (the clock could not be set).
inline constexpr const char kCorrectionStepped[] = "stepped";
inline constexpr const char kCorrectionSlewed[] = "slewed";
inline constexpr const char kCorrectionRefused[] = "refused";
inline constexpr const char kCorrectionFailed[] = "failed";

struct HistoryEntry {
  int64_t time_ns = 0;
  double offset_s = 0;  // positive: the server was ahead
  double delay_s = 0;   // round trip; 0 for a broadcast
  std::string correction;
};

struct LastSample {
  int64_t time_ns = 0;
  double offset_s = 0;
  double delay_s = 0;
  uint32_t stratum = 0;
  std::string refid;               // four characters at stratum 1, else a dotted address
  std::optional<uint32_t> key_id;  // when the message was signed
};

struct ClientState {
  std::string source;       // the time source as configured (name or address); empty: broadcasts
  std::string address;      // the address the last request went to or the last sample came from
  uint32_t interval_s = 0;  // poll or broadcast interval: synchronised means a sample within two
  bool synchronised = false;
  int64_t since_ns = 0;  // when `synchronised` took its value
  std::optional<int64_t> last_request_ns;
  std::optional<LastSample> last_sample;
  std::string last_correction;          // empty until the first sample
  std::optional<double> frequency_ppm;  // only where the clock's frequency is disciplined
  // With Client\NTS: whether the last sample came through NTS, and the cookies left.
  struct Nts {
    bool authenticated = false;
    uint32_t cookies = 0;
  };
  std::optional<Nts> nts;
};

struct StatusCounters {
  uint64_t requests_answered = 0;
  uint64_t broadcasts_sent = 0;
  uint64_t samples_taken = 0;
  std::map<std::string, uint64_t> dropped;  // by reason (engine/drop_reason.h)
  // The server's rate limit: Kiss-o'-Death RATE replies sent, and the sources its table holds
  // of how many it can hold (0 and 0 while the limit per source is off).
  uint64_t kisses_sent = 0;
  uint64_t rate_table_used = 0;
  uint64_t rate_table_size = 0;
  // Network Time Security, where the server or the client uses it (absent from the file
  // otherwise): NTS-KE sessions the NTS-KE server completed, NTS requests answered with time
  // and refused with the NTS NAK or dropped.
  bool nts = false;
  uint64_t nts_ke_sessions = 0;
  uint64_t nts_requests_answered = 0;
  uint64_t nts_requests_refused = 0;
};

struct StatusAdapter {
  std::string name;
  std::string address;
};

// The largest process id a record may name: it fits Linux's pid_t (32 bits, signed); Windows'
// process ids stay far below.
inline constexpr uint32_t kMaxProcessId = 0x7FFFFFFF;
// The longest publishing period a record may state: a day.
inline constexpr uint32_t kMaxPeriodS = 86'400;

struct StatusRecord {
  std::string program;  // "chronsvc" or "chron95"
  uint32_t pid = 0;     // 1 to kMaxProcessId
  std::string version;
  int64_t started_ns = 0;
  int64_t updated_ns = 0;
  // Whether the writer still runs and writes is judged without the service's clock, which it
  // sets: by the writing process's identity (platform::ProcessWatch), which a later process under
  // the same pid or one after a reboot does not share, and by the system's boot clock at the last
  // write against the period at which the writer rewrites the record at the latest. An older
  // writer tells neither: period_s 0.
  uint32_t period_s = 0;         // 1 to kMaxPeriodS; 0: not told
  std::string process_identity;  // with period_s
  int64_t updated_boot_ms = 0;   // with period_s: ms since the system's start, sleep included
  bool poll_client = false;
  bool broadcast_client = false;
  bool server = false;
  bool broadcasting = false;
  std::vector<StatusAdapter> adapters;
  std::optional<ClientState> client;  // absent when the client is off
  StatusCounters counters;
  std::vector<HistoryEntry> history;  // oldest first, at most kHistoryLength
};

inline constexpr size_t kHistoryLength = 1000;

// The deepest nesting of objects and arrays a record may have: its three levels (the record,
// "client", "last_sample") and one for a field added later.
inline constexpr int kMaxStatusDepth = 4;

// The record as JSON text (UTF-8, one object, ends with a newline).
std::string StatusToJson(const StatusRecord& record);

// Reads a record from JSON text; false with a one-line reason in *error when the text is no
// JSON, nests deeper than a record (kMaxStatusDepth, refused before anything is built), lacks a
// field, has one of the wrong type (a fraction or a sign where a count belongs) or out of its
// range, or a time that is no calendar date and time of day.
bool StatusFromJson(const std::string& text, StatusRecord* record, std::string* error);

// ISO 8601 UTC text with milliseconds of a time in nanoseconds since 1970, and back. The time is
// Unix time, which has no leap second: 23:59:60 is refused like any impossible time.
std::string IsoTime(int64_t unix_ns);
bool ParseIsoTime(const std::string& text, int64_t* unix_ns);

}  // namespace chron
