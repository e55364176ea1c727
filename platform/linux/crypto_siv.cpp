// AES-SIV through OpenSSL 3's EVP cipher "AES-128-SIV" (a 32-byte key: RFC 5297's AES-SIV with
// AES-128; "AES-256-SIV" would be another algorithm), and random bytes from OpenSSL's generator.
//
// RFC 5116's form, one associated-data string and a nonce, which is every use NTS makes of it, is
// sealed and opened by nettle's siv_cmac_aes128 (the same construction: S2V over A, N and the
// plaintext, then AES-CTR). OpenSSL before 3.5 computes no synthetic IV for an empty plaintext
// (its SIV update returns at once for zero bytes, and the final call then fails), which a client's
// NTS request needs; and nettle keys a context on the stack, where OpenSSL's EVP allocates,
// looks up parameters and takes locks on every call (most of an NTS reply's cost in a profile).
// Other forms (several associated-data strings, or none) go to OpenSSL.
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>
#include <memory>

#include "platform/crypto.h"

#include <nettle/siv-cmac.h>

namespace chron::platform {
namespace {

constexpr int kProviderFailed = -1;
constexpr int kNotInThisBuild = -2;
constexpr int kNotAuthentic = -3;

std::error_code AsError(int result) {
  switch (result) {
    case 0: return {};
    case kNotInThisBuild: return PlatformError::kCryptoNotInThisBuild;
    case kNotAuthentic: return PlatformError::kNotAuthentic;
    default: return PlatformError::kMacRefused;
  }
}

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

// Fetched once per process, as the MAC algorithms are.
EVP_CIPHER* SivCipher() {
  static EVP_CIPHER* const siv = EVP_CIPHER_fetch(nullptr, "AES-128-SIV", nullptr);
  return siv;
}

// One pass of OpenSSL's SIV: `in` is the plaintext (seal) or the ciphertext after the IV (open),
// `tag` the synthetic IV written (seal) or checked (open).
int OpensslSiv(bool seal, const uint8_t* key, std::span<const ByteView> associated, ByteView in, uint8_t* tag,
               uint8_t* out) {
  if (SivCipher() == nullptr) return kProviderFailed;
  std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> context(EVP_CIPHER_CTX_new());
  if (!context || EVP_CipherInit_ex2(context.get(), SivCipher(), key, nullptr, seal ? 1 : 0, nullptr) != 1 ||
      EVP_CIPHER_CTX_get_key_length(context.get()) != static_cast<int>(kSivKeySize)) {
    return kProviderFailed;
  }
  if (!seal && EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_SET_TAG, kSivTagSize, tag) != 1) {
    return kProviderFailed;
  }
  int length = 0;
  // Each update without output is one associated-data string of S2V.
  for (ByteView component : associated) {
    if (EVP_CipherUpdate(context.get(), nullptr, &length, component.data(), static_cast<int>(component.size())) != 1) {
      return kProviderFailed;
    }
  }
  // The whole text in one update: SIV cannot take it in pieces.
  if (EVP_CipherUpdate(context.get(), out, &length, in.data(), static_cast<int>(in.size())) != 1 ||
      EVP_CipherFinal_ex(context.get(), out + length, &length) != 1) {
    return seal ? kProviderFailed : kNotAuthentic;
  }
  if (seal && EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_GET_TAG, kSivTagSize, tag) != 1) {
    return kProviderFailed;
  }
  return 0;
}

// RFC 5116's form (associated data, nonce) through nettle; `sealed` is the synthetic IV and then
// the ciphertext, as nettle writes and reads it.
int NettleSeal(const uint8_t* key, ByteView data, ByteView nonce, ByteView plaintext, uint8_t* sealed) {
  siv_cmac_aes128_ctx context;
  siv_cmac_aes128_set_key(&context, key);
  siv_cmac_aes128_encrypt_message(&context, nonce.size(), nonce.data(), data.size(), data.data(),
                                  kSivTagSize + plaintext.size(), sealed, plaintext.data());
  return 0;
}
int NettleOpen(const uint8_t* key, ByteView data, ByteView nonce, ByteView sealed, uint8_t* plaintext) {
  siv_cmac_aes128_ctx context;
  siv_cmac_aes128_set_key(&context, key);
  return siv_cmac_aes128_decrypt_message(&context, nonce.size(), nonce.data(), data.size(), data.data(),
                                         sealed.size() - kSivTagSize, plaintext, sealed.data()) == 1
             ? 0
             : kNotAuthentic;
}

// Whether nettle takes the case: an associated-data string and a nonce (nettle needs a nonce of
// at least one byte).
bool ForNettle(std::span<const ByteView> associated) { return associated.size() == 2 && !associated[1].empty(); }

}  // namespace

std::error_code SealSiv(const uint8_t* key, std::span<const ByteView> associated, ByteView plaintext, uint8_t* sealed) {
  if (ForNettle(associated)) return AsError(NettleSeal(key, associated[0], associated[1], plaintext, sealed));
  if (plaintext.empty()) return AsError(kNotInThisBuild);
  return AsError(OpensslSiv(true, key, associated, plaintext, sealed, sealed + kSivTagSize));
}

std::error_code OpenSiv(const uint8_t* key, std::span<const ByteView> associated, ByteView sealed, uint8_t* plaintext) {
  if (sealed.size() < kSivTagSize) return AsError(kNotAuthentic);
  const size_t text_size = sealed.size() - kSivTagSize;
  int result = kNotInThisBuild;
  if (ForNettle(associated)) {
    result = NettleOpen(key, associated[0], associated[1], sealed, plaintext);
  } else if (text_size != 0) {
    uint8_t tag[kSivTagSize];
    std::memcpy(tag, sealed.data(), kSivTagSize);
    result = OpensslSiv(false, key, associated, sealed.subspan(kSivTagSize), tag, plaintext);
  }
  if (result != 0 && text_size != 0) std::memset(plaintext, 0, text_size);
  return AsError(result);
}

std::error_code RandomBytes(uint8_t* out, size_t size) {
  return AsError(RAND_bytes(out, static_cast<int>(size)) == 1 ? 0 : kProviderFailed);
}

}  // namespace chron::platform
