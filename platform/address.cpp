// Addresses as values: byte order, comparison and the dotted address text.
#include "platform/address.h"

#include <bit>
#include <cstring>

namespace chron::platform {

uint16_t HostToNetwork16(uint16_t value) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<uint16_t>((value >> 8) | (value << 8));
  }
  return value;
}

uint32_t HostToNetwork32(uint32_t value) {
  if constexpr (std::endian::native == std::endian::little) {
    return (value >> 24) | ((value >> 8) & 0x0000FF00u) | ((value << 8) & 0x00FF0000u) | (value << 24);
  }
  return value;
}

std::string DottedAddress(uint32_t address) {
  uint8_t bytes[4];  // network byte order: first byte is the first number of the text
  std::memcpy(bytes, &address, sizeof bytes);
  std::string text;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) text += '.';
    text += std::to_string(bytes[i]);
  }
  return text;
}

bool SameEndpoint(const SocketAddress& a, const SocketAddress& b) {
  if (a.family != b.family || a.port != b.port) return false;
  if (a.family != kAfInet6) return a.address == b.address;
  return a.address6 == b.address6 && a.scope_id == b.scope_id;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

// The forms inet_addr accepts: "a.b.c.d", "a.b.c" (c fills 16 bits), "a.b" (b fills 24 bits)
// and "a" (32 bits); each number decimal, octal with a leading 0, or hexadecimal with 0x.
// The text may continue after white space; anything else after the address rejects it.
uint32_t ParseDottedAddress(std::string_view text) {
  uint32_t parts[4] = {};
  size_t count = 0;
  size_t pos = 0;
  for (;;) {
    if (pos >= text.size() || !IsDigit(text[pos])) return kInaddrNone;
    uint32_t base = 10;
    if (text[pos] == '0') {
      base = 8;
      ++pos;
      if (pos < text.size() && (text[pos] == 'x' || text[pos] == 'X')) {
        base = 16;
        ++pos;
        // "0x" without digits is rejected, as by inet_aton.
        if (pos >= text.size() || DigitValue(text[pos]) >= 16) return kInaddrNone;
      }
    }
    uint64_t value = 0;
    while (pos < text.size() && DigitValue(text[pos]) < static_cast<int>(base)) {
      value = value * base + static_cast<uint64_t>(DigitValue(text[pos]));
      if (value > 0xFFFFFFFFu) return kInaddrNone;
      ++pos;
    }
    if (count == 4) return kInaddrNone;
    parts[count++] = static_cast<uint32_t>(value);
    if (pos < text.size() && text[pos] == '.') {
      ++pos;
      continue;
    }
    break;
  }
  if (pos < text.size() && !IsSpace(text[pos])) return kInaddrNone;

  // Every number but the last is one byte; the last fills the remaining bytes.
  for (size_t i = 0; i + 1 < count; ++i) {
    if (parts[i] > 0xFF) return kInaddrNone;
  }
  static constexpr uint32_t kLastLimit[] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
  if (parts[count - 1] > kLastLimit[count - 1]) return kInaddrNone;
  uint32_t host = parts[count - 1];
  for (size_t i = 0; i + 1 < count; ++i) host |= parts[i] << (24 - 8 * i);
  return HostToNetwork32(host);
}

}  // namespace chron::platform
