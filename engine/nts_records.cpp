#include "engine/nts_records.h"

#include <algorithm>

namespace chron::nts {
namespace {

constexpr uint16_t kCriticalBit = 0x8000;
constexpr size_t kRecordHeaderSize = 4;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

void Append16(uint16_t value, std::vector<uint8_t>* out) {
  out->push_back(static_cast<uint8_t>(value >> 8));
  out->push_back(static_cast<uint8_t>(value));
}

void AppendEnd(std::vector<uint8_t>* out) { AppendKeRecord(true, kEndOfMessage, {}, out); }

// The 16-bit values of a Next Protocol or AEAD body; none when its length is odd.
std::optional<std::vector<uint16_t>> Words(const std::vector<uint8_t>& body) {
  if (body.size() % 2 != 0) return std::nullopt;
  std::vector<uint16_t> words;
  for (size_t i = 0; i < body.size(); i += 2) words.push_back(Read16(&body[i]));
  return words;
}

bool Contains(const std::vector<uint16_t>& words, uint16_t value) {
  return std::find(words.begin(), words.end(), value) != words.end();
}

bool Known(uint16_t type) { return type <= kNtpPort; }

size_t Count(const std::vector<KeRecord>& records, uint16_t type) {
  return static_cast<size_t>(
      std::count_if(records.begin(), records.end(), [type](const KeRecord& r) { return r.type == type; }));
}

const KeRecord* Find(const std::vector<KeRecord>& records, uint16_t type) {
  auto it = std::find_if(records.begin(), records.end(), [type](const KeRecord& r) { return r.type == type; });
  return it == records.end() ? nullptr : &*it;
}

// What both sides require of a message: End of Message last, critical and empty, nowhere else;
// Next Protocol exactly once and critical.
bool WellFormed(const std::vector<KeRecord>& records) {
  if (records.empty() || records.back().type != kEndOfMessage || !records.back().critical ||
      !records.back().body.empty() || Count(records, kEndOfMessage) != 1) {
    return false;
  }
  const KeRecord* next = Find(records, kNextProtocol);
  return Count(records, kNextProtocol) == 1 && next->critical && Words(next->body);
}

// A printable ASCII host name or address, as NTPv4 Server Negotiation carries it.
bool ServerName(const std::vector<uint8_t>& body) {
  return !body.empty() && body.size() <= kMaxServerNameSize &&
         std::all_of(body.begin(), body.end(), [](uint8_t c) { return c > 0x20 && c < 0x7F; });
}

}  // namespace

KeParse ParseKeRecords(std::span<const uint8_t> stream) {
  KeParse parse;
  if (stream.size() > kMaxKeMessageSize) {
    parse.status = KeParseStatus::kMalformed;
    return parse;
  }
  size_t offset = 0;
  while (stream.size() - offset >= kRecordHeaderSize) {
    const uint16_t word = Read16(&stream[offset]);
    const size_t length = Read16(&stream[offset + 2]);
    if (stream.size() - offset - kRecordHeaderSize < length) break;
    if (parse.records.size() == kMaxKeRecords) {
      parse.status = KeParseStatus::kMalformed;
      return parse;
    }
    const uint8_t* body = &stream[offset + kRecordHeaderSize];
    parse.records.push_back({(word & kCriticalBit) != 0, static_cast<uint16_t>(word & ~kCriticalBit),
                             std::vector<uint8_t>(body, body + length)});
    offset += kRecordHeaderSize + length;
    if (parse.records.back().type == kEndOfMessage) {
      parse.status = offset == stream.size() ? KeParseStatus::kComplete : KeParseStatus::kMalformed;
      return parse;
    }
  }
  parse.status = KeParseStatus::kIncomplete;
  return parse;
}

void AppendKeRecord(bool critical, uint16_t type, std::span<const uint8_t> body, std::vector<uint8_t>* out) {
  Append16(static_cast<uint16_t>((critical ? kCriticalBit : 0) | type), out);
  Append16(static_cast<uint16_t>(body.size()), out);
  out->insert(out->end(), body.begin(), body.end());
}

std::vector<uint8_t> BuildKeRequest() {
  std::vector<uint8_t> out;
  const uint8_t protocol[] = {0, kProtocolNtpv4};
  const uint8_t aead[] = {0, kAeadAesSivCmac256};
  AppendKeRecord(true, kNextProtocol, protocol, &out);
  AppendKeRecord(true, kAeadAlgorithm, aead, &out);
  AppendEnd(&out);
  return out;
}

std::vector<uint8_t> BuildKeResponse(const std::vector<std::vector<uint8_t>>& cookies, const std::string& ntp_server,
                                     uint16_t ntp_port) {
  std::vector<uint8_t> out;
  const uint8_t protocol[] = {0, kProtocolNtpv4};
  const uint8_t aead[] = {0, kAeadAesSivCmac256};
  AppendKeRecord(true, kNextProtocol, protocol, &out);
  AppendKeRecord(true, kAeadAlgorithm, aead, &out);
  for (const std::vector<uint8_t>& cookie : cookies) AppendKeRecord(false, kNewCookie, cookie, &out);
  if (!ntp_server.empty()) {
    AppendKeRecord(true, kNtpServer, {reinterpret_cast<const uint8_t*>(ntp_server.data()), ntp_server.size()}, &out);
  }
  if (ntp_port != 0) {
    const uint8_t port[] = {static_cast<uint8_t>(ntp_port >> 8), static_cast<uint8_t>(ntp_port)};
    AppendKeRecord(true, kNtpPort, port, &out);
  }
  AppendEnd(&out);
  return out;
}

std::vector<uint8_t> BuildKeRefusal() {
  std::vector<uint8_t> out;
  AppendKeRecord(true, kNextProtocol, {}, &out);
  AppendEnd(&out);
  return out;
}

std::vector<uint8_t> BuildKeError(KeErrorCode code) {
  std::vector<uint8_t> out;
  const uint8_t body[] = {static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code)};
  AppendKeRecord(true, kError, body, &out);
  AppendEnd(&out);
  return out;
}

