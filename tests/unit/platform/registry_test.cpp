#include "platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pthread.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <ctime>
#include <gtest/gtest.h>

#include "platform/error_text.h"
#include "platform/file.h"
#include "platform/reg_file.h"

namespace chron::platform {
namespace {

using ::testing::HasSubstr;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

class HiveFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/hive_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ::chmod(dir_.c_str(), 0755);  // the unprivileged child processes must reach the hive
    path_ = dir_ + "/registry.reg";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  RegStatus Set(Registry& registry, std::string_view key, std::string_view name, RegType type,
                const std::vector<uint8_t>& data) {
    return registry.SetValue(key, name, type, data.data(), static_cast<uint32_t>(data.size()));
  }
  RegStatus SetDword(Registry& registry, std::string_view key, std::string_view name, uint32_t v) {
    return registry.SetValue(key, name, RegType::kDword, &v, 4);  // this test runs little-endian
  }
  // Reads a value through a buffer of exactly its stored size.
  std::vector<uint8_t> Get(Registry& registry, std::string_view key, std::string_view name, RegType* type) {
    uint32_t size = 0;
    EXPECT_EQ(registry.QueryValue(key, name, type, nullptr, &size), kRegSuccess) << name;
    std::vector<uint8_t> data(size);
    EXPECT_EQ(registry.QueryValue(key, name, type, data.data(), &size), kRegSuccess) << name;
    return data;
  }
  std::vector<std::string> DirectoryEntries() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
  std::string path_;
};

// ---- Round trips through the file -------------------------------------------------------

TEST_F(HiveFileTest, EveryTypeSurvivesTheFile) {
  std::vector<uint8_t> all_bytes;
  for (int i = 0; i < 256; ++i) all_bytes.push_back(static_cast<uint8_t>(i));
  struct Case {
    const char* name;
    RegType type;
    std::vector<uint8_t> data;
  };
  const std::string umlauts =
      "Z\xc3\xbcrich \"Gr\xc3\xb6\xc3\x9f"
      "e\" C:\\pfad\\ \t\xe4";  // \xe4: a lone 1252 byte
  std::vector<Case> cases = {
      {"Zahl", RegType::kDword, {0xef, 0xbe, 0xad, 0xde}},
      {"Text", RegType::kSz, Bytes(umlauts + '\0')},
      {"Zeilen", RegType::kSz, Bytes(std::string("eins\r\nzwei\nend\\") + '\0')},
      {"Leer", RegType::kSz, {0}},
      {"OhneNull", RegType::kSz, Bytes("abc")},
      {"MitNull", RegType::kSz, Bytes(std::string("a\0b\0", 4))},
      {"Liste", RegType::kMultiSz, Bytes(std::string("eins\0zw\xc3\xb6lf\0\0", 12))},
      {"Binaer", RegType::kBinary, all_bytes},
      {"BinaerLeer", RegType::kBinary, {}},
      {"KurzesDword", RegType::kDword, {1, 2}},
      {"Expand", static_cast<RegType>(2), Bytes(std::string("%PATH%") + '\0')},
      {"", RegType::kSz, Bytes(std::string("Standard") + '\0')},
      {"Name mit \"Anf\xc3\xbchrung\" und \\", RegType::kDword, {1, 0, 0, 0}},
  };
  {
    auto writer = OpenHiveFile(path_);
    for (const Case& c : cases)
      ASSERT_EQ(Set(*writer, "SOFTWARE\\Test", c.name, c.type, c.data), kRegSuccess) << c.name;
  }
  auto reader = OpenHiveFile(path_);
  for (const Case& c : cases) {
    RegType type = RegType::kNone;
    EXPECT_EQ(Get(*reader, "SOFTWARE\\Test", c.name, &type), c.data) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
  }
  std::string text = ReadFile(path_);
  EXPECT_TRUE(text.starts_with("REGEDIT4\n")) << text;
  EXPECT_THAT(text, HasSubstr("\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\n"));
  EXPECT_THAT(text, HasSubstr("\n\"Zahl\"=dword:deadbeef\n"));
  EXPECT_THAT(text, HasSubstr("\n\"Text\"=\"Z\xc3\xbcrich \\\"Gr\xc3\xb6\xc3\x9f"
                              "e\\\" C:\\\\pfad\\\\ \t\xe4\"\n"));
  EXPECT_THAT(text, HasSubstr("\n@=\"Standard\"\n"));
  EXPECT_THAT(text, HasSubstr("\n\"Liste\"=hex(7):65,69,6e,73,00,"));
  EXPECT_THAT(text, HasSubstr("\n\"Binaer\"=hex:00,01,02,"));
  EXPECT_THAT(text, HasSubstr(",\\\n  "));  // long data continues on the next line
  EXPECT_THAT(text, HasSubstr("\n\"BinaerLeer\"=hex:\n"));
}

TEST_F(HiveFileTest, ReadsAHandWrittenFile) {
  WriteFile(path_,
            "\xef\xbb\xbfREGEDIT4\r\n"
            "; written by hand\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orbek\\SNTP\\1.01\\Client]\r\n"
            "\"PollInterval\"=dword:00000400\r\n"
            "\"TimeSource\"=\"ntp.example.org\"\r\n"
            "@=\"default\"\r\n"
            "\"Blob\"=hex:01,02,\\\r\n"
            "   0A,ff\r\n"
            "\"List\"=hex(7):61,00,62,00,00\r\n"
            "\"TimeSource\"=\"later wins\"\r\n");
  auto registry = OpenHiveFile(path_);
  const char* key = "SOFTWARE\\Orbek\\SNTP\\1.01\\Client";
  RegType type;
  EXPECT_EQ(Get(*registry, key, "PollInterval", &type), (std::vector<uint8_t>{0, 4, 0, 0}));
  EXPECT_EQ(type, RegType::kDword);
  EXPECT_EQ(Get(*registry, key, "TimeSource", &type), Bytes(std::string("later wins") + '\0'));
  EXPECT_EQ(Get(*registry, key, "", &type), Bytes(std::string("default") + '\0'));
  EXPECT_EQ(Get(*registry, key, "Blob", &type), (std::vector<uint8_t>{1, 2, 10, 255}));
  EXPECT_EQ(type, RegType::kBinary);
  EXPECT_EQ(Get(*registry, key, "List", &type), Bytes(std::string("a\0b\0\0", 5)));
  EXPECT_EQ(type, RegType::kMultiSz);
  EXPECT_EQ(registry->OpenKey("SOFTWARE\\Orbek"), kRegSuccess);  // parents exist implicitly
}

// ---- Windows semantics ------------------------------------------------------------------

TEST_F(HiveFileTest, BufferSizeRulesAtTheBoundary) {
  auto registry = OpenHiveFile(path_);
  ASSERT_EQ(Set(*registry, "K", "Text", RegType::kSz, Bytes(std::string("hallo") + '\0')), kRegSuccess);
  ASSERT_EQ(SetDword(*registry, "K", "Zahl", 7), kRegSuccess);

  char buffer[16];
  uint32_t size = 6;  // exactly the stored size, terminating zero included
  EXPECT_EQ(registry->QueryValue("K", "Text", nullptr, buffer, &size), kRegSuccess);
  EXPECT_EQ(size, 6u);
  EXPECT_STREQ(buffer, "hallo");

  size = 5;
  RegType type = RegType::kNone;
  EXPECT_EQ(registry->QueryValue("K", "Text", &type, buffer, &size), kRegMoreData);
  EXPECT_EQ(size, 6u);  // the size needed
  EXPECT_EQ(type, RegType::kSz);

  size = 0;
  EXPECT_EQ(registry->QueryValue("K", "Text", nullptr, nullptr, &size), kRegSuccess);
  EXPECT_EQ(size, 6u);

  size = 3;
  EXPECT_EQ(registry->QueryValue("K", "Zahl", nullptr, buffer, &size), kRegMoreData);
  size = 4;
  EXPECT_EQ(registry->QueryValue("K", "Zahl", nullptr, buffer, &size), kRegSuccess);
  EXPECT_EQ(registry->QueryValue("K", "Zahl", nullptr, buffer, nullptr), kRegInvalidParameter);
}

TEST_F(HiveFileTest, KeysAndValueNamesIgnoreCaseAndKeepTheirFirstSpelling) {
  auto registry = OpenHiveFile(path_);
  ASSERT_EQ(SetDword(*registry, "SOFTWARE\\Orbek\\Client", "PollInterval", 64), kRegSuccess);
  ASSERT_EQ(SetDword(*registry, "software\\ORBEK\\client", "pollinterval", 128), kRegSuccess);

  uint32_t value = 0, size = 4;
  EXPECT_EQ(registry->QueryValue("Software\\orbek\\CLIENT", "POLLINTERVAL", nullptr, &value, &size), kRegSuccess);
  EXPECT_EQ(value, 128u);
  EXPECT_EQ(registry->OpenKey("sOfTwArE\\oRbEk"), kRegSuccess);

  std::string name;
  ASSERT_EQ(registry->EnumKey("software\\orbek", 0, &name), kRegSuccess);
  EXPECT_EQ(name, "Client");
  EXPECT_EQ(registry->EnumKey("software\\orbek", 1, &name), kRegNoMoreItems);
  std::string text = ReadFile(path_);
  EXPECT_THAT(text, HasSubstr("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orbek\\Client]\n\"PollInterval\"=dword:00000080\n"));
  EXPECT_THAT(text, ::testing::Not(HasSubstr("software")));
}

TEST_F(HiveFileTest, EnumeratesSubkeysInStableOrder) {
  auto registry = OpenHiveFile(path_);
  for (const char* key : {"Net\\beta", "Net\\Alpha", "Net\\gamma", "Net\\Beta\\Deep"})
    ASSERT_EQ(registry->CreateKey(key), kRegSuccess) << key;
  std::vector<std::string> names;
  std::string name;
  for (uint32_t i = 0; registry->EnumKey("Net", i, &name) == kRegSuccess; ++i) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "gamma"}));
  EXPECT_EQ(registry->EnumKey("Net", 3, &name), kRegNoMoreItems);
  EXPECT_EQ(registry->EnumKey("Net", 1000, &name), kRegNoMoreItems);
  EXPECT_EQ(registry->EnumKey("Net\\beta\\Deep", 0, &name), kRegNoMoreItems);  // exists, empty
  EXPECT_EQ(registry->EnumKey("Missing", 0, &name), kRegFileNotFound);
  // The empty keys are kept in the file too.
  EXPECT_EQ(OpenHiveFile(path_)->OpenKey("NET\\BETA\\DEEP"), kRegSuccess);
}

