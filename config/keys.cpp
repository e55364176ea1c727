#include "config/keys.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "config/settings.h"
#include "platform/ascii_case.h"
#include "platform/file.h"

namespace chron {
namespace {

constexpr size_t kLongestBareTextKey = 20;  // longer bare keys are hexadecimal (ntpsec)
constexpr size_t kLongestKey = 64;          // bytes after decoding

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    size_t end = at;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    if (end > at) fields.push_back(line.substr(at, end - at));
    at = end;
  }
  return fields;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool DecodeHex(std::string_view digits, std::vector<uint8_t>* bytes) {
  if (digits.empty() || digits.size() % 2 != 0) return false;
  bytes->clear();
  for (size_t i = 0; i < digits.size(); i += 2) {
    const int high = HexDigit(digits[i]);
    const int low = HexDigit(digits[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

bool ParseId(std::string_view text, uint32_t* id) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value == 0 || value > UINT32_MAX) return false;  // key 0 is reserved (crypto-NAK)
  *id = static_cast<uint32_t>(value);
  return true;
}

// The algorithm of a TYPE field; false for types this service cannot use.
bool ParseType(std::string_view type, platform::MacAlgorithm* algorithm) {
  for (std::string_view aes : {"AES128", "AES-128", "AES", "AES128CMAC"}) {
    if (platform::EqualsIgnoringCase(type, aes)) {
      *algorithm = platform::MacAlgorithm::kAes128Cmac;
      return true;
    }
  }
  if (platform::EqualsIgnoringCase(type, "MD5")) {
    *algorithm = platform::MacAlgorithm::kMd5;
    return true;
  }
  return false;
}

// The key bytes of a KEY field, or an error text.
std::string ParseSecret(std::string_view field, std::vector<uint8_t>* secret) {
  if (platform::StartsWithIgnoringCase(field, "HEX:")) {
    if (!DecodeHex(field.substr(4), secret)) return "Schlüssel nach HEX: ist keine gerade Anzahl Hexadezimalziffern";
  } else if (platform::StartsWithIgnoringCase(field, "ASCII:")) {
    if (field.size() == 6) return "Schlüssel nach ASCII: fehlt";
    secret->assign(field.begin() + 6, field.end());
  } else if (field.size() <= kLongestBareTextKey) {
    secret->assign(field.begin(), field.end());
  } else if (!DecodeHex(field, secret)) {
    return "Schlüssel über 20 Zeichen ohne HEX: oder ASCII: ist keine Hexadezimalzahl";
  }
  if (secret->size() > kLongestKey) return "Schlüssel länger als 64 Bytes";
  return {};
}

}  // namespace

const char* AlgorithmName(platform::MacAlgorithm algorithm) {
  return algorithm == platform::MacAlgorithm::kMd5 ? "MD5" : "AES128";
}

KeyFileContents ParseKeyFile(std::string_view text) {
  KeyFileContents result;
  int number = 0;
  auto fail = [&result, &number](std::string error) {
    result.keys.clear();
    result.error_line = number;
    result.error_text = std::move(error);
    return result;
  };
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    const size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    std::vector<std::string_view> fields = Fields(line);
    if (fields.empty() || std::strchr("!;%", fields[0][0]) != nullptr) continue;
    if (fields.size() == 2) fields.insert(fields.begin() + 1, "MD5");  // chrony: ID KEY
    if (fields.size() != 3) return fail("erwartet werden ID, Typ und Schlüssel");

    SymmetricKey key;
    key.line = number;
    if (!ParseId(fields[0], &key.id)) return fail("ungültige Schlüsselnummer " + ShownText(fields[0]));
    if (!ParseType(fields[1], &key.algorithm)) {
      return fail("Schlüsseltyp " + ShownText(fields[1]) + " wird nicht unterstützt (AES128 oder MD5)");
    }
    const std::string secret_error = ParseSecret(fields[2], &key.secret);
    if (!secret_error.empty()) return fail(secret_error);
    if (key.algorithm == platform::MacAlgorithm::kAes128Cmac && key.secret.size() != 16) {
      return fail("ein AES128-Schlüssel hat genau 16 Bytes");
    }
    for (const SymmetricKey& known : result.keys) {
      if (known.id == key.id) return fail("Schlüsselnummer " + std::to_string(key.id) + " doppelt");
    }
    result.keys.push_back(std::move(key));
  }
  if (result.keys.empty()) {
    number = 0;
    return fail("die Datei enthält keinen Schlüssel");
  }
  return result;
}

std::error_code ReadKeyFileText(const std::string& path, std::string* text, platform::FileFacts* facts) {
  return platform::ReadRegularFile(path, kLargestKeyFile, text, facts);
}

std::string ShownText(std::string_view text) {
  std::string shown;
  char escape[16];
  size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at]);
    // The code point of a well-formed UTF-8 sequence, or none.
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    uint32_t point = length == 1 ? lead : length == 2 ? lead & 0x1Fu : length == 3 ? lead & 0x0Fu : lead & 0x07u;
    for (size_t i = 1; i < length; ++i) {
      const auto next = at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
      if ((next & 0xC0) != 0x80) length = 0;
      point = point << 6 | (next & 0x3Fu);
    }
    if (length == 0) {
      std::snprintf(escape, sizeof escape, "\\x%02x", lead);
      shown += escape;
      ++at;
      continue;
    }
    // C0, DEL, C1, and the invisible format characters (zero widths, direction marks, BOM).
    const bool invisible = point < 0x20 || (point >= 0x7F && point < 0xA0) || point == 0xAD ||
                           (point >= 0x200B && point <= 0x200F) || (point >= 0x2028 && point <= 0x202E) ||
                           (point >= 0x2060 && point <= 0x2064) || point == 0xFEFF;
    if (invisible) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(point));
      shown += escape;
    } else {
      shown.append(text.substr(at, length));
    }
    at += length;
  }
  return shown;
}

void ReadKeyFileSetting(platform::Registry& registry, Configuration* config) {
  const std::string key(kProductKey.substr(0, kProductKey.size() - 1));
  std::vector<char> buffer(kKeyFileSetting.buffer_size, '\0');
  uint32_t size = kKeyFileSetting.buffer_size;
  config->key_file.clear();
  config->key_file_too_long = false;
  if (registry.OpenKey(key) != platform::kRegSuccess) return;
  const platform::RegStatus status = registry.QueryValue(key, kKeyFileSetting.path, nullptr, buffer.data(), &size);
  if (status == platform::kRegMoreData) {
    config->key_file_too_long = true;
    return;
  }
  if (status != platform::kRegSuccess) return;
  config->key_file.assign(buffer.data(), ::strnlen(buffer.data(), buffer.size()));
  TrimBlanks(&config->key_file);
}

}  // namespace chron
