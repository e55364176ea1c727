#include "engine/nts_fields.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace chron::nts {
namespace {

using Bytes = std::vector<uint8_t>;
using ReplyKind = NtsReplyCheck::Kind;
using RequestKind = NtsRequestCheck::Kind;

Bytes Header(uint8_t mode) {
  Bytes header(kHeaderSize, 0);
  header[0] = static_cast<uint8_t>(4 << 3 | mode);
  header[1] = 2;
  header[47] = 0x5a;
  return header;
}

// A server's key ring, a client's session with a cookie of it, and one exchange between them.
struct Exchange {
  ServerKeyRing ring;
  SessionKeys keys;
  UniqueId uid = *NewUniqueId();
  Bytes request, reply;
  NtsRequestCheck checked;

  explicit Exchange(size_t placeholders) {
    ring.Rotate(*NewServerKey(ring, 0));
    keys.c2s.fill(0x11);
    keys.s2c.fill(0x22);
    request = *BuildNtsRequest(Header(3), uid, *SealCookie(*ring.current, keys), placeholders, keys);
    checked = CheckNtsRequest(request, ring);
    std::vector<Bytes> cookies;
    for (size_t i = 0; i < checked.cookies; ++i) cookies.push_back(*SealCookie(*ring.current, checked.keys));
    reply = *BuildNtsReply(Header(4), checked.uid, checked.keys, cookies);
  }
};

TEST(NtsFieldsTest, RequestHasTheRfcLayout) {
  const Exchange e(2);
  const auto fields = ParseExtensionFields(e.request, kHeaderSize);
  ASSERT_TRUE(fields);
  const struct {
    uint16_t type;
    size_t offset, value_size;
  } expected[] = {{kFieldUniqueId, 48, 32},
                  {kFieldCookie, 84, kCookieSize},
                  {kFieldCookiePlaceholder, 192, kCookieSize},
                  {kFieldCookiePlaceholder, 300, kCookieSize},
                  {kFieldAuthenticator, 408, 36}};
  ASSERT_EQ(fields->size(), std::size(expected));
  for (size_t i = 0; i < fields->size(); ++i) {
    EXPECT_EQ((*fields)[i].type, expected[i].type) << i;
    EXPECT_EQ((*fields)[i].offset, expected[i].offset) << i;
    EXPECT_EQ((*fields)[i].value.size(), expected[i].value_size) << i;
  }
  // Nonce length 16, ciphertext length 16: the synthetic IV of nothing.
  EXPECT_EQ(Bytes(e.request.begin() + 412, e.request.begin() + 416), (Bytes{0, 16, 0, 16}));
  EXPECT_EQ(e.request.size(), 448u);
}

TEST(NtsFieldsTest, ClientAndServerCompleteAnExchange) {
  for (size_t placeholders : {0, 3, 7, 9}) {
    const Exchange e(placeholders);
    ASSERT_EQ(e.checked.kind, RequestKind::kAuthentic) << placeholders;
    EXPECT_EQ(e.checked.cookies, std::min<size_t>(placeholders + 1, kCookiesPerSession));
    EXPECT_EQ(e.checked.uid, Bytes(e.uid.begin(), e.uid.end()));
    EXPECT_EQ(e.checked.keys.s2c, e.keys.s2c);
    const NtsReplyCheck reply = CheckNtsReply(e.reply, e.uid, e.keys);
    ASSERT_EQ(reply.kind, ReplyKind::kAuthentic) << placeholders;
    ASSERT_EQ(reply.cookies.size(), e.checked.cookies);
    EXPECT_TRUE(OpenCookie(e.ring, reply.cookies.back()));
    // A reply is no longer than its request (no amplification).
    EXPECT_LE(e.reply.size(), e.request.size());
  }
}

TEST(NtsFieldsTest, ClientRefusesForgedReplies) {
  const Exchange e(1);
  UniqueId other = e.uid;
  other[0] ^= 1;
  SessionKeys wrong = e.keys;
  wrong.s2c[0] ^= 1;
  const auto flipped = [&](size_t at) {
    Bytes b = e.reply;
    b[at] ^= 0x01;
    return b;
  };
  const struct {
    const char* name;
    Bytes reply;
    const UniqueId& uid;
    const SessionKeys& keys;
    ReplyKind kind;
  } cases[] = {
      {"another identifier", e.reply, other, e.keys, ReplyKind::kForeign},
      {"header changed", flipped(40), e.uid, e.keys, ReplyKind::kNotAuthentic},
      {"authenticator changed", flipped(e.reply.size() - 1), e.uid, e.keys, ReplyKind::kNotAuthentic},
      {"another key", e.reply, e.uid, wrong, ReplyKind::kNotAuthentic},
      {"no authenticator", Bytes(e.reply.begin(), e.reply.begin() + 84), e.uid, e.keys, ReplyKind::kNotAuthentic},
      {"cut", Bytes(e.reply.begin(), e.reply.end() - 4), e.uid, e.keys, ReplyKind::kMalformed},
      {"NAK", BuildNtsNak(Header(4), e.checked.uid), e.uid, e.keys, ReplyKind::kNak},
      {"NAK to another", BuildNtsNak(Header(4), e.checked.uid), other, e.keys, ReplyKind::kForeign},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckNtsReply(c.reply, c.uid, c.keys).kind, c.kind) << c.name;
}

TEST(NtsFieldsTest, ServerNaksOrDropsWhatItCannotTrust) {
  const Exchange e(1);
  ServerKeyRing other;
  other.Rotate(*NewServerKey(other, 0));
  const auto edited = [&](const std::function<void(Bytes&)>& edit) {
    Bytes b = e.request;
    edit(b);
    return b;
  };
  const struct {
    const char* name;
    Bytes request;
    const ServerKeyRing& ring;
    RequestKind kind;
  } cases[] = {
      {"unknown server key", e.request, other, RequestKind::kNak},
      {"header changed", edited([](Bytes& b) { b[40] ^= 1; }), e.ring, RequestKind::kNak},
      {"cookie changed", edited([](Bytes& b) { b[100] ^= 1; }), e.ring, RequestKind::kNak},
      {"no authenticator", Bytes(e.request.begin(), e.request.end() - 40), e.ring, RequestKind::kDrop},
      {"no cookie", edited([](Bytes& b) { b[85] = 0x05; }), e.ring, RequestKind::kDrop},
      {"length not a multiple of 4", edited([](Bytes& b) { b[51] = 37; }), e.ring, RequestKind::kDrop},
      {"header alone", Header(3), e.ring, RequestKind::kDrop},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckNtsRequest(c.request, c.ring).kind, c.kind) << c.name;
}

}  // namespace
}  // namespace chron::nts
