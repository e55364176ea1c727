// Message authentication codes of NTP's symmetric-key authentication (RFC 5905 section 7.3,
// RFC 8573), computed by the platform's crypto provider (OpenSSL's libcrypto on Linux, CNG on
// Windows). Both algorithms give 16 bytes, so an authenticated NTP message is 48 bytes of
// header, a 4-byte key identifier and the 16-byte MAC: 68 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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

}  // namespace chron::platform
