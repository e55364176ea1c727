// MACs through Windows CNG (bcrypt): MD5 as a CNG hash, AES-128-CMAC (RFC 4493) as CBC-MAC over
// CNG's AES block cipher in ECB mode. CNG's own "AES-CMAC" provider exists only from Windows 8 on
// (and not in Wine), so the two CMAC steps of RFC 4493 are done here over the cipher.
#include <algorithm>

#include "platform/crypto.h"
#include "platform/win32/win32.h"

#include <bcrypt.h>

namespace chron::platform {
namespace {

constexpr PlatformError kProviderFailed = PlatformError::kMacRefused;
constexpr size_t kBlock = 16;
using Block = std::array<uint8_t, kBlock>;

bool Succeeded(NTSTATUS status) { return status >= 0; }

class Algorithm {
 public:
  Algorithm(const wchar_t* name, const wchar_t* chaining) {
    if (!Succeeded(BCryptOpenAlgorithmProvider(&handle_, name, nullptr, 0))) handle_ = nullptr;
    if (handle_ != nullptr && chaining != nullptr &&
        !Succeeded(BCryptSetProperty(handle_, BCRYPT_CHAINING_MODE,
                                     reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(chaining)),
                                     static_cast<ULONG>((wcslen(chaining) + 1) * sizeof(wchar_t)), 0))) {
      BCryptCloseAlgorithmProvider(handle_, 0);
      handle_ = nullptr;
    }
  }
  ~Algorithm() {
    if (handle_ != nullptr) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  Algorithm(const Algorithm&) = delete;
  Algorithm& operator=(const Algorithm&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

std::error_code Md5Mac(const uint8_t* key, size_t key_size, const uint8_t* data, size_t size, Mac* mac) {
  Algorithm md5(BCRYPT_MD5_ALGORITHM, nullptr);
  if (md5.get() == nullptr) return kProviderFailed;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!Succeeded(BCryptCreateHash(md5.get(), &hash, nullptr, 0, nullptr, 0, 0))) return kProviderFailed;
  bool ok = Succeeded(BCryptHashData(hash, const_cast<PUCHAR>(key), static_cast<ULONG>(key_size), 0)) &&
            (size == 0 || Succeeded(BCryptHashData(hash, const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0))) &&
            Succeeded(BCryptFinishHash(hash, mac->data(), static_cast<ULONG>(mac->size()), 0));
  BCryptDestroyHash(hash);
  if (!ok) return kProviderFailed;
  return {};
}

// Doubling in GF(2^128) (RFC 4493 section 2.3): shift left by one bit, xor 0x87 on carry.
Block Double(const Block& in) {
  Block out{};
  for (size_t i = 0; i < kBlock; ++i) {
    out[i] = static_cast<uint8_t>(in[i] << 1);
    if (i + 1 < kBlock) out[i] |= static_cast<uint8_t>(in[i + 1] >> 7);
  }
  if ((in[0] & 0x80) != 0) out[kBlock - 1] ^= 0x87;
  return out;
}

std::error_code CmacMac(const uint8_t* key, size_t key_size, const uint8_t* data, size_t size, Mac* mac) {
  if (key_size != kBlock) return kProviderFailed;
  Algorithm aes(BCRYPT_AES_ALGORITHM, BCRYPT_CHAIN_MODE_ECB);
  if (aes.get() == nullptr) return kProviderFailed;
  BCRYPT_KEY_HANDLE aes_key = nullptr;
  if (!Succeeded(BCryptGenerateSymmetricKey(aes.get(), &aes_key, nullptr, 0, const_cast<PUCHAR>(key),
                                            static_cast<ULONG>(key_size), 0))) {
    return kProviderFailed;
  }
  bool ok = true;
  auto encrypt = [&](Block* block) {
    ULONG written = 0;
    ok = ok && Succeeded(BCryptEncrypt(aes_key, block->data(), kBlock, nullptr, nullptr, 0, block->data(), kBlock,
                                       &written, 0));
  };
  // Subkeys K1 (complete last block) and K2 (padded last block) from L = AES(K, 0).
  Block subkey{};
  encrypt(&subkey);
  const Block k1 = Double(subkey);
  const Block k2 = Double(k1);

  const size_t blocks = size == 0 ? 1 : (size + kBlock - 1) / kBlock;
  const bool complete = size != 0 && size % kBlock == 0;
  Block state{};
  for (size_t b = 0; b < blocks && ok; ++b) {
    Block input{};
    const size_t offset = b * kBlock;
    const size_t take = std::min(kBlock, size - std::min(size, offset));
    for (size_t i = 0; i < take; ++i) input[i] = data[offset + i];
    if (b + 1 == blocks) {
      if (!complete) input[take] = 0x80;  // padding 10...0
      const Block& last_key = complete ? k1 : k2;
      for (size_t i = 0; i < kBlock; ++i) input[i] ^= last_key[i];
    }
    for (size_t i = 0; i < kBlock; ++i) state[i] ^= input[i];
    encrypt(&state);
  }
  BCryptDestroyKey(aes_key);
  if (!ok) return kProviderFailed;
  std::copy(state.begin(), state.end(), mac->begin());
  return {};
}

}  // namespace

std::error_code ComputeMac(MacAlgorithm algorithm, const uint8_t* key, size_t key_size, const uint8_t* data,
                           size_t size, Mac* mac) {
  if (algorithm == MacAlgorithm::kMd5) {
    if (key_size == 0) return kProviderFailed;
    return Md5Mac(key, key_size, data, size, mac);
  }
  return CmacMac(key, key_size, data, size, mac);
}

bool EqualInConstantTime(const uint8_t* a, const uint8_t* b, size_t size) {
  uint8_t difference = 0;
  for (size_t i = 0; i < size; ++i) difference |= static_cast<uint8_t>(a[i] ^ b[i]);
  return difference == 0;
}

}  // namespace chron::platform