TEST_F(HiveFileTest, MissingKeysValuesAndFile) {
  auto registry = OpenHiveFile(path_);
  EXPECT_EQ(registry->OpenKey(""), kRegSuccess);  // HKEY_LOCAL_MACHINE itself
  EXPECT_EQ(registry->OpenKey("SOFTWARE"), kRegFileNotFound);
  uint32_t value, size = 4;
  EXPECT_EQ(registry->QueryValue("SOFTWARE", "X", nullptr, &value, &size), kRegFileNotFound);
  std::string name;
  EXPECT_EQ(registry->EnumKey("", 0, &name), kRegNoMoreItems);
  EXPECT_FALSE(std::filesystem::exists(path_));  // reading never creates the file

  ASSERT_EQ(SetDword(*registry, "SOFTWARE", "Y", 1), kRegSuccess);
  EXPECT_EQ(registry->QueryValue("SOFTWARE", "X", nullptr, &value, &size), kRegFileNotFound);
  EXPECT_EQ(registry->QueryValue("SOFTWARE\\Sub", "Y", nullptr, &value, &size), kRegFileNotFound);
}

// One open registry keeps the parsed hive between reads; it must notice every change of the
// file: a writer's rename, another handle's write, and an edit in place of the same length.
TEST_F(HiveFileTest, ReadsFollowEveryChangeOfTheFile) {
  auto reader = OpenHiveFile(path_);
  auto writer = OpenHiveFile(path_);
  auto read = [&] {
    uint32_t value = 0, size = 4;
    EXPECT_EQ(reader->QueryValue("SOFTWARE", "V", nullptr, &value, &size), kRegSuccess);
    return value;
  };
  ASSERT_EQ(SetDword(*writer, "SOFTWARE", "V", 1), kRegSuccess);
  EXPECT_EQ(read(), 1u);
  ASSERT_EQ(SetDword(*writer, "SOFTWARE", "V", 2), kRegSuccess);
  EXPECT_EQ(read(), 2u);

  std::string text = ReadFile(path_);
  size_t at = text.find("dword:00000002");
  ASSERT_NE(at, std::string::npos);
  text[at + 13] = '3';
  {
    std::fstream file(path_, std::ios::in | std::ios::out | std::ios::binary);  // same inode, same size
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  timespec later[2] = {{0, UTIME_OMIT}, {0, 0}};
  ::clock_gettime(CLOCK_REALTIME, &later[1]);
  later[1].tv_sec += 5;  // a modification time that surely differs from the cached one
  ASSERT_EQ(::utimensat(AT_FDCWD, path_.c_str(), later, 0), 0);
  EXPECT_EQ(read(), 3u);

  std::filesystem::remove(path_);
  uint32_t value = 0, size = 4;
  EXPECT_EQ(reader->QueryValue("SOFTWARE", "V", nullptr, &value, &size), kRegFileNotFound);
}

TEST_F(HiveFileTest, RejectsMalformedNamesWithoutTouchingTheFile) {
  auto registry = OpenHiveFile(path_);
  ASSERT_EQ(SetDword(*registry, "A", "X", 1), kRegSuccess);
  std::string before = ReadFile(path_);
  EXPECT_EQ(SetDword(*registry, "A\\\\B", "X", 1), kRegInvalidParameter);
  EXPECT_EQ(SetDword(*registry, "\\A", "X", 1), kRegInvalidParameter);
  EXPECT_EQ(SetDword(*registry, "A\nB", "X", 1), kRegInvalidParameter);
  EXPECT_EQ(SetDword(*registry, "A", "X\nY", 1), kRegInvalidParameter);
  EXPECT_EQ(registry->OpenKey("A\\\\B"), kRegInvalidParameter);
  EXPECT_EQ(ReadFile(path_), before);
}

TEST_F(HiveFileTest, KeepsTheModeOfTheHive) {
  auto registry = OpenHiveFile(path_);
  ASSERT_EQ(SetDword(*registry, "A", "X", 1), kRegSuccess);
  ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
  ASSERT_EQ(SetDword(*registry, "A", "X", 2), kRegSuccess);
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(DirectoryEntries(), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST(MachineHivePathTest, EnvironmentOverridesTheBuildDefault) {
  const char* old = std::getenv("CHRON_HIVE");
  std::string saved = old ? old : "";
  ::setenv("CHRON_HIVE", "/tmp/elsewhere.reg", 1);
  EXPECT_EQ(MachineHivePath(), "/tmp/elsewhere.reg");
  ::unsetenv("CHRON_HIVE");
  EXPECT_EQ(MachineHivePath(), CHRON_DEFAULT_HIVE);
  if (old) ::setenv("CHRON_HIVE", saved.c_str(), 1);
}

// ---- Damaged hives ----------------------------------------------------------------------

TEST(HiveParseTest, ReportsTheLineOfEachSyntaxError) {
  struct Case {
    const char* text;
    int line;
  };
  const Case cases[] = {
      {"[HKEY_LOCAL_MACHINE\\A]\n", 1},             // no header
      {"REGEDIT4\n\"X\"=dword:1\n", 2},             // value before a key
      {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n", 2},    // another root
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\n", 3},  // no closing bracket
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=dword:123456789\n", 3},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=dword:zz\n", 3},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=\"open\n", 3},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=\"a\\qb\"\n", 3},  // unknown escape
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=\"a\" junk\n", 3},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=hex:01,\\\n  0g\n", 3},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=hex:01,,02\n", 3},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=qword:01\n", 3},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"X\" dword:01\n", 3},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\nX=dword:01\n", 3},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 2},  // empty key name
  };
  for (const Case& c : cases) {
    HiveTree tree;
    int line = 0;
    std::string error;
    EXPECT_FALSE(tree.Parse(c.text, &line, &error)) << c.text;
    EXPECT_EQ(line, c.line) << c.text;
    EXPECT_FALSE(error.empty()) << c.text;
    EXPECT_EQ(tree.OpenKey("A"), kRegFileNotFound) << "a failed parse leaves an empty tree";
  }
  HiveTree tree;
  int line = 0;
  std::string error;
  EXPECT_TRUE(tree.Parse("", &line, &error));  // an empty file is an empty hive
}

