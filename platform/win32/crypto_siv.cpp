// AES-SIV is not in this Windows build: CNG has no SIV mode and the build links no other provider.
// Random bytes come from CNG's system generator.
#include "platform/crypto.h"
#include "platform/win32/win32.h"

#include <bcrypt.h>

namespace chron::platform {

int SealSiv(const uint8_t*, std::span<const ByteView>, ByteView, uint8_t*) { return kCryptoNotInThisBuild; }

int OpenSiv(const uint8_t*, std::span<const ByteView>, ByteView, uint8_t*) { return kCryptoNotInThisBuild; }

int RandomBytes(uint8_t* out, size_t size) {
  return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG)) ? 0
                                                                                                                  : -1;
}

}  // namespace chron::platform
