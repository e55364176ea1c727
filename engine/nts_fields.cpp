#include "engine/nts_fields.h"

#include <algorithm>

#include "platform/crypto.h"

namespace chron::nts {
namespace {

constexpr size_t kFieldHeaderSize = 4;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

size_t Padded(size_t size) { return (size + 3) & ~size_t{3}; }

void Append16(uint16_t value, std::vector<uint8_t>* out) {
  out->push_back(static_cast<uint8_t>(value >> 8));
  out->push_back(static_cast<uint8_t>(value));
}

// A field of `value`, zero-padded to a multiple of 4 and to the minimum field size.
void AppendField(uint16_t type, std::span<const uint8_t> value, std::vector<uint8_t>* out) {
  const size_t size = std::max(kMinFieldSize, kFieldHeaderSize + Padded(value.size()));
  Append16(type, out);
  Append16(static_cast<uint16_t>(size), out);
  out->insert(out->end(), value.begin(), value.end());
  out->resize(out->size() + size - kFieldHeaderSize - value.size(), 0);
}

// Appends the authenticator sealing `plaintext` with everything in `out` so far as associated data.
bool AppendAuthenticator(const std::array<uint8_t, kSessionKeySize>& key, std::span<const uint8_t> plaintext,
                         std::vector<uint8_t>* out) {
  uint8_t nonce[kAuthNonceSize];
  if (platform::RandomBytes(nonce, sizeof nonce)) return false;
  const size_t ciphertext_size = platform::kSivTagSize + plaintext.size();
  std::vector<uint8_t> value;
  Append16(kAuthNonceSize, &value);
  Append16(static_cast<uint16_t>(ciphertext_size), &value);
  value.insert(value.end(), nonce, nonce + kAuthNonceSize);
  const size_t sealed_at = value.size();
  value.resize(sealed_at + Padded(ciphertext_size), 0);
  const platform::ByteView associated[] = {*out, {nonce, kAuthNonceSize}};
  if (platform::SealSiv(key.data(), associated, plaintext, &value[sealed_at])) return false;
  AppendField(kFieldAuthenticator, value, out);
  return true;
}

// Opens the authenticator `field` of `message` under `key`; the decrypted fields, or none.
std::optional<std::vector<uint8_t>> OpenAuthenticator(std::span<const uint8_t> message, const ExtensionField& field,
                                                      const std::array<uint8_t, kSessionKeySize>& key) {
  const std::span<const uint8_t> value = field.value;
  if (value.size() < 4) return std::nullopt;
  const size_t nonce_size = Read16(&value[0]);
  const size_t ciphertext_size = Read16(&value[2]);
  if (nonce_size == 0 || ciphertext_size < platform::kSivTagSize ||
      4 + Padded(nonce_size) + Padded(ciphertext_size) > value.size()) {
    return std::nullopt;
  }
  const platform::ByteView associated[] = {message.subspan(0, field.offset), value.subspan(4, nonce_size)};
  std::vector<uint8_t> plaintext(ciphertext_size - platform::kSivTagSize);
  if (platform::OpenSiv(key.data(), associated, value.subspan(4 + Padded(nonce_size), ciphertext_size),
                        plaintext.data())) {
    return std::nullopt;
  }
  return plaintext;
}

const ExtensionField* Only(const std::vector<ExtensionField>& fields, uint16_t type) {
  const ExtensionField* found = nullptr;
  for (const ExtensionField& f : fields) {
    if (f.type != type) continue;
    if (found != nullptr) return nullptr;
    found = &f;
  }
  return found;
}

}  // namespace

std::optional<std::vector<ExtensionField>> ParseExtensionFields(std::span<const uint8_t> bytes, size_t start) {
  std::vector<ExtensionField> fields;
  size_t offset = start;
  while (offset < bytes.size()) {
    if (bytes.size() - offset < kMinFieldSize || fields.size() == kMaxFields) return std::nullopt;
    const size_t size = Read16(&bytes[offset + 2]);
    if (size < kMinFieldSize || size % 4 != 0 || size > bytes.size() - offset) return std::nullopt;
    fields.push_back(
        {Read16(&bytes[offset]), offset, bytes.subspan(offset + kFieldHeaderSize, size - kFieldHeaderSize)});
    offset += size;
  }
  return fields;
}

std::optional<UniqueId> NewUniqueId() {
  UniqueId uid;
  if (platform::RandomBytes(uid.data(), uid.size())) return std::nullopt;
  return uid;
}

std::optional<std::vector<uint8_t>> BuildNtsRequest(std::span<const uint8_t> header, const UniqueId& uid,
                                                    std::span<const uint8_t> cookie, size_t placeholders,
                                                    const SessionKeys& keys) {
  std::vector<uint8_t> out(header.begin(), header.begin() + kHeaderSize);
  AppendField(kFieldUniqueId, uid, &out);
  AppendField(kFieldCookie, cookie, &out);
  const std::vector<uint8_t> zeros(cookie.size(), 0);
  for (size_t i = 0; i < placeholders; ++i) AppendField(kFieldCookiePlaceholder, zeros, &out);
  if (!AppendAuthenticator(keys.c2s, {}, &out)) return std::nullopt;
  return out;
}

NtsReplyCheck CheckNtsReply(std::span<const uint8_t> reply, const UniqueId& uid, const SessionKeys& keys) {
  using Kind = NtsReplyCheck::Kind;
  NtsReplyCheck check;
  if (reply.size() < kHeaderSize) return check;
  const std::optional<std::vector<ExtensionField>> fields = ParseExtensionFields(reply, kHeaderSize);
  if (!fields) return check;
  const ExtensionField* id = Only(*fields, kFieldUniqueId);
  if (id == nullptr || id->value.size() != uid.size() || !std::equal(uid.begin(), uid.end(), id->value.begin())) {
    check.kind = Kind::kForeign;
    return check;
  }
  const ExtensionField* auth = Only(*fields, kFieldAuthenticator);
  if (auth == nullptr) {
    const bool kiss =
        reply[1] == 0 && Read16(&reply[12]) == kKissNtsn >> 16 && Read16(&reply[14]) == (kKissNtsn & 0xFFFF);
    check.kind = kiss ? Kind::kNak : Kind::kNotAuthentic;
    return check;
  }
  const std::optional<std::vector<uint8_t>> plaintext = OpenAuthenticator(reply, *auth, keys.s2c);
  if (!plaintext) {
    check.kind = Kind::kNotAuthentic;
    return check;
  }
  const std::optional<std::vector<ExtensionField>> inner = ParseExtensionFields(*plaintext, 0);
  if (!inner) return check;
  for (const ExtensionField& f : *inner) {
    if (f.type != kFieldCookie || f.value.size() > kMaxCookieSize) continue;
    if (check.cookies.size() < kCookiesPerSession) check.cookies.emplace_back(f.value.begin(), f.value.end());
  }
  check.kind = Kind::kAuthentic;
  return check;
}

NtsRequestCheck CheckNtsRequest(std::span<const uint8_t> request, const ServerKeyRing& ring) {
  using Kind = NtsRequestCheck::Kind;
  NtsRequestCheck check;
  if (request.size() < kHeaderSize) return check;
  const std::optional<std::vector<ExtensionField>> fields = ParseExtensionFields(request, kHeaderSize);
  if (!fields) return check;
  const ExtensionField* id = Only(*fields, kFieldUniqueId);
  const ExtensionField* cookie = Only(*fields, kFieldCookie);
  const ExtensionField* auth = Only(*fields, kFieldAuthenticator);
  if (id == nullptr || id->value.size() < kUniqueIdSize || cookie == nullptr || auth == nullptr) return check;
  check.uid.assign(id->value.begin(), id->value.end());
  check.kind = Kind::kNak;
  const std::optional<SessionKeys> keys = OpenCookie(ring, cookie->value);
  if (!keys || !OpenAuthenticator(request, *auth, keys->c2s)) return check;
  check.keys = *keys;
  check.cookies = 1;
  for (const ExtensionField& f : *fields) {
    // Placeholders before the authenticator only: what follows it is not authenticated.
    if (f.type == kFieldCookiePlaceholder && f.offset < auth->offset && f.value.size() == cookie->value.size()) {
      check.cookies = std::min(check.cookies + 1, kCookiesPerSession);
    }
  }
  check.kind = Kind::kAuthentic;
  return check;
}

std::optional<std::vector<uint8_t>> BuildNtsReply(std::span<const uint8_t> header, std::span<const uint8_t> uid,
                                                  const SessionKeys& keys,
                                                  const std::vector<std::vector<uint8_t>>& cookies) {
  std::vector<uint8_t> out(header.begin(), header.begin() + kHeaderSize);
  AppendField(kFieldUniqueId, uid, &out);
  std::vector<uint8_t> plaintext;
  for (const std::vector<uint8_t>& cookie : cookies) AppendField(kFieldCookie, cookie, &plaintext);
  if (!AppendAuthenticator(keys.s2c, plaintext, &out)) return std::nullopt;
  return out;
}

std::vector<uint8_t> BuildNtsNak(std::span<const uint8_t> header, std::span<const uint8_t> uid) {
  std::vector<uint8_t> out(header.begin(), header.begin() + kHeaderSize);
  out[1] = 0;  // stratum 0: a kiss-o'-death
  for (size_t i = 0; i < 4; ++i) out[12 + i] = static_cast<uint8_t>(kKissNtsn >> (24 - 8 * i));
  AppendField(kFieldUniqueId, uid, &out);
  return out;
}

}  // namespace chron::nts