TEST_F(HiveFileTest, ADamagedHiveIsReportedOnceAndNeverOverwritten) {
  const std::string damaged =
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orbek]\n\"Good\"=dword:00000001\n\"Bad\"=dword:xyz\n";
  WriteFile(path_, damaged);
  auto registry = OpenHiveFile(path_);
  uint32_t value, size = 4;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(registry->QueryValue("SOFTWARE\\Orbek", "Good", nullptr, &value, &size), kRegBadHive);
  EXPECT_EQ(registry->OpenKey("SOFTWARE\\Orbek"), kRegBadHive);
  EXPECT_EQ(SetDword(*registry, "SOFTWARE\\Orbek", "Bad", 2), kRegBadHive);
  EXPECT_EQ(registry->CreateKey("SOFTWARE\\Other"), kRegBadHive);
  std::string report = ::testing::internal::GetCapturedStderr();
  EXPECT_THAT(report, HasSubstr(path_ + ":5:"));
  EXPECT_EQ(report.find(path_), report.rfind(path_)) << "reported more than once:\n" << report;
  EXPECT_EQ(ReadFile(path_), damaged);
  EXPECT_EQ(DirectoryEntries(), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

// ---- Pathological hives ----------------------------------------------------------------

// Neither a hive nor a key file that never ends may hold up a start: a FIFO without a writer,
// a device and an oversized file are refused at once with their reason, without being read.
TEST_F(HiveFileTest, OnlyRegularFilesOfBoundedSizeAreRead) {
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string large = dir_ + "/large";
  std::ofstream(large).close();
  std::filesystem::resize_file(large, kLargestHiveFile + 1);
  const struct {
    std::string path;
    const char* reason;
  } cases[] = {{fifo, "keine reguläre Datei"},
               {"/dev/zero", "keine reguläre Datei"},
               {dir_, "keine reguläre Datei"},
               {large, "größer als 16777216 Bytes"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto registry = OpenHiveFile(c.path);
    ::testing::internal::CaptureStderr();
    auto read = std::async(std::launch::async, [&] { return registry->OpenKey("SOFTWARE"); });
    ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(read.get(), kRegBadHive);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                HasSubstr(c.path + ": Registrierungsdatei nicht lesbar: " + c.reason));
  }
  // The key file is read the same way, with its own limit, and tells who else may read it.
  std::string text;
  FileFacts facts;
  EXPECT_EQ(ReadRegularFile(fifo, 1 << 20, &text, &facts), PlatformError::kNotRegularFile);
  WriteFile(large, std::string(100, 'k'));
  EXPECT_EQ(ReadRegularFile(large, 99, &text, &facts), PlatformError::kFileTooLarge);
  ::chmod(large.c_str(), 0640);
  ASSERT_EQ(ReadRegularFile(large, 100, &text, &facts), std::error_code());
  EXPECT_EQ(text.size(), 100u);
  EXPECT_TRUE(facts.shared);
  EXPECT_EQ(facts.mode, "0640");
  ::chmod(large.c_str(), 0600);
  ASSERT_EQ(ReadRegularFile(large, 100, &text, &facts), std::error_code());
  EXPECT_FALSE(facts.shared);
}

TEST(HiveParseTest, ManyValuesOfOneKeyParseInLinearTime) {
  constexpr int kValues = 300000;
  std::string text = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Big]\n";
  for (int i = 0; i < kValues; ++i) text += "\"V" + std::to_string(i) + "\"=dword:00000001\n";
  text += "\"v17\"=dword:00000002\n";  // a repeated name (any case) replaces the earlier value
  HiveTree tree;
  int line = 0;
  std::string error;
  // Processor time of this thread: other work on a loaded machine does not count.
  auto cpu_seconds = [] {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
  };
  double start = cpu_seconds();
  ASSERT_TRUE(tree.Parse(text, &line, &error)) << line << ": " << error;
  double seconds = cpu_seconds() - start;
  // About 0.2 s here (0.5 s under AddressSanitizer); quadratic parsing took minutes.
  EXPECT_LT(seconds, 5.0);
  uint32_t value = 0, size = 4;
  ASSERT_EQ(tree.QueryValue("Big", "V17", nullptr, &value, &size), kRegSuccess);
  EXPECT_EQ(value, 2u);
  ASSERT_EQ(tree.QueryValue("Big", "V299999", nullptr, &value, &size), kRegSuccess);
  EXPECT_EQ(value, 1u);
}

