// The symmetric key file in the format chronyd and ntpsec's ntpd read: one key per line,
//
//   ID TYPE KEY        e.g.  1 AES128 HEX:6D9C8B0B4F3A2E1D5C6B7A8998A7B6C5
//
// ID a decimal key identifier from 1 to 4294967295; TYPE AES128 (also written AES-128, AES,
// AES128CMAC) for AES-128-CMAC with a key of exactly 16 bytes, or MD5; chrony's form
// without TYPE ("ID KEY") means MD5. KEY is "HEX:" and hexadecimal digits, or "ASCII:" and
// printable characters, or bare: printable characters when at most 20 (both daemons agree),
// hexadecimal digits when longer (ntpsec's rule; chrony would read such a key as text, so a
// longer bare key that is not hexadecimal is refused rather than guessed). "#" begins a
// comment, as do lines beginning with "!", ";" or "%". Types with longer MACs (SHA1 and
// others) are refused: they do not fit the 68-byte message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "config/configuration.h"
#include "platform/crypto.h"
#include "platform/file.h"
#include "platform/registry.h"

namespace chron {

struct SymmetricKey {
  uint32_t id = 0;
  platform::MacAlgorithm algorithm = platform::MacAlgorithm::kAes128Cmac;
  std::vector<uint8_t> secret;
  int line = 0;  // 1-based line of the key file
};

// The keys of a file in file order, or the first fault: its 1-based line and a German text.
struct KeyFileContents {
  std::vector<SymmetricKey> keys;
  int error_line = 0;      // 0: no fault in a line
  std::string error_text;  // empty when the keys are usable
};

KeyFileContents ParseKeyFile(std::string_view text);

inline constexpr size_t kLargestKeyFile = size_t{1} << 20;  // bytes

// Reads the regular file at `path` (at most kLargestKeyFile bytes) into `text`; no error or an
// error of platform::ReadRegularFile, whose FileErrorText tells it. `facts` (may be null)
// receives who may read it.
std::error_code ReadKeyFileText(const std::string& path, std::string* text, platform::FileFacts* facts = nullptr);

// `text` for a report: characters that would not show (control characters, format characters
// such as a byte-order mark, bytes that are no UTF-8) as \uXXXX or \xNN.
std::string ShownText(std::string_view text);

// Fills `config->key_file` (trimmed) and `config->key_file_too_long` from the hive.
void ReadKeyFileSetting(platform::Registry& registry, Configuration* config);

// "AES128" or "MD5", as the start-up report names the algorithm.
const char* AlgorithmName(platform::MacAlgorithm algorithm);

}  // namespace chron
