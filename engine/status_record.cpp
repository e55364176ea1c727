#include "engine/status_record.h"

#include <cstdio>
#include <nlohmann/json.hpp>

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

int64_t TimeField(const Json& j, const char* name) {
  int64_t ns = 0;
  if (!ParseIsoTime(j.at(name).get<std::string>(), &ns)) {
    throw std::invalid_argument(std::string("field \"") + name + "\" is no ISO 8601 UTC time");
  }
  return ns;
}

std::optional<int64_t> OptionalTime(const Json& j, const char* name) {
  if (!j.contains(name) || j.at(name).is_null()) return std::nullopt;
  return TimeField(j, name);
}

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
  return j;
}

ClientState ClientFromJson(const Json& j) {
  ClientState c;
  c.source = j.at("source").get<std::string>();
  c.address = j.at("address").get<std::string>();
  c.interval_s = j.at("interval_s").get<uint32_t>();
  c.synchronised = j.at("synchronised").get<bool>();
  c.since_ns = TimeField(j, "since");
  c.last_request_ns = OptionalTime(j, "last_request");
  const Json& s = j.at("last_sample");
  if (!s.is_null()) {
    LastSample sample;
    sample.time_ns = TimeField(s, "time");
    sample.offset_s = s.at("offset_s").get<double>();
    sample.delay_s = s.at("delay_s").get<double>();
    sample.stratum = s.at("stratum").get<uint32_t>();
    sample.refid = s.at("refid").get<std::string>();
    if (!s.at("key_id").is_null()) sample.key_id = s.at("key_id").get<uint32_t>();
    c.last_sample = sample;
  }
  if (!j.at("last_correction").is_null()) c.last_correction = j.at("last_correction").get<std::string>();
  if (!j.at("frequency_ppm").is_null()) c.frequency_ppm = j.at("frequency_ppm").get<double>();
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
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0, used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ%n", &y, &mo, &d, &h, &mi, &s, &ms, &used) != 7 ||
      static_cast<size_t>(used) != text.size() || text.size() != 24) {
    return false;
  }
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return false;
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
                   {"dropped", dropped}};
  j["history"] = Json::array();
  for (const HistoryEntry& h : r.history) {
    j["history"].push_back(
        {{"time", IsoTime(h.time_ns)}, {"offset_s", h.offset_s}, {"delay_s", h.delay_s}, {"correction", h.correction}});
  }
  // Invalid UTF-8 in a name (an adapter's) is replaced, never a reason to write nothing.
  return j.dump(1, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool StatusFromJson(const std::string& text, StatusRecord* record, std::string* error) {
  const Json j = Json::parse(text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    *error = "not a JSON object";
    return false;
  }
  try {
    StatusRecord r;
    r.program = j.at("program").get<std::string>();
    r.pid = j.at("pid").get<uint32_t>();
    r.version = j.at("version").get<std::string>();
    r.started_ns = TimeField(j, "started");
    r.updated_ns = TimeField(j, "updated");
    const Json& modes = j.at("modes");
    r.poll_client = modes.at("poll_client").get<bool>();
    r.broadcast_client = modes.at("broadcast_client").get<bool>();
    r.server = modes.at("server").get<bool>();
    r.broadcasting = modes.at("broadcasting").get<bool>();
    for (const Json& a : j.at("adapters")) {
      r.adapters.push_back({a.at("name").get<std::string>(), a.at("address").get<std::string>()});
    }
    if (!j.at("client").is_null()) r.client = ClientFromJson(j.at("client"));
    const Json& counters = j.at("counters");
    r.counters.requests_answered = counters.at("requests_answered").get<uint64_t>();
    r.counters.broadcasts_sent = counters.at("broadcasts_sent").get<uint64_t>();
    r.counters.samples_taken = counters.at("samples_taken").get<uint64_t>();
    for (const auto& [reason, count] : counters.at("dropped").items())
      r.counters.dropped[reason] = count.get<uint64_t>();
    for (const Json& h : j.at("history")) {
      r.history.push_back({TimeField(h, "time"), h.at("offset_s").get<double>(), h.at("delay_s").get<double>(),
                           h.at("correction").get<std::string>()});
    }
    *record = std::move(r);
    return true;
  } catch (const std::exception& e) {
    *error = e.what();
    return false;
  }
}

}  // namespace chron
