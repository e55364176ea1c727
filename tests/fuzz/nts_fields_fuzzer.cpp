// NTP messages with extension fields through the NTS checks of both sides. The input chooses a
// datagram as it is, or a genuine request or reply (built with fixed keys) that it then edits
// byte by byte. Whatever the bytes: the fields parsed tile the message; the server trusts a
// request only with a cookie of its ring and a valid authenticator, and asks for one to eight
// cookies; the client trusts a reply only with its identifier and a valid authenticator; an
// unedited genuine message is trusted.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

#include "engine/nts_fields.h"
#include "tests/fuzz/fuzz_support.h"

using namespace chron::nts;

namespace {

constexpr size_t kMaxDatagram = 1500;
constexpr size_t kMaxEdits = 8;

struct Fixture {
  ServerKeyRing ring;
  SessionKeys keys;
  UniqueId uid{};
  std::vector<uint8_t> cookie;

  Fixture() {
    ServerKey key;
    key.id = 7;
    key.secret.fill(0x3c);
    ring.Rotate(key);
    keys.c2s.fill(0x11);
    keys.s2c.fill(0x22);
    uid.fill(0x5a);
    cookie = *SealCookie(key, keys);
  }
};

std::vector<uint8_t> Header(uint8_t mode) {
  std::vector<uint8_t> header(kHeaderSize, 0);
  header[0] = static_cast<uint8_t>(4 << 3 | mode);
  return header;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Fixture f;
  FuzzedDataProvider input(data, size);
  std::vector<uint8_t> message;
  const uint8_t kind = input.ConsumeIntegralInRange<uint8_t>(0, 2);
  if (kind == 1) {
    message = *BuildNtsRequest(Header(3), f.uid, f.cookie, input.ConsumeIntegralInRange<size_t>(0, 9), f.keys);
  } else if (kind == 2) {
    const std::vector<std::vector<uint8_t>> cookies(input.ConsumeIntegralInRange<size_t>(0, 8), f.cookie);
    message = *BuildNtsReply(Header(4), f.uid, f.keys, cookies);
  }
  const size_t edits = kind == 0 ? 0 : input.ConsumeIntegralInRange<size_t>(0, kMaxEdits);
  for (size_t i = 0; i < edits && !message.empty(); ++i) {
    message[input.ConsumeIntegralInRange<size_t>(0, message.size() - 1)] ^= input.ConsumeIntegral<uint8_t>();
  }
  if (kind == 0) message = input.ConsumeBytes<uint8_t>(kMaxDatagram);

  if (const auto fields = ParseExtensionFields(message, kHeaderSize); fields && message.size() >= kHeaderSize) {
    size_t next = kHeaderSize;
    for (const ExtensionField& field : *fields) {
      FUZZ_CHECK(field.offset == next && field.value.size() + 4 >= kMinFieldSize && field.value.size() % 4 == 0);
      next = field.offset + 4 + field.value.size();
    }
    FUZZ_CHECK(next == message.size());
  }

  const NtsRequestCheck request = CheckNtsRequest(message, f.ring);
  if (request.kind == NtsRequestCheck::Kind::kAuthentic) {
    FUZZ_CHECK(request.cookies >= 1 && request.cookies <= kCookiesPerSession);
    FUZZ_CHECK(request.uid.size() >= kUniqueIdSize && request.keys.c2s == f.keys.c2s);
  }
  if (kind == 1 && edits == 0) FUZZ_CHECK(request.kind == NtsRequestCheck::Kind::kAuthentic);

  const NtsReplyCheck reply = CheckNtsReply(message, f.uid, f.keys);
  if (reply.kind == NtsReplyCheck::Kind::kAuthentic) {
    FUZZ_CHECK(reply.cookies.size() <= kCookiesPerSession);
  } else {
    FUZZ_CHECK(reply.cookies.empty());
  }
  if (kind == 2 && edits == 0) FUZZ_CHECK(reply.kind == NtsReplyCheck::Kind::kAuthentic);
  return 0;
}