// Key names of at most 255 characters and at most 512 levels below HKEY_LOCAL_MACHINE, as
// the Windows registry allows; anything beyond is refused with its line.
TEST(HiveParseTest, RefusesKeysTheWindowsRegistryRefuses) {
  auto path = [](int levels, const std::string& name) {
    std::string key;
    for (int i = 0; i < levels; ++i) key += (i ? "\\" : "") + name;
    return key;
  };
  std::string long_umlauts;
  for (int i = 0; i < 255; ++i) long_umlauts += "\xc3\xa4";  // 255 characters, 510 bytes
  struct Case {
    std::string key;
    bool accepted;
    const char* what;
  };
  const Case cases[] = {
      {path(1, std::string(255, 'k')), true, ""},
      {path(1, long_umlauts), true, ""},
      {path(2, std::string(256, 'k')), false, "255 Zeichen"},
      {path(512, "k"), true, ""},
      {path(513, "k"), false, "512 Ebenen"},
  };
  for (const Case& c : cases) {
    HiveTree tree;
    int line = 0;
    std::string error;
    std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\" + c.key + "]\n\"X\"=dword:00000001\n";
    EXPECT_EQ(tree.Parse(text, &line, &error), c.accepted) << c.key.size();
    if (!c.accepted) {
      EXPECT_EQ(line, 3);
      EXPECT_THAT(error, HasSubstr(c.what));
    }
    HiveTree api;
    uint32_t one = 1;
    EXPECT_EQ(api.SetValue(c.key, "X", RegType::kDword, &one, 4), c.accepted ? kRegSuccess : kRegInvalidParameter);
    EXPECT_EQ(api.CreateKey(c.key), c.accepted ? kRegSuccess : kRegInvalidParameter);
  }
}

