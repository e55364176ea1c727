#include "config/keys.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/file.h"

namespace chron {
namespace {

using platform::MacAlgorithm;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(KeyFileTest, ReadsChronyAndNtpsecLinesInFileOrder) {
  const KeyFileContents parsed = ParseKeyFile(
      "# chrony\n"
      "7 AES128 HEX:000102030405060708090A0B0C0D0E0F\n"
      "\n"
      "  3 MD5 ASCII:pa#ss   # the comment starts at the first #\n"
      "! an old-style comment\n"
      "5 tulip\n"
      "9 aes-128 00112233445566778899aabbccddeeff\r\n"
      "10 AES 0123456789abcdef\n"
      "11 md5 HEX:ff\n");
  ASSERT_TRUE(parsed.error_text.empty()) << parsed.error_line << ": " << parsed.error_text;
  struct Expected {
    uint32_t id;
    MacAlgorithm algorithm;
    std::vector<uint8_t> secret;
    int line;
  };
  const std::vector<Expected> expected = {
      {7, MacAlgorithm::kAes128Cmac, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 2},
      {3, MacAlgorithm::kMd5, Bytes("pa"), 4},
      {5, MacAlgorithm::kMd5, Bytes("tulip"), 6},  // chrony: no type means MD5
      {9,
       MacAlgorithm::kAes128Cmac,
       {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff},
       7},
      {10, MacAlgorithm::kAes128Cmac, Bytes("0123456789abcdef"), 8},  // 16 characters: text, not hex
      {11, MacAlgorithm::kMd5, {0xff}, 9},
  };
  ASSERT_EQ(parsed.keys.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(parsed.keys[i].id, expected[i].id);
    EXPECT_EQ(parsed.keys[i].algorithm, expected[i].algorithm);
    EXPECT_EQ(parsed.keys[i].secret, expected[i].secret);
    EXPECT_EQ(parsed.keys[i].line, expected[i].line);
  }
}

TEST(KeyFileTest, AFaultyLineRejectsTheWholeFileWithItsNumber) {
  const struct {
    const char* text;
    int line;
  } cases[] = {
      {"1 MD5 abc\n2 SHA1 HEX:00112233445566778899aabbccddeeff00112233\n", 2},  // 20-byte MAC
      {"1 MD5 abc\n\n0 MD5 abc\n", 3},                                          // key 0 is reserved
      {"4294967296 MD5 abc\n", 1},
      {"x1 MD5 abc\n", 1},
      {"1 AES128 HEX:0011\n", 1},  // not 16 bytes
      {"1 AES128 shortkey\n", 1},
      {"1 MD5 HEX:0g\n", 1},
      {"1 MD5 HEX:001\n", 1},
      {"1 MD5 ASCII:\n", 1},
      {"1 MD5 this-is-longer-than-twenty\n", 1},  // neither rule fits
      {"1 MD5 abc 10.0.0.1\n", 1},                // no address lists
      {"1\n", 1},
      {"1 MD5 abc\n1 MD5 def\n", 2},  // duplicate id
      {"# only comments\n\n", 0},
      {"", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const KeyFileContents parsed = ParseKeyFile(c.text);
    EXPECT_FALSE(parsed.error_text.empty());
    EXPECT_EQ(parsed.error_line, c.line);
    EXPECT_TRUE(parsed.keys.empty());
  }
}

TEST(KeyFileTest, InvisibleCharactersOfAFaultyFieldAreShownEscaped) {
  // A byte-order mark before the first key, a zero-width space and a byte that is no UTF-8.
  EXPECT_EQ(ParseKeyFile("\xEF\xBB\xBF"
                         "1 MD5 secret\n")
                .error_text,
            "ungültige Schlüsselnummer \\ufeff1");
  EXPECT_EQ(ShownText("a\xE2\x80\x8B"
                      "b\x01\xFFä"),
            "a\\u200bb\\u0001\\xffä");
}

TEST(KeyFileTest, ReadsTheFileByItsUtf8PathOrGivesTheErrorNumber) {
  std::string text = "unchanged";
  // The system's own number: ENOENT on Linux, ERROR_PATH_NOT_FOUND on Windows.
  EXPECT_TRUE(platform::IsMissingFileError(ReadKeyFileText("/nonexistent/chron-keys", &text)));

  // Letters of no single-byte code page: on Windows only the wide file API finds this file.
  const std::string name =
      "chron-schlüssel-κλειδί-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / std::filesystem::path(std::u8string(name.begin(), name.end()));
  std::ofstream(path, std::ios::binary) << "1 MD5 ASCII:geheim\n";
  ASSERT_TRUE(std::filesystem::exists(path));
  const std::u8string utf8 = path.u8string();
  EXPECT_EQ(ReadKeyFileText(std::string(utf8.begin(), utf8.end()), &text), std::error_code());
  EXPECT_EQ(text, "1 MD5 ASCII:geheim\n");
  std::filesystem::remove(path);
}

TEST(KeyFileTest, SettingIsTrimmedAndAbsentOrTooLongIsTold) {
  auto registry = platform::OpenMemoryRegistry();
  const std::string key = "SOFTWARE\\Orbek\\SNTP\\1.01";
  Configuration config;
  ReadKeyFileSetting(*registry, &config);
  EXPECT_EQ(config.key_file, "");
  EXPECT_FALSE(config.key_file_too_long);

  const std::string path = " \t/etc/chron/ntp.keys ";
  ASSERT_EQ(
      registry->SetValue(key, "KeyFile", platform::RegType::kSz, path.c_str(), static_cast<uint32_t>(path.size() + 1)),
      0);
  ReadKeyFileSetting(*registry, &config);
  EXPECT_EQ(config.key_file, "/etc/chron/ntp.keys");

  const std::string long_path(kKeyFileSetting.buffer_size, 'k');
  ASSERT_EQ(registry->SetValue(key, "KeyFile", platform::RegType::kSz, long_path.c_str(),
                               static_cast<uint32_t>(long_path.size() + 1)),
            0);
  ReadKeyFileSetting(*registry, &config);
  EXPECT_TRUE(config.key_file_too_long);
}

TEST(KeyFileTest, WritingTheTwelveValuesLeavesTheKeyFileAlone) {
  // The applet writes the whole set on OK; the key file path is not part of it.
  auto registry = platform::OpenMemoryRegistry();
  const std::string path = "/etc/chron/ntp.keys";
  ASSERT_EQ(registry->SetValue("SOFTWARE\\Orbek\\SNTP\\1.01", "KeyFile", platform::RegType::kSz, path.c_str(),
                               static_cast<uint32_t>(path.size() + 1)),
            0);
  Configuration config;
  EXPECT_TRUE(WriteConfiguration(*registry, config));
  ReadKeyFileSetting(*registry, &config);
  EXPECT_EQ(config.key_file, path);
  Configuration empty;
  ReadKeyFileSetting(*platform::OpenMemoryRegistry(), &empty);
  ASSERT_TRUE(WriteConfiguration(*registry, empty));
  ReadKeyFileSetting(*registry, &config);
  EXPECT_EQ(config.key_file, path) << "an empty record field does not clear the stored value";
}

}  // namespace
}  // namespace chron