KeRequestVerdict JudgeKeRequest(const std::vector<KeRecord>& records) {
  using Kind = KeRequestVerdict::Kind;
  for (const KeRecord& r : records) {
    if (r.critical && !Known(r.type)) return {Kind::kError, kUnrecognizedCritical};
  }
  // A client sends neither errors nor warnings; NTPv4 needs exactly one AEAD record.
  if (!WellFormed(records) || Find(records, kError) || Find(records, kWarning) || Count(records, kAeadAlgorithm) > 1) {
    return {Kind::kError, kBadRequest};
  }
  const std::vector<uint16_t> protocols = *Words(Find(records, kNextProtocol)->body);
  const KeRecord* aead_record = Find(records, kAeadAlgorithm);
  if (!Contains(protocols, kProtocolNtpv4)) return {Kind::kRefuse, kBadRequest};
  if (aead_record == nullptr) return {Kind::kError, kBadRequest};
  const std::optional<std::vector<uint16_t>> aeads = Words(aead_record->body);
  if (!aeads) return {Kind::kError, kBadRequest};
  if (!Contains(*aeads, kAeadAesSivCmac256)) return {Kind::kRefuse, kBadRequest};
  return {Kind::kAccept, kBadRequest};
}

KeResponseVerdict JudgeKeResponse(const std::vector<KeRecord>& records) {
  using Kind = KeResponseVerdict::Kind;
  KeResponseVerdict verdict;
  for (const KeRecord& r : records) {
    if (r.critical && !Known(r.type)) {
      verdict.kind = Kind::kUnrecognizedCritical;
      verdict.code = r.type;
      return verdict;
    }
  }
  for (uint16_t type : {kError, kWarning}) {
    const KeRecord* r = Find(records, type);
    if (r == nullptr) continue;
    verdict.kind = type == kError ? Kind::kServerError : Kind::kServerWarning;
    verdict.code = r->body.size() == 2 ? Read16(r->body.data()) : 0;
    return verdict;
  }
  if (!WellFormed(records) || Count(records, kAeadAlgorithm) > 1 || Count(records, kNtpServer) > 1 ||
      Count(records, kNtpPort) > 1) {
    return verdict;
  }
  // The server names a subset of what was offered, NTPv4 alone, or nothing.
  const std::vector<uint16_t> protocols = *Words(Find(records, kNextProtocol)->body);
  if (protocols.empty()) {
    verdict.kind = Kind::kProtocolRefused;
    return verdict;
  }
  if (protocols != std::vector<uint16_t>{kProtocolNtpv4}) return verdict;
  const KeRecord* aead = Find(records, kAeadAlgorithm);
  if (aead == nullptr || aead->body.size() != 2 || Read16(aead->body.data()) != kAeadAesSivCmac256) {
    verdict.kind = Kind::kAlgorithmRefused;
    verdict.code = aead != nullptr && aead->body.size() == 2 ? Read16(aead->body.data()) : 0;
    return verdict;
  }
  // A malformed record refuses the whole response: nothing of it is kept.
  if (const KeRecord* server = Find(records, kNtpServer)) {
    if (!ServerName(server->body)) return KeResponseVerdict{};
    verdict.ntp_server.assign(server->body.begin(), server->body.end());
  }
  if (const KeRecord* port = Find(records, kNtpPort)) {
    if (port->body.size() != 2) return KeResponseVerdict{};
    verdict.ntp_port = Read16(port->body.data());
  }
  for (const KeRecord& r : records) {
    if (r.type != kNewCookie) continue;
    if (r.body.empty() || r.body.size() > kMaxCookieSize) return KeResponseVerdict{};
    if (verdict.cookies.size() < kCookiesPerSession) verdict.cookies.push_back(r.body);
  }
  verdict.kind = verdict.cookies.empty() ? Kind::kNoCookies : Kind::kAccept;
  return verdict;
}

std::array<uint8_t, 5> ExporterContext(uint16_t aead, bool server_to_client) {
  return {0, kProtocolNtpv4, static_cast<uint8_t>(aead >> 8), static_cast<uint8_t>(aead),
          static_cast<uint8_t>(server_to_client ? 1 : 0)};
}

}  // namespace chron::nts
