#include "platform/crypto.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace chron::platform {
namespace {

std::vector<uint8_t> Hex(const std::string& digits) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return bytes;
}
std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

struct Vector {
  const char* name;
  MacAlgorithm algorithm;
  std::vector<uint8_t> key;
  std::vector<uint8_t> data;
  std::vector<uint8_t> mac;
};

const std::vector<uint8_t> kRfc4493Key = Hex("2b7e151628aed2a6abf7158809cf4f3c");
const std::string kRfc4493Message =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";

TEST(CryptoTest, MacsMatchTheRfcVectors) {
  const std::vector<Vector> vectors = {
      // RFC 4493 section 4, examples 1 to 4 (0, 16, 40 and 64 bytes of message).
      {"cmac-0", MacAlgorithm::kAes128Cmac, kRfc4493Key, {}, Hex("bb1d6929e95937287fa37d129b756746")},
      {"cmac-16", MacAlgorithm::kAes128Cmac, kRfc4493Key, Hex(kRfc4493Message.substr(0, 32)),
       Hex("070a16b46b4d4144f79bdd9dd04a287c")},
      {"cmac-40", MacAlgorithm::kAes128Cmac, kRfc4493Key, Hex(kRfc4493Message.substr(0, 80)),
       Hex("dfa66747de9ae63030ca32611497c827")},
      {"cmac-64", MacAlgorithm::kAes128Cmac, kRfc4493Key, Hex(kRfc4493Message),
       Hex("51f0bebf7e3b9d92fc49741779363cfe")},
      // RFC 1321's MD5("message digest"), split as key "message " and data "digest": the MAC is
      // the digest of the key followed by the data.
      {"md5", MacAlgorithm::kMd5, Bytes("message "), Bytes("digest"), Hex("f96b697d7cb7938d525a2f31aaf161d0")},
  };
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.name);
    Mac mac{};
    ASSERT_EQ(ComputeMac(v.algorithm, v.key.data(), v.key.size(), v.data.data(), v.data.size(), &mac),
              std::error_code());
    EXPECT_EQ(std::vector<uint8_t>(mac.begin(), mac.end()), v.mac);
  }
}

TEST(CryptoTest, RefusesKeysTheAlgorithmCannotTake) {
  Mac mac{};
  const std::vector<uint8_t> short_key(15, 1);
  EXPECT_EQ(ComputeMac(MacAlgorithm::kAes128Cmac, short_key.data(), short_key.size(), nullptr, 0, &mac),
            PlatformError::kMacRefused);
  EXPECT_EQ(ComputeMac(MacAlgorithm::kMd5, short_key.data(), 0, nullptr, 0, &mac), PlatformError::kMacRefused);
}

TEST(CryptoTest, ConstantTimeEqualityFindsADifferenceAnywhere) {
  const std::vector<uint8_t> a(16, 0x5a);
  EXPECT_TRUE(EqualInConstantTime(a.data(), a.data(), a.size()));
  for (size_t i = 0; i < a.size(); ++i) {
    std::vector<uint8_t> b = a;
    b[i] ^= 0x01;
    EXPECT_FALSE(EqualInConstantTime(a.data(), b.data(), a.size())) << "byte " << i;
  }
}

}  // namespace
}  // namespace chron::platform
