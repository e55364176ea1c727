// Message authentication codes of NTP's symmetric-key authentication (RFC 5905 section 7.3,
// RFC 8573), computed by the platform's crypto provider (OpenSSL's libcrypto on Linux, CNG on
// Windows). Both algorithms give 16 bytes, so an authenticated NTP message is 48 bytes of
// header, a 4-byte key identifier and the 16-byte MAC: 68 bytes.
//
// Also the AEAD of Network Time Security (RFC 8915): AES-SIV (RFC 5297) with AES-128, which
// RFC 5116 registers as AEAD_AES_SIV_CMAC_256 (algorithm 15), and the random bytes its nonces,
// identifiers and keys are made of.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <system_error>

#include "platform/error_text.h"

namespace chron::platform {

inline constexpr size_t kMacSize = 16;
using Mac = std::array<uint8_t, kMacSize>;

enum class MacAlgorithm {
  kAes128Cmac,  // AES-128-CMAC (RFC 4493) keyed with the 16-byte key
  kMd5,         // MD5 over the key followed by the data (the classic NTP MAC)
};

// The MAC of `size` bytes at `data` under `key` (`key_size` bytes: exactly 16 for
// kAes128Cmac, at least 1 for kMd5). Returns no error, or PlatformError::kMacRefused when the
// provider refused (an unusable key, or the algorithm missing from the provider); `mac` is then
// unspecified.
std::error_code ComputeMac(MacAlgorithm algorithm, const uint8_t* key, size_t key_size, const uint8_t* data,
                           size_t size, Mac* mac);

// Whether the `size` bytes at `a` and `b` are equal, in a time that does not depend on where
// they differ (a MAC check must not tell an attacker how many leading bytes were right).
bool EqualInConstantTime(const uint8_t* a, const uint8_t* b, size_t size);

// AES-SIV: a 32-byte key (the CMAC key, then the CTR key), a 16-byte synthetic IV.
inline constexpr size_t kSivKeySize = 32;
inline constexpr size_t kSivTagSize = 16;
using ByteView = std::span<const uint8_t>;

// Seals `plaintext` with the associated-data strings `associated` (S1 ... Sn-1 of RFC 5297's
// S2V, in order; a nonce is the last of them, section 3). `sealed` receives the synthetic IV and
// then the ciphertext: kSivTagSize + plaintext.size() bytes. RFC 5116's AEAD_AES_SIV_CMAC_256 of
// associated data A and nonce N is associated = {A, N}. No error, PlatformError::kMacRefused or
// kCryptoNotInThisBuild.
std::error_code SealSiv(const uint8_t* key, std::span<const ByteView> associated, ByteView plaintext, uint8_t* sealed);
// The reverse: checks the synthetic IV at the start of `sealed` (at least kSivTagSize bytes) and
// writes sealed.size() - kSivTagSize bytes of plaintext. PlatformError::kNotAuthentic when the IV
// does not match (`plaintext` is then zeroed).
std::error_code OpenSiv(const uint8_t* key, std::span<const ByteView> associated, ByteView sealed, uint8_t* plaintext);

// `size` bytes from the system's cryptographically secure generator. No error, or
// PlatformError::kMacRefused.
std::error_code RandomBytes(uint8_t* out, size_t size);

}  // namespace chron::platform