// The deepest hive allowed, with the longest names: written on a small stack (no recursion per
// level) and without repeating every parent's path in a section of its own.
TEST(HiveParseTest, WritesADeepHiveOnASmallStackAndInItsOwnSize) {
  std::string key;
  for (int i = 0; i < 512; ++i) key += (i ? "\\" : "") + std::string(255, static_cast<char>('a' + i % 26));
  HiveTree tree;
  uint32_t one = 1;
  ASSERT_EQ(tree.SetValue(key, "X", RegType::kDword, &one, 4), kRegSuccess);
  ASSERT_EQ(tree.CreateKey(key.substr(0, 255) + "\\Leer"), kRegSuccess);  // an empty key is kept

  std::string text;
  pthread_attr_t attr;
  ASSERT_EQ(::pthread_attr_init(&attr), 0);
  ASSERT_EQ(::pthread_attr_setstacksize(&attr, 64 * 1024), 0);
  struct Job {
    const HiveTree* tree;
    std::string* text;
  } job{&tree, &text};
  pthread_t thread;
  ASSERT_EQ(::pthread_create(
                &thread, &attr,
                [](void* arg) -> void* {
                  auto* j = static_cast<Job*>(arg);
                  *j->text = j->tree->Serialize();
                  return nullptr;
                },
                &job),
            0);
  ASSERT_EQ(::pthread_join(thread, nullptr), 0);
  ::pthread_attr_destroy(&attr);

  EXPECT_LT(text.size(), 2 * key.size() + 1000);
  HiveTree back;
  int line = 0;
  std::string error;
  ASSERT_TRUE(back.Parse(text, &line, &error)) << line << ": " << error;
  uint32_t value = 0, size = 4;
  EXPECT_EQ(back.QueryValue(key, "X", nullptr, &value, &size), kRegSuccess);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(back.OpenKey(key.substr(0, 255) + "\\leer"), kRegSuccess);
}

