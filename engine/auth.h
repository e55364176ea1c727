// Symmetric-key authentication of NTP messages (RFC 5905 section 7.3, RFC 8573). With a key
// file configured, the message is the 48-byte header followed by the key identifier (32 bits,
// big-endian) and the 16-byte MAC of the header: 68 bytes. Without one nothing here acts and
// every message is handled as it always was.
//
// The first key of the file is this host's own key: requests and broadcasts are signed with
// it, and the client takes replies and broadcasts only when they carry a valid MAC of it. The
// server answers a request signed with any key of the file, signing the reply with that key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "config/configuration.h"
#include "config/keys.h"
#include "engine/status_board.h"
#include "platform/network.h"

namespace chron {

inline constexpr size_t kKeyIdOffset = 48;
inline constexpr size_t kMacOffset = 52;

struct Authentication {
  // A key file is configured: authentication is required, also when the file proved
  // unusable (then `keys` is empty and nothing can be signed or accepted).
  bool required = false;
  std::vector<SymmetricKey> keys;  // file order; the first is this host's own

  const SymmetricKey* Own() const { return keys.empty() ? nullptr : &keys.front(); }
  const SymmetricKey* Find(uint32_t id) const;
};

// Reads the key file named by `Configuration::key_file` and reports the outcome (nothing at
// all without a key file). Called once at start-up.
Authentication LoadAuthentication(const Configuration& config);

// Appends `key`'s identifier and the MAC of the 48 header bytes at `bytes`, which has room for
// 68. False when the crypto provider failed (the message must then not be sent).
bool SignMessage(const SymmetricKey& key, uint8_t* bytes);

enum class MacVerdict {
  kValid,
  kMissing,     // 48 bytes: no key identifier and MAC
  kUnknownKey,  // a key identifier that the file does not hold (or, for the client, not its own)
  kBadMac,      // the MAC does not match
};
// Judges a 48- or 68-byte message under `keys`; `*key` is the matching key when kValid.
MacVerdict CheckMac(const Authentication& auth, const uint8_t* bytes, size_t size, bool own_key_only,
                    const SymmetricKey** key);

// Receive-loop gate for a request (Mode 3) to the server. True when it is to be answered, with
// `*key` the key to sign the reply with (nullptr: reply unsigned, as without a key file).
// A request that carries a MAC is answered only when the MAC is valid under a key of the file;
// otherwise it is dropped with a trace line and gets no answer (no crypto-NAK).
bool AdmitRequest(const Authentication& auth, StatusBoard& status, const uint8_t* bytes, size_t size,
                  const platform::SocketAddress& from, const SymmetricKey** key);

// Receive-loop gate for a reply (Mode 4) or broadcast (Mode 5) to the client: with
// authentication required, true only for a valid MAC of the own key; the rest is dropped with
// a trace line. Drops are counted on `status`.
bool AdmitTimeMessage(const Authentication& auth, StatusBoard& status, const uint8_t* bytes, size_t size, unsigned mode,
                      const platform::SocketAddress& from);

}  // namespace chron
