// NTS Key Establishment (RFC 8915 section 4): the records a client and a server exchange over
// TLS 1.3 (ALPN "ntske/1", TCP port 4460) before NTP with NTS begins. Each record is
//
//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |C|         Record Type         |          Body Length          |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// .                     Record Body (Body Length bytes)           .
//
// big-endian, C the critical bit. A message is a sequence of records ending with End of
// Message. Everything here takes and gives bytes and values; the TLS connection, its deadline
// and the key export (SSL_export_keying_material with kExporterLabel and ExporterContext) are
// the driver's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace chron::nts {

inline constexpr uint16_t kKePort = 4460;
inline constexpr char kAlpn[] = "ntske/1";
inline constexpr char kExporterLabel[] = "EXPORTER-network-time-security";
inline constexpr uint16_t kProtocolNtpv4 = 0;
inline constexpr uint16_t kAeadAesSivCmac256 = 15;  // the only algorithm offered and taken
inline constexpr size_t kSessionKeySize = 32;       // bytes of each exported key (C2S, S2C)
inline constexpr size_t kCookiesPerSession = 8;     // cookies a server response carries

// Bounds of a received message: beyond them it is malformed, whatever follows.
inline constexpr size_t kMaxKeMessageSize = 16384;  // bytes; eight cookies and the rest are about 1 KiB
inline constexpr size_t kMaxKeRecords = 64;
inline constexpr size_t kMaxCookieSize = 256;      // bytes; a cookie must fit a request with room for placeholders
inline constexpr size_t kMaxServerNameSize = 255;  // bytes of a NTPv4 Server Negotiation body

enum KeRecordType : uint16_t {
  kEndOfMessage = 0,
  kNextProtocol = 1,
  kError = 2,
  kWarning = 3,
  kAeadAlgorithm = 4,
  kNewCookie = 5,
  kNtpServer = 6,
  kNtpPort = 7,
};
enum KeErrorCode : uint16_t {
  kUnrecognizedCritical = 0,
  kBadRequest = 1,
  kInternalServerError = 2,
};

struct KeRecord {
  bool critical = false;
  uint16_t type = 0;  // without the critical bit
  std::vector<uint8_t> body;
};

enum class KeParseStatus {
  kComplete,    // End of Message was the last record
  kIncomplete,  // no End of Message yet: read more
  kMalformed,   // over a bound, or bytes after End of Message
};
struct KeParse {
  KeParseStatus status = KeParseStatus::kIncomplete;
  std::vector<KeRecord> records;  // all of them when complete, End of Message included
};
// The records of the bytes received so far on one connection.
KeParse ParseKeRecords(std::span<const uint8_t> stream);

void AppendKeRecord(bool critical, uint16_t type, std::span<const uint8_t> body, std::vector<uint8_t>* out);

// The client's request: NTPv4 and AEAD_AES_SIV_CMAC_256, both critical, End of Message.
std::vector<uint8_t> BuildKeRequest();

// The server's answer to a request it accepted: NTPv4, AEAD_AES_SIV_CMAC_256, one New Cookie
// record per cookie, the NTP server and port when not empty/0 (else the client uses the NTS-KE
// server's address and port 123), End of Message.
std::vector<uint8_t> BuildKeResponse(const std::vector<std::vector<uint8_t>>& cookies, const std::string& ntp_server,
                                     uint16_t ntp_port);
// A Next Protocol record with no protocol (none offered is one the server speaks), End of Message.
std::vector<uint8_t> BuildKeRefusal();
// An Error record with `code`, End of Message.
std::vector<uint8_t> BuildKeError(KeErrorCode code);

// The server's verdict on a complete request.
struct KeRequestVerdict {
  enum class Kind {
    kAccept,  // NTPv4 with AEAD_AES_SIV_CMAC_256: export the keys, answer with cookies
    kRefuse,  // neither NTPv4 nor the algorithm offered: answer with BuildKeRefusal
    kError,   // answer with BuildKeError(error)
  } kind = Kind::kError;
  KeErrorCode error = kBadRequest;
};
KeRequestVerdict JudgeKeRequest(const std::vector<KeRecord>& records);

// The client's verdict on a complete response.
struct KeResponseVerdict {
  enum class Kind {
    kAccept,
    kServerError,           // an Error record: `code`
    kServerWarning,         // a Warning record (none is defined, so none is understood): `code`
    kUnrecognizedCritical,  // a critical record of type `code` not known here
    kProtocolRefused,       // the server speaks none of the protocols offered
    kAlgorithmRefused,      // no AEAD record, or another algorithm than the one offered
    kNoCookies,
    kMalformed,  // records missing, repeated or of the wrong size
  } kind = Kind::kMalformed;
  uint16_t code = 0;
  std::vector<std::vector<uint8_t>> cookies;  // at most kCookiesPerSession
  std::string ntp_server;                     // empty: the NTS-KE server's host
  std::optional<uint16_t> ntp_port;           // none: 123
};
KeResponseVerdict JudgeKeResponse(const std::vector<KeRecord>& records);

// The context of the key export (RFC 8915 section 5.1): the protocol, the algorithm (16-bit
// big-endian each) and 0x00 for the client-to-server key, 0x01 for the server-to-client key.
std::array<uint8_t, 5> ExporterContext(uint16_t aead, bool server_to_client);

}  // namespace chron::nts