// A hive reached through a symbolic link: every write replaces the link's target (atomically,
// in the target's directory) and keeps the link.
TEST_F(HiveFileTest, WritesThroughASymbolicLinkToItsTarget) {
  ASSERT_EQ(::mkdir((dir_ + "/etc").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((dir_ + "/data").c_str(), 0755), 0);
  struct Case {
    std::string link_text;  // what the link holds
    std::string target;     // the file it names
    bool target_exists;
  };
  const Case cases[] = {
      {"../data/a.reg", dir_ + "/data/a.reg", true},
      {dir_ + "/data/b.reg", dir_ + "/data/b.reg", false},  // dangling: the write creates it
  };
  for (const Case& c : cases) {
    const std::string link = dir_ + "/etc/registry.reg";
    std::filesystem::remove(link);
    ASSERT_EQ(::symlink(c.link_text.c_str(), link.c_str()), 0);
    if (c.target_exists) WriteFile(c.target, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Alt]\n\"A\"=dword:00000007\n");
    struct stat before {};
    ::stat(c.target.c_str(), &before);

    ASSERT_EQ(SetDword(*OpenHiveFile(link), "Neu", "N", 5), kRegSuccess) << c.link_text;
    struct stat link_info {
    }, after{};
    ASSERT_EQ(::lstat(link.c_str(), &link_info), 0);
    EXPECT_TRUE(S_ISLNK(link_info.st_mode)) << c.link_text;
    ASSERT_EQ(::stat(c.target.c_str(), &after), 0);
    if (c.target_exists) {
      EXPECT_NE(after.st_ino, before.st_ino) << "replaced, not rewritten in place";
    }
    std::string text = ReadFile(c.target);
    EXPECT_THAT(text, HasSubstr("\"N\"=dword:00000005"));
    if (c.target_exists) {
      EXPECT_THAT(text, HasSubstr("\"A\"=dword:00000007"));
    }
    for (const char* sub : {"/etc", "/data"}) {
      for (const auto& entry : std::filesystem::directory_iterator(dir_ + sub)) {
        std::string name = entry.path().filename().string();
        EXPECT_FALSE(name.starts_with(".")) << "temporary file left: " << name;
      }
    }
  }
}

// ---- Several processes ------------------------------------------------------------------

