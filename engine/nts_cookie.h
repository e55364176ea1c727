// NTS cookies (RFC 8915 section 6): the server keeps no state per client; the client carries
// its session keys, sealed under a key only the server holds. A cookie is
//
//   key identifier (4 bytes, big-endian) | nonce (16) | AES-SIV of the session keys (84)
//
// the sealed part taking the key identifier and the nonce as associated data, its plaintext
// the algorithm (16-bit big-endian), two zero bytes, the client-to-server and the
// server-to-client key: 104 bytes in all, a multiple of 4 as an NTP extension field's body is.
//
// The server key rotates every kServerKeyRotationSeconds; the ring holds the current and the
// previous key, so a cookie stays good for one to two periods (a client gets fresh cookies with
// every reply). The ring lives in a key file of its own, the service's alone to read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/nts_records.h"

namespace chron::nts {

struct SessionKeys {
  uint16_t aead = kAeadAesSivCmac256;
  std::array<uint8_t, kSessionKeySize> c2s{};  // seals the client's requests
  std::array<uint8_t, kSessionKeySize> s2c{};  // seals the server's replies
};

inline constexpr int64_t kServerKeyRotationSeconds = 24 * 3600;
inline constexpr size_t kServerKeySize = 32;  // AES-SIV's two AES-128 keys
inline constexpr size_t kCookieNonceSize = 16;
inline constexpr size_t kCookieSize = 4 + kCookieNonceSize + 16 + 4 + 2 * kSessionKeySize;

struct ServerKey {
  uint32_t id = 0;
  int64_t created = 0;  // Unix seconds
  std::array<uint8_t, kServerKeySize> secret{};
};

struct ServerKeyRing {
  std::optional<ServerKey> current;   // seals new cookies
  std::optional<ServerKey> previous;  // still opens the cookies it sealed

  const ServerKey* Find(uint32_t id) const;
  // No key yet, or the current key is a period old at `now` (Unix seconds; or a period younger:
  // the clock went back, and its age can no longer be told).
  bool RotationDue(int64_t now) const;
  // `fresh` becomes the current key, the current one the previous.
  void Rotate(const ServerKey& fresh);
};

// A key of random bytes made at `now`, its identifier the one after the current key's (random
// for the first). None when the random generator failed.
std::optional<ServerKey> NewServerKey(const ServerKeyRing& ring, int64_t now);

// The cookie of `keys` under `key`, with a random nonce; none when the crypto provider failed.
std::optional<std::vector<uint8_t>> SealCookie(const ServerKey& key, const SessionKeys& keys);
// The session keys of a cookie sealed by a key of `ring`; none for any other bytes.
std::optional<SessionKeys> OpenCookie(const ServerKeyRing& ring, std::span<const uint8_t> cookie);

// The key file: a comment line, then one line per key, the current first:
//   <identifier, 8 hex digits> <created, Unix seconds> <secret, 64 hex digits>
std::string FormatServerKeys(const ServerKeyRing& ring);
// The ring of such a text; none when a line is not of that form, an identifier repeats, or
// there is no key or more than two (the driver then starts a new ring).
std::optional<ServerKeyRing> ParseServerKeys(std::string_view text);

}  // namespace chron::nts
