#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/crypto.h"
#include "tests/testutil/hex.h"

namespace chron::platform {
namespace {

using Bytes = std::vector<uint8_t>;

using testing::Hex;

struct Vector {
  const char* name;
  Bytes key;
  std::vector<Bytes> associated;
  Bytes plaintext;
  Bytes sealed;  // synthetic IV, then ciphertext
};

const Bytes kNonceKey = Hex("7f7e7d7c7b7a79787776757473727170404142434445464748494a4b4c4d4e4f");
const Bytes kAd1 = Hex("00112233445566778899aabbccddeeffdeaddadadeaddadaffeeddccbbaa99887766554433221100");
const Bytes kNonce = Hex("09f911029d74e35bd84156c5635688c0");

const std::vector<Vector> kVectors = {
    // RFC 5297 A.1: deterministic, one associated-data string.
    {"A.1",
     Hex("fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff"),
     {Hex("101112131415161718191a1b1c1d1e1f2021222324252627")},
     Hex("112233445566778899aabbccddee"),
     Hex("85632d07c6e8f37f950acd320a2ecc9340c02b9690c4dc04daef7f6afe5c")},
    // RFC 5297 A.2: two associated-data strings and the nonce.
    {"A.2",
     kNonceKey,
     {kAd1, Hex("102030405060708090a0"), kNonce},
     Hex("7468697320697320736f6d6520706c61696e7465787420746f20656e6372797074207573696e67205349562d414553"),
     Hex("7bdb6e3b432667eb06f4d14bff2fbd0fcb900f2fddbe404326601965c889bf17dba77ceb094fa663b7a3f748ba8af829ea64ad5"
         "44a272e9c485b62a3fd5c0d")},
    // RFC 5116's form with nothing to encrypt, as an NTS request is: S2V(A, N, "") computed apart
    // from this code (CMAC of dbl(D) xor 10^127).
    {"empty plaintext", kNonceKey, {kAd1, kNonce}, {}, Hex("4cf1e6f9180dca7683caaa9c7bb70ec6")},
    // RFC 5116's form with a plaintext, as NTS's replies and cookies are (A.2's text, its first
    // associated-data string and its nonce), computed apart from this code (Python's
    // cryptography AESSIV).
    {"associated data, nonce and plaintext",
     kNonceKey,
     {kAd1, kNonce},
     Hex("7468697320697320736f6d6520706c61696e7465787420746f20656e6372797074207573696e67205349562d414553"),
     Hex("85825e22e90cf2ddda2c548dc7c1b6310dcdaca0cebf9dc6cb90583f5bf1506e02cd48832b00e4e598b2b22a53e6199d4df0c16"
         "66a35a0433b250dc134d776")},
};

std::vector<ByteView> Views(const std::vector<Bytes>& parts) { return {parts.begin(), parts.end()}; }

TEST(SivTest, SealsAndOpensTheVectors) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(v.name);
    Bytes sealed(v.plaintext.size() + kSivTagSize);
    ASSERT_FALSE(SealSiv(v.key.data(), Views(v.associated), v.plaintext, sealed.data()));
    EXPECT_EQ(sealed, v.sealed);
    Bytes opened(v.plaintext.size(), 0xEE);
    ASSERT_FALSE(OpenSiv(v.key.data(), Views(v.associated), v.sealed, opened.data()));
    EXPECT_EQ(opened, v.plaintext);
  }
}

TEST(SivTest, RefusesAnyChangedBit) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(v.name);
    Bytes opened(v.plaintext.size());
    for (size_t i = 0; i < v.sealed.size(); ++i) {
      Bytes sealed = v.sealed;
      sealed[i] ^= 0x40;
      EXPECT_EQ(OpenSiv(v.key.data(), Views(v.associated), sealed, opened.data()),
                make_error_code(PlatformError::kNotAuthentic))
          << i;
    }
    std::vector<Bytes> associated = v.associated;
    associated.back()[0] ^= 0x01;
    EXPECT_EQ(OpenSiv(v.key.data(), Views(associated), v.sealed, opened.data()),
              make_error_code(PlatformError::kNotAuthentic));
  }
}

TEST(SivTest, RandomBytesDiffer) {
  Bytes a(32), b(32);
  ASSERT_FALSE(RandomBytes(a.data(), a.size()));
  ASSERT_FALSE(RandomBytes(b.data(), b.size()));
  EXPECT_NE(a, b);
}

}  // namespace
}  // namespace chron::platform