TEST_F(HiveFileTest, ConcurrentWritersAllKeepTheirValues) {
  constexpr int kWriters = 4;
  constexpr int kWrites = 30;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      auto registry = OpenHiveFile(path_);
      int failures = 0;
      for (int i = 0; i < kWrites; ++i) {
        uint32_t value = static_cast<uint32_t>(w * 1000 + i);
        std::string name = "W" + std::to_string(w) + "_" + std::to_string(i);
        // Half into a key shared by all writers, half into each writer's own key.
        std::string key = i % 2 ? "Shared" : "Own\\W" + std::to_string(w);
        failures += registry->SetValue(key, name, RegType::kDword, &value, 4) != kRegSuccess;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto registry = OpenHiveFile(path_);
  int missing = 0;
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kWrites; ++i) {
      std::string key = i % 2 ? "Shared" : "Own\\W" + std::to_string(w);
      uint32_t value = 0, size = 4;
      if (registry->QueryValue(key, "W" + std::to_string(w) + "_" + std::to_string(i), nullptr, &value, &size) !=
              kRegSuccess ||
          value != static_cast<uint32_t>(w * 1000 + i))
        ++missing;
    }
  }
  EXPECT_EQ(missing, 0);
}

TEST_F(HiveFileTest, AReaderBesideAStreamOfWritesNeverSeesATornHive) {
  auto registry = OpenHiveFile(path_);
  ASSERT_EQ(SetDword(*registry, "Stream", "Counter", 0), kRegSuccess);
  constexpr uint32_t kWrites = 150;
  pid_t writer = ::fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    auto own = OpenHiveFile(path_);
    std::string padding(300, 'x');  // makes the file large enough to be written in pieces
    int failures = 0;
    for (uint32_t i = 1; i <= kWrites; ++i) {
      std::string text = padding + std::to_string(i);
      failures += own->SetValue("Stream\\Pad", "P" + std::to_string(i % 20), RegType::kSz, text.c_str(),
                                static_cast<uint32_t>(text.size() + 1)) != kRegSuccess;
      failures += own->SetValue("Stream", "Counter", RegType::kDword, &i, 4) != kRegSuccess;
    }
    ::_exit(failures == 0 ? 0 : 1);
  }
  uint32_t last = 0;
  int reads = 0, bad = 0, backwards = 0;
  while (last < kWrites) {
    uint32_t value = 0, size = 4;
    RegStatus status = registry->QueryValue("Stream", "Counter", nullptr, &value, &size);
    ++reads;
    if (status != kRegSuccess) {
      ++bad;
      if (bad > 5) break;
      continue;
    }
    if (value < last) ++backwards;
    last = value;
    int status_child = 0;
    if (::waitpid(writer, &status_child, WNOHANG) == writer) {
      writer = -1;
      EXPECT_TRUE(WIFEXITED(status_child) && WEXITSTATUS(status_child) == 0);
      break;
    }
  }
  if (writer > 0) {
    int status_child = 0;
    ASSERT_EQ(::waitpid(writer, &status_child, 0), writer);
    EXPECT_TRUE(WIFEXITED(status_child) && WEXITSTATUS(status_child) == 0);
  }
  EXPECT_EQ(bad, 0) << "reads that failed while the hive was replaced";
  EXPECT_EQ(backwards, 0);
  EXPECT_GT(reads, 10);
  uint32_t value = 0, size = 4;
  ASSERT_EQ(registry->QueryValue("Stream", "Counter", nullptr, &value, &size), kRegSuccess);
  EXPECT_EQ(value, kWrites);
}

