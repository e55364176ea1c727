// MACs through OpenSSL 3's libcrypto: EVP_MAC "CMAC" over AES-128-CBC and the EVP digest MD5.
#include "platform/crypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <memory>

namespace chron::platform {
namespace {

constexpr PlatformError kProviderFailed = PlatformError::kMacRefused;

struct MacContextFree {
  void operator()(EVP_MAC_CTX* context) const { EVP_MAC_CTX_free(context); }
};
struct DigestContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// Fetched once per process: looking an algorithm up in the providers costs more than using it.
// Fetching is thread-safe; so is sharing the fetched objects.
EVP_MAC* CmacAlgorithm() {
  static EVP_MAC* const cmac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
  return cmac;
}
const EVP_MD* Md5Algorithm() {
  static EVP_MD* const md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
  return md5;
}

std::error_code AesCmac(const uint8_t* key, size_t key_size, const uint8_t* data, size_t size, Mac* mac) {
  if (key_size != 16 || CmacAlgorithm() == nullptr) return kProviderFailed;
  std::unique_ptr<EVP_MAC_CTX, MacContextFree> context(EVP_MAC_CTX_new(CmacAlgorithm()));
  if (!context) return kProviderFailed;
  char cipher[] = "AES-128-CBC";
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipher, 0),
      OSSL_PARAM_construct_end(),
  };
  size_t length = 0;
  if (EVP_MAC_init(context.get(), key, key_size, params) != 1 || EVP_MAC_update(context.get(), data, size) != 1 ||
      EVP_MAC_final(context.get(), mac->data(), &length, mac->size()) != 1 || length != kMacSize) {
    return kProviderFailed;
  }
  return {};
}

std::error_code Md5(const uint8_t* key, size_t key_size, const uint8_t* data, size_t size, Mac* mac) {
  if (key_size == 0 || Md5Algorithm() == nullptr) return kProviderFailed;
  std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
  unsigned int length = 0;
  if (!context || EVP_DigestInit_ex(context.get(), Md5Algorithm(), nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), key, key_size) != 1 || EVP_DigestUpdate(context.get(), data, size) != 1 ||
      EVP_DigestFinal_ex(context.get(), mac->data(), &length) != 1 || length != kMacSize) {
    return kProviderFailed;
  }
  return {};
}

}  // namespace

std::error_code ComputeMac(MacAlgorithm algorithm, const uint8_t* key, size_t key_size, const uint8_t* data,
                           size_t size, Mac* mac) {
  switch (algorithm) {
    case MacAlgorithm::kAes128Cmac: return AesCmac(key, key_size, data, size, mac);
    case MacAlgorithm::kMd5: return Md5(key, key_size, data, size, mac);
  }
  return kProviderFailed;
}

bool EqualInConstantTime(const uint8_t* a, const uint8_t* b, size_t size) { return CRYPTO_memcmp(a, b, size) == 0; }

}  // namespace chron::platform
