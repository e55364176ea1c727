#include "engine/nts_cookie.h"

#include <charconv>
#include <cstring>

#include "platform/crypto.h"

namespace chron::nts {
namespace {

constexpr size_t kKeyIdSize = 4;
constexpr size_t kPlaintextSize = 4 + 2 * kSessionKeySize;
static_assert(kCookieSize == kKeyIdSize + kCookieNonceSize + platform::kSivTagSize + kPlaintextSize);
static_assert(kCookieSize % 4 == 0);
static_assert(kServerKeySize == platform::kSivKeySize);

uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}

constexpr char kDigits[] = "0123456789abcdef";

std::string HexOf(std::span<const uint8_t> bytes) {
  std::string text;
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool BytesOfHex(std::string_view hex, std::span<uint8_t> out) {
  if (hex.size() != 2 * out.size()) return false;
  for (size_t i = 0; i < out.size(); ++i) {
    const int high = HexDigit(hex[2 * i]);
    const int low = HexDigit(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

// The fields of a line separated by single spaces.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (start <= line.size()) {
    const size_t end = std::min(line.find(' ', start), line.size());
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

std::optional<ServerKey> ParseKeyLine(std::string_view line) {
  const std::vector<std::string_view> fields = Fields(line);
  ServerKey key;
  std::array<uint8_t, 4> id{};
  if (fields.size() != 3 || !BytesOfHex(fields[0], id) || !BytesOfHex(fields[2], key.secret)) return std::nullopt;
  key.id = Read32(id.data());
  const char* end = fields[1].data() + fields[1].size();
  const auto [stop, error] = std::from_chars(fields[1].data(), end, key.created);
  if (error != std::errc() || stop != end || fields[1].empty() || key.created < 0) return std::nullopt;
  return key;
}

}  // namespace

const ServerKey* ServerKeyRing::Find(uint32_t id) const {
  if (current && current->id == id) return &*current;
  if (previous && previous->id == id) return &*previous;
  return nullptr;
}

bool ServerKeyRing::RotationDue(int64_t now) const {
  if (!current) return true;
  return now - current->created >= kServerKeyRotationSeconds || current->created - now >= kServerKeyRotationSeconds;
}

void ServerKeyRing::Rotate(const ServerKey& fresh) {
  previous = current;
  current = fresh;
}

std::optional<ServerKey> NewServerKey(const ServerKeyRing& ring, int64_t now) {
  ServerKey key;
  key.created = now;
  uint8_t id[4];
  if (platform::RandomBytes(key.secret.data(), key.secret.size()) || platform::RandomBytes(id, sizeof id)) {
    return std::nullopt;
  }
  key.id = ring.current ? ring.current->id + 1 : Read32(id);
  return key;
}

std::optional<std::vector<uint8_t>> SealCookie(const ServerKey& key, const SessionKeys& keys) {
  std::vector<uint8_t> cookie(kCookieSize);
  uint8_t* const id = cookie.data();
  uint8_t* const nonce = id + kKeyIdSize;
  for (size_t i = 0; i < kKeyIdSize; ++i) id[i] = static_cast<uint8_t>(key.id >> (24 - 8 * i));
  if (platform::RandomBytes(nonce, kCookieNonceSize)) return std::nullopt;
  std::array<uint8_t, kPlaintextSize> plaintext{};
  plaintext[0] = static_cast<uint8_t>(keys.aead >> 8);
  plaintext[1] = static_cast<uint8_t>(keys.aead);
  std::memcpy(&plaintext[4], keys.c2s.data(), kSessionKeySize);
  std::memcpy(&plaintext[4 + kSessionKeySize], keys.s2c.data(), kSessionKeySize);
  const platform::ByteView associated[] = {{id, kKeyIdSize}, {nonce, kCookieNonceSize}};
  const std::error_code error = platform::SealSiv(key.secret.data(), associated, plaintext, nonce + kCookieNonceSize);
  std::memset(plaintext.data(), 0, plaintext.size());
  if (error) return std::nullopt;
  return cookie;
}

std::optional<SessionKeys> OpenCookie(const ServerKeyRing& ring, std::span<const uint8_t> cookie) {
  if (cookie.size() != kCookieSize) return std::nullopt;
  const ServerKey* key = ring.Find(Read32(cookie.data()));
  if (key == nullptr) return std::nullopt;
  const platform::ByteView associated[] = {cookie.subspan(0, kKeyIdSize), cookie.subspan(kKeyIdSize, kCookieNonceSize)};
  std::array<uint8_t, kPlaintextSize> plaintext{};
  if (platform::OpenSiv(key->secret.data(), associated, cookie.subspan(kKeyIdSize + kCookieNonceSize),
                        plaintext.data())) {
    return std::nullopt;
  }
  SessionKeys keys;
  keys.aead = static_cast<uint16_t>(plaintext[0] << 8 | plaintext[1]);
  std::memcpy(keys.c2s.data(), &plaintext[4], kSessionKeySize);
  std::memcpy(keys.s2c.data(), &plaintext[4 + kSessionKeySize], kSessionKeySize);
  std::memset(plaintext.data(), 0, plaintext.size());
  if (keys.aead != kAeadAesSivCmac256) return std::nullopt;
  return keys;
}

std::string FormatServerKeys(const ServerKeyRing& ring) {
  std::string text = "# NTS server keys: identifier, created (Unix seconds), secret; the current first\n";
  for (const std::optional<ServerKey>& key : {ring.current, ring.previous}) {
    if (!key) continue;
    const uint8_t id[] = {static_cast<uint8_t>(key->id >> 24), static_cast<uint8_t>(key->id >> 16),
                          static_cast<uint8_t>(key->id >> 8), static_cast<uint8_t>(key->id)};
    text += HexOf(id) + " " + std::to_string(key->created) + " " + HexOf(key->secret) + "\n";
  }
  return text;
}

std::optional<ServerKeyRing> ParseServerKeys(std::string_view text) {
  std::vector<ServerKey> keys;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    const std::optional<ServerKey> key = ParseKeyLine(line);
    if (!key || keys.size() == 2) return std::nullopt;
    keys.push_back(*key);
  }
  if (keys.empty() || (keys.size() == 2 && keys[0].id == keys[1].id)) return std::nullopt;
  ServerKeyRing ring;
  ring.current = keys[0];
  if (keys.size() == 2) ring.previous = keys[1];
  return ring;
}

}  // namespace chron::nts
