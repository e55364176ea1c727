#include "status/status_record.h"

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace chron {

namespace {

using Json = nlohmann::ordered_json;

constexpr int64_t kNsPerMs = 1'000'000;
constexpr int64_t kMsPerDay = 86'400'000;

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, int64_t* m, int64_t* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

Json TimeOrNull(const std::optional<int64_t>& ns) { return ns ? Json(IsoTime(*ns)) : Json(nullptr); }

[[noreturn]] void Refuse(const std::string& name, const std::string& what) {
  throw std::invalid_argument("field \"" + name + "\" " + what);
}

// An integer from `min` to `max`: a fraction (1.9), a sign (-1) or a text is refused, never
// converted (the library's conversion would make 1 and 4294967295 of them).
uint64_t Integer(const Json& j, const std::string& name, uint64_t min, uint64_t max) {
  const Json& v = j.at(name);
  if (!v.is_number_unsigned() || v.get<uint64_t>() < min || v.get<uint64_t>() > max) {
    Refuse(name, "is no integer from " + std::to_string(min) + " to " + std::to_string(max));
  }
  return v.get<uint64_t>();
}

uint32_t Integer32(const Json& j, const char* name) { return static_cast<uint32_t>(Integer(j, name, 0, UINT32_MAX)); }

// Any number (the parser refuses what no double holds).
double Real(const Json& j, const char* name) {
  if (!j.at(name).is_number()) Refuse(name, "is no number");
  return j.at(name).get<double>();
}

std::string Text(const Json& j, const char* name) {
  if (!j.at(name).is_string()) Refuse(name, "is no text");
  return j.at(name).get<std::string>();
}

bool Flag(const Json& j, const char* name) {
  if (!j.at(name).is_boolean()) Refuse(name, "is neither true nor false");
  return j.at(name).get<bool>();
}

const Json& List(const Json& j, const char* name) {
  if (!j.at(name).is_array()) Refuse(name, "is no list");
  return j.at(name);
}

const Json& Object(const Json& j, const char* name) {
  if (!j.at(name).is_object()) Refuse(name, "is no object");
  return j.at(name);
}

int64_t TimeField(const Json& j, const char* name) {
  int64_t ns = 0;
  if (!ParseIsoTime(Text(j, name), &ns)) Refuse(name, "is no ISO 8601 UTC time");
  return ns;
}

std::optional<int64_t> OptionalTime(const Json& j, const char* name) {
  if (!j.contains(name) || j.at(name).is_null()) return std::nullopt;
  return TimeField(j, name);
}

// Follows the nesting while the library's parser reads the text and stops it at the first level
// deeper than a record has, before any value is built: a file of millions of "[" would otherwise
// take hundreds of megabytes.
class DepthLimit : public nlohmann::json_sax<Json> {
 public:
  bool too_deep = false;

  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return Enter(); }
  bool key(string_t&) override { return true; }
  bool end_object() override { return Leave(); }
  bool start_array(std::size_t) override { return Enter(); }
  bool end_array() override { return Leave(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  bool Enter() {
    too_deep = ++depth_ > kMaxStatusDepth;
    return !too_deep;
  }
  bool Leave() {
    --depth_;
    return true;
  }
  int depth_ = 0;
};

Json ClientToJson(const ClientState& c) {
  Json j;
  j["source"] = c.source;
  j["address"] = c.address;
  j["interval_s"] = c.interval_s;
  j["synchronised"] = c.synchronised;
  j["since"] = IsoTime(c.since_ns);
  j["last_request"] = TimeOrNull(c.last_request_ns);
  if (c.last_sample) {
    const LastSample& s = *c.last_sample;
    j["last_sample"] = {{"time", IsoTime(s.time_ns)}, {"offset_s", s.offset_s}, {"delay_s", s.delay_s},
                        {"stratum", s.stratum},       {"refid", s.refid},       {"key_id", nullptr}};
    if (s.key_id) j["last_sample"]["key_id"] = *s.key_id;
  } else {
    j["last_sample"] = nullptr;
  }
  j["last_correction"] = c.last_correction.empty() ? Json(nullptr) : Json(c.last_correction);
  j["frequency_ppm"] = c.frequency_ppm ? Json(*c.frequency_ppm) : Json(nullptr);
  if (c.nts) {
    j["nts_authenticated"] = c.nts->authenticated;
    j["nts_cookies"] = c.nts->cookies;
  }
  return j;
}

ClientState ClientFromJson(const Json& j) {
  ClientState c;
  c.source = Text(j, "source");
  c.address = Text(j, "address");
  c.interval_s = Integer32(j, "interval_s");
  c.synchronised = Flag(j, "synchronised");
  c.since_ns = TimeField(j, "since");
  c.last_request_ns = OptionalTime(j, "last_request");
  const Json& s = j.at("last_sample");
  if (!s.is_null()) {
    if (!s.is_object()) Refuse("last_sample", "is no object");
    LastSample sample;
    sample.time_ns = TimeField(s, "time");
    sample.offset_s = Real(s, "offset_s");
    sample.delay_s = Real(s, "delay_s");
    sample.stratum = static_cast<uint32_t>(Integer(s, "stratum", 0, 255));  // a byte of the message
    sample.refid = Text(s, "refid");
    if (!s.at("key_id").is_null()) sample.key_id = Integer32(s, "key_id");
    c.last_sample = sample;
  }
  if (!j.at("last_correction").is_null()) c.last_correction = Text(j, "last_correction");
  if (!j.at("frequency_ppm").is_null()) c.frequency_ppm = Real(j, "frequency_ppm");
  if (j.contains("nts_authenticated")) {
    c.nts = ClientState::Nts{Flag(j, "nts_authenticated"), Integer32(j, "nts_cookies")};
  }
  return c;
}

}  // namespace

std::string IsoTime(int64_t unix_ns) {
  // Floor division: times before 1970 keep a positive millisecond part.
  int64_t ms = unix_ns / kNsPerMs - (unix_ns % kNsPerMs < 0 ? 1 : 0);
  int64_t days = ms / kMsPerDay - (ms % kMsPerDay < 0 ? 1 : 0);
  int64_t in_day = ms - days * kMsPerDay;
  int64_t y = 0, m = 0, d = 0;
  CivilFromDays(days, &y, &m, &d);
  char text[96];  // room for any year the type holds
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", static_cast<long long>(y),
                static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(in_day / 3'600'000),
                static_cast<long long>(in_day / 60'000 % 60), static_cast<long long>(in_day / 1000 % 60),
                static_cast<long long>(in_day % 1000));
  return text;
}

bool ParseIsoTime(const std::string& text, int64_t* unix_ns) {
  // "YYYY-MM-DDThh:mm:ss.fffZ": digits where the pattern has letters, the rest as it stands.
  static constexpr char kPattern[] = "dddd-dd-ddTdd:dd:dd.dddZ";
  if (text.size() != sizeof kPattern - 1) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (kPattern[i] == 'd' ? text[i] < '0' || text[i] > '9' : text[i] != kPattern[i]) return false;
  }
  auto number = [&](size_t at, size_t digits) {
    int value = 0;
    for (size_t i = at; i < at + digits; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  const int y = number(0, 4), mo = number(5, 2), d = number(8, 2), h = number(11, 2), mi = number(14, 2),
            s = number(17, 2), ms = number(20, 3);
  // The day must exist in its month: 2026-02-31 is refused, not read as 3 March.
  static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap_year = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
  if (mo < 1 || mo > 12 || d < 1 || d > kDaysInMonth[mo - 1] + (mo == 2 && leap_year ? 1 : 0)) return false;
  if (h > 23 || mi > 59 || s > 59) return false;  // Unix time has no 23:59:60
  const int64_t days = DaysFromCivil(y, mo, d);
  *unix_ns = ((days * 86400 + h * 3600 + mi * 60 + s) * 1000 + ms) * kNsPerMs;
  return true;
}

std::string StatusToJson(const StatusRecord& r) {
  Json j;
  j["program"] = r.program;
  j["pid"] = r.pid;
  j["version"] = r.version;
  j["started"] = IsoTime(r.started_ns);
  j["updated"] = IsoTime(r.updated_ns);
  if (r.period_s != 0) {
    j["period_s"] = r.period_s;
    j["process_identity"] = r.process_identity;
    j["updated_boot_ms"] = r.updated_boot_ms;
  }
  j["modes"] = {{"poll_client", r.poll_client},
                {"broadcast_client", r.broadcast_client},
                {"server", r.server},
                {"broadcasting", r.broadcasting}};
  j["adapters"] = Json::array();
  for (const StatusAdapter& a : r.adapters) j["adapters"].push_back({{"name", a.name}, {"address", a.address}});
  j["client"] = r.client ? ClientToJson(*r.client) : Json(nullptr);
  Json dropped = Json::object();
  for (const auto& [reason, count] : r.counters.dropped) dropped[reason] = count;
  j["counters"] = {{"requests_answered", r.counters.requests_answered},
                   {"broadcasts_sent", r.counters.broadcasts_sent},
                   {"samples_taken", r.counters.samples_taken},
                   {"dropped", dropped},
                   {"kisses_sent", r.counters.kisses_sent},
                   {"rate_table_used", r.counters.rate_table_used},
                   {"rate_table_size", r.counters.rate_table_size}};
  if (r.counters.nts) {
    j["counters"]["nts_ke_sessions"] = r.counters.nts_ke_sessions;
    j["counters"]["nts_requests_answered"] = r.counters.nts_requests_answered;
    j["counters"]["nts_requests_refused"] = r.counters.nts_requests_refused;
  }
  j["history"] = Json::array();
  for (const HistoryEntry& h : r.history) {
    j["history"].push_back(
        {{"time", IsoTime(h.time_ns)}, {"offset_s", h.offset_s}, {"delay_s", h.delay_s}, {"correction", h.correction}});
  }
  // Invalid UTF-8 in a name (an adapter's) is replaced, never a reason to write nothing.
  return j.dump(1, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool StatusFromJson(const std::string& text, StatusRecord* record, std::string* error) {
  DepthLimit depth;
  if (!Json::sax_parse(text, &depth) && depth.too_deep) {
    *error = "nested deeper than " + std::to_string(kMaxStatusDepth) + " levels";
    return false;
  }
  const Json j = Json::parse(text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    *error = "not a JSON object";
    return false;
  }
  try {
    StatusRecord r;
    r.program = Text(j, "program");
    r.pid = static_cast<uint32_t>(Integer(j, "pid", 1, kMaxProcessId));
    r.version = Text(j, "version");
    r.started_ns = TimeField(j, "started");
    r.updated_ns = TimeField(j, "updated");
    if (j.contains("period_s")) {
      r.period_s = static_cast<uint32_t>(Integer(j, "period_s", 1, kMaxPeriodS));
      r.process_identity = Text(j, "process_identity");
      r.updated_boot_ms = static_cast<int64_t>(Integer(j, "updated_boot_ms", 0, INT64_MAX));
    }
    const Json& modes = Object(j, "modes");
    r.poll_client = Flag(modes, "poll_client");
    r.broadcast_client = Flag(modes, "broadcast_client");
    r.server = Flag(modes, "server");
    r.broadcasting = Flag(modes, "broadcasting");
    for (const Json& a : List(j, "adapters")) r.adapters.push_back({Text(a, "name"), Text(a, "address")});
    if (!j.at("client").is_null()) r.client = ClientFromJson(Object(j, "client"));
    const Json& counters = Object(j, "counters");
    r.counters.requests_answered = Integer(counters, "requests_answered", 0, UINT64_MAX);
    r.counters.broadcasts_sent = Integer(counters, "broadcasts_sent", 0, UINT64_MAX);
    r.counters.samples_taken = Integer(counters, "samples_taken", 0, UINT64_MAX);
    const Json& dropped = Object(counters, "dropped");
    for (const auto& item : dropped.items())
      r.counters.dropped[item.key()] = Integer(dropped, item.key(), 0, UINT64_MAX);
    // Absent in a record of an older writer.
    if (counters.contains("kisses_sent")) {
      r.counters.kisses_sent = Integer(counters, "kisses_sent", 0, UINT64_MAX);
      r.counters.rate_table_used = Integer(counters, "rate_table_used", 0, UINT64_MAX);
      r.counters.rate_table_size = Integer(counters, "rate_table_size", r.counters.rate_table_used, UINT64_MAX);
    }
    r.counters.nts = counters.contains("nts_requests_answered");
    if (r.counters.nts) {
      r.counters.nts_ke_sessions = Integer(counters, "nts_ke_sessions", 0, UINT64_MAX);
      r.counters.nts_requests_answered = Integer(counters, "nts_requests_answered", 0, UINT64_MAX);
      r.counters.nts_requests_refused = Integer(counters, "nts_requests_refused", 0, UINT64_MAX);
    }
    for (const Json& h : List(j, "history")) {
      r.history.push_back({TimeField(h, "time"), Real(h, "offset_s"), Real(h, "delay_s"), Text(h, "correction")});
    }
    *record = std::move(r);
    return true;
  } catch (const std::exception& e) {
    *error = e.what();
    return false;
  }
}

}  // namespace chron
