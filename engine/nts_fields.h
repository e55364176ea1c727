// NTP with NTS (RFC 8915 section 5): the extension fields (RFC 7822) after the 48-byte header.
// Each field is
//
//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |          Field Type           |            Length             |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// .                 Value, zero-padded to a multiple of 4           .
//
// big-endian, Length counting the whole field (at least 16 bytes, a multiple of 4). A request
// carries a Unique Identifier, one cookie, placeholders asking for more cookies, and last the
// NTS Authenticator, whose value is
//
//   Nonce Length (16 bits) | Ciphertext Length (16 bits) | Nonce, padded | Ciphertext, padded
//
// the ciphertext being AES-SIV's synthetic IV and the encrypted fields, sealed with the nonce
// and everything before the authenticator (header and fields) as associated data. A reply echoes
// the identifier and carries its new cookies encrypted inside the authenticator.
//
// Every function takes the message as it is on the wire (network byte order) and gives bytes
// and verdicts; sending, counting and tracing are the driver's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/nts_cookie.h"

namespace chron::nts {

inline constexpr uint16_t kFieldUniqueId = 0x0104;
inline constexpr uint16_t kFieldCookie = 0x0204;
inline constexpr uint16_t kFieldCookiePlaceholder = 0x0304;
inline constexpr uint16_t kFieldAuthenticator = 0x0404;

inline constexpr size_t kHeaderSize = 48;
inline constexpr size_t kMinFieldSize = 16;  // bytes, RFC 7822
inline constexpr size_t kMaxFields = 16;     // a request of ours has at most 10
inline constexpr size_t kUniqueIdSize = 32;
inline constexpr size_t kAuthNonceSize = 16;
inline constexpr uint32_t kKissNtsn = 0x4E54534E;  // "NTSN", the NTS NAK's kiss code

using UniqueId = std::array<uint8_t, kUniqueIdSize>;

struct ExtensionField {
  uint16_t type = 0;
  size_t offset = 0;               // of the field's first byte in the parsed bytes
  std::span<const uint8_t> value;  // with its padding
};
// The fields of `bytes` from `start` on (kHeaderSize for a message, 0 for decrypted fields);
// none when a length is below 16 or not a multiple of 4, runs past the end, bytes are left over,
// or there are more than kMaxFields.
std::optional<std::vector<ExtensionField>> ParseExtensionFields(std::span<const uint8_t> bytes, size_t start);

// A Unique Identifier of random bytes; none when the generator failed.
std::optional<UniqueId> NewUniqueId();

// Client: `header` (48 bytes as sent) with `uid`, `cookie`, `placeholders` placeholders of the
// cookie's size, and the authenticator (a random nonce, nothing encrypted) under keys.c2s.
// None when the crypto provider failed.
std::optional<std::vector<uint8_t>> BuildNtsRequest(std::span<const uint8_t> header, const UniqueId& uid,
                                                    std::span<const uint8_t> cookie, size_t placeholders,
                                                    const SessionKeys& keys);

struct NtsReplyCheck {
  enum class Kind {
    kAuthentic,     // identifier ours, authenticator good: take the time and `cookies`
    kNak,           // kiss code NTSN with our identifier: redo NTS-KE
    kForeign,       // no identifier, or not ours
    kNotAuthentic,  // no authenticator, or one that does not open under keys.s2c
    kMalformed,
  } kind = Kind::kMalformed;
  std::vector<std::vector<uint8_t>> cookies;  // from the encrypted fields only
};
NtsReplyCheck CheckNtsReply(std::span<const uint8_t> reply, const UniqueId& uid, const SessionKeys& keys);

struct NtsRequestCheck {
  enum class Kind {
    kAuthentic,  // answer with BuildNtsReply and `cookies` new cookies under `keys`
    kNak,        // the cookie does not open, or the authenticator fails: answer with BuildNtsNak
    kDrop,       // not a well-formed NTS request: no answer
  } kind = Kind::kDrop;
  std::vector<uint8_t> uid;  // the identifier's value, to echo
  SessionKeys keys;
  size_t cookies = 0;  // 1 and one per placeholder of the cookie's size, at most kCookiesPerSession
};
NtsRequestCheck CheckNtsRequest(std::span<const uint8_t> request, const ServerKeyRing& ring);

// Server: `header` (48 bytes as to be sent) with the identifier echoed and the authenticator
// sealing `cookies` as cookie fields under keys.s2c. None when the crypto provider failed.
std::optional<std::vector<uint8_t>> BuildNtsReply(std::span<const uint8_t> header, std::span<const uint8_t> uid,
                                                  const SessionKeys& keys,
                                                  const std::vector<std::vector<uint8_t>>& cookies);
// The NTS NAK: `header` made a kiss-o'-death (stratum 0, reference identifier NTSN) with the
// identifier echoed and no authenticator.
std::vector<uint8_t> BuildNtsNak(std::span<const uint8_t> header, std::span<const uint8_t> uid);

}  // namespace chron::nts
