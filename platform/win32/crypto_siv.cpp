// AES-SIV is not in this Windows build: CNG has no SIV mode and the build links no other provider.
// Random bytes come from CNG's system generator.
#include "platform/crypto.h"
#include "platform/win32/win32.h"

#include <bcrypt.h>

namespace chron::platform {

std::error_code SealSiv(const uint8_t*, std::span<const ByteView>, ByteView, uint8_t*) {
  return PlatformError::kCryptoNotInThisBuild;
}

std::error_code OpenSiv(const uint8_t*, std::span<const ByteView>, ByteView, uint8_t*) {
  return PlatformError::kCryptoNotInThisBuild;
}

std::error_code RandomBytes(uint8_t* out, size_t size) {
  if (BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    return {};
  return PlatformError::kMacRefused;
}

}  // namespace chron::platform