// Writes grouped by WriteTogether are one change: another writer's change comes wholly before
// or after them, never between.
TEST_F(HiveFileTest, WritesTogetherAreOneChangeThatNoOtherWriterInterleaves) {
  auto first = OpenHiveFile(path_);
  auto second = OpenHiveFile(path_);
  std::promise<void> second_done;
  std::future<void> done = second_done.get_future();
  std::thread other;
  RegStatus stored = first->WriteTogether([&] {
    for (const char* name : {"A", "B"}) EXPECT_EQ(SetDword(*first, "K", name, 1), kRegSuccess);
    other = std::thread([&] {
      for (const char* name : {"B", "C"}) EXPECT_EQ(SetDword(*second, "K", name, 2), kRegSuccess);
      second_done.set_value();
    });
    EXPECT_EQ(done.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
        << "the other writer came between";
    EXPECT_EQ(SetDword(*first, "K", "C", 1), kRegSuccess);
  });
  other.join();
  EXPECT_EQ(stored, kRegSuccess);
  std::vector<uint32_t> values;
  for (const char* name : {"A", "B", "C"}) {
    uint32_t value = 0, size = 4;
    EXPECT_EQ(second->QueryValue("K", name, nullptr, &value, &size), kRegSuccess);
    values.push_back(value);
  }
  EXPECT_EQ(values, (std::vector<uint32_t>{1, 2, 2}));  // the second change wholly after the first
}

// ---- Access rights (checked in a child that gives up root) ------------------------------

// Runs `body` in a child process as user "nobody" (65534); returns its exit code or -1.
template <typename Body>
int RunAsNobody(Body body) {
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
    ::_exit(body());
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(HiveFileTest, WithoutRightsReadsAndWritesAreDeniedAndChangeNothing) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  auto registry = OpenHiveFile(path_);
  ASSERT_EQ(SetDword(*registry, "A", "X", 1), kRegSuccess);
  ASSERT_EQ(::unlink((path_ + ".lock").c_str()), 0);
  const std::string before = ReadFile(path_);
  auto status_code = [](RegStatus status) { return static_cast<int>(status); };

  // Hive readable by everyone, directory and file writable only by root.
  ASSERT_EQ(::chmod(path_.c_str(), 0644), 0);
  EXPECT_EQ(RunAsNobody([&] {
              auto hive = OpenHiveFile(path_);
              uint32_t value = 0, size = 4;
              if (hive->QueryValue("A", "X", nullptr, &value, &size) != kRegSuccess || value != 1) return 99;
              uint32_t two = 2;
              return status_code(hive->SetValue("A", "X", RegType::kDword, &two, 4));
            }),
            kRegAccessDenied);

  // Directory writable by everyone, but the hive itself read-only.
  ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);
  EXPECT_EQ(RunAsNobody([&] { return status_code(OpenHiveFile(path_)->CreateKey("B")); }), kRegAccessDenied);
  ::chmod(dir_.c_str(), 0755);
  EXPECT_EQ(ReadFile(path_), before);
  std::vector<std::string> entries = DirectoryEntries();
  entries.erase(std::remove(entries.begin(), entries.end(), "registry.reg.lock"), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"registry.reg"}));

  // Hive not readable.
  ASSERT_EQ(::chmod(path_.c_str(), 0600), 0);
  EXPECT_EQ(RunAsNobody([&] {
              uint32_t value = 0, size = 4;
              return status_code(OpenHiveFile(path_)->QueryValue("A", "X", nullptr, &value, &size));
            }),
            kRegAccessDenied);
}

// A hive that exists but cannot be read is no empty hive: the caller hears of it once, with
// the file and the system's error text.
TEST_F(HiveFileTest, AnUnreadableHiveIsAComplaintWithPathAndErrorText) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  WriteFile(path_, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=dword:00000001\n");
  ASSERT_EQ(::chmod(path_.c_str(), 0600), 0);
  std::string denied;
  ASSERT_TRUE(SystemErrorMessage(EACCES, &denied));
  const std::string expected = path_ + ": Registrierungsdatei nicht lesbar: " + denied;
  EXPECT_EQ(RunAsNobody([&] {
              std::vector<std::string> complaints;
              auto hive = OpenHiveFile(path_, [&](const std::string& text) { complaints.push_back(text); });
              uint32_t value = 0, size = 4;
              bool denied_twice = hive->QueryValue("A", "X", nullptr, &value, &size) == kRegAccessDenied &&
                                  hive->OpenKey("A") == kRegAccessDenied;
              return denied_twice && complaints == std::vector<std::string>{expected} ? 0 : 1;
            }),
            0);
}

// ---- The hive in memory -----------------------------------------------------------------

TEST(MemoryRegistryTest, HasTheSameSemantics) {
  auto registry = OpenMemoryRegistry();
  uint32_t value = 42, size = 4;
  ASSERT_EQ(registry->SetValue("A\\B", "V", RegType::kDword, &value, 4), kRegSuccess);
  value = 0;
  EXPECT_EQ(registry->QueryValue("a\\b", "v", nullptr, &value, &size), kRegSuccess);
  EXPECT_EQ(value, 42u);
  size = 3;
  EXPECT_EQ(registry->QueryValue("A\\B", "V", nullptr, &value, &size), kRegMoreData);
  std::string name;
  EXPECT_EQ(registry->EnumKey("A", 0, &name), kRegSuccess);
  EXPECT_EQ(name, "B");
  EXPECT_EQ(registry->EnumKey("A", 1, &name), kRegNoMoreItems);
}

}  // namespace
}  // namespace chron::platform
