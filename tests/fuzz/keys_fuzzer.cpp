// The symmetric key file parser with any text: it either gives keys or refuses the file with a
// line and a reason, never both. The keys it gives are usable (identifier 1 or more, each once,
// in file order, secrets of 1 to 64 bytes, AES128 keys of exactly 16), and written back as
// "ID TYPE HEX:..." lines they parse to the same keys.
#include <cstdint>
#include <string>
#include <string_view>

#include "config/keys.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using chron::KeyFileContents;
using chron::SymmetricKey;
using chron::platform::MacAlgorithm;

std::string HexLines(const KeyFileContents& contents) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const SymmetricKey& key : contents.keys) {
    text += std::to_string(key.id) + " " + chron::AlgorithmName(key.algorithm) + " HEX:";
    for (uint8_t byte : key.secret) {
      text += kDigits[byte >> 4];
      text += kDigits[byte & 0x0F];
    }
    text += "\n";
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const KeyFileContents contents = chron::ParseKeyFile(text);
  size_t lines = 1;
  for (char c : text) lines += c == '\n';

  if (!contents.error_text.empty()) {
    FUZZ_CHECK(contents.keys.empty());
    FUZZ_CHECK(contents.error_line >= 0 && static_cast<size_t>(contents.error_line) <= lines);
    return 0;
  }
  FUZZ_CHECK(!contents.keys.empty());
  FUZZ_CHECK(contents.error_line == 0);
  int previous_line = 0;
  for (size_t i = 0; i < contents.keys.size(); ++i) {
    const SymmetricKey& key = contents.keys[i];
    FUZZ_CHECK(key.id != 0);
    FUZZ_CHECK(key.line > previous_line && static_cast<size_t>(key.line) <= lines);
    previous_line = key.line;
    FUZZ_CHECK(!key.secret.empty() && key.secret.size() <= 64);
    if (key.algorithm == MacAlgorithm::kAes128Cmac) FUZZ_CHECK(key.secret.size() == 16);
    for (size_t j = 0; j < i; ++j) FUZZ_CHECK(contents.keys[j].id != key.id);
  }

  const KeyFileContents reread = chron::ParseKeyFile(HexLines(contents));
  FUZZ_CHECK(reread.error_text.empty());
  FUZZ_CHECK(reread.keys.size() == contents.keys.size());
  for (size_t i = 0; i < reread.keys.size(); ++i) {
    FUZZ_CHECK(reread.keys[i].id == contents.keys[i].id);
    FUZZ_CHECK(reread.keys[i].algorithm == contents.keys[i].algorithm);
    FUZZ_CHECK(reread.keys[i].secret == contents.keys[i].secret);
    FUZZ_CHECK(reread.keys[i].line == static_cast<int>(i) + 1);
  }
  return 0;
}
