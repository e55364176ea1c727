// The Win32 registry implementation against the real HKEY_LOCAL_MACHINE (a Wine prefix's).
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

namespace chron::platform {
namespace {

class Win32RegistryTest : public ::testing::Test {
 protected:
  // A key of its own per run, so runs in one prefix never see each other's values.
  const std::string key_ =
      "SOFTWARE\\ChronUnitTest\\" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  std::unique_ptr<Registry> registry_ = OpenMachineRegistry();
};

TEST_F(Win32RegistryTest, ValuesKeepTypeAndBytes) {
  const uint32_t number = 0x12345678;
  ASSERT_EQ(registry_->SetValue(key_, "Number", RegType::kDword, &number, 4), kRegSuccess);
  const std::string text = "Zeitserver f\xc3\xbcr alle";  // UTF-8, stored as the system's characters
  ASSERT_EQ(registry_->SetValue(key_, "Text", RegType::kSz, text.c_str(), static_cast<uint32_t>(text.size() + 1)),
            kRegSuccess);
  const char multi[] =
      "10.0.0.1\0"
      "10.0.0.2\0";
  ASSERT_EQ(registry_->SetValue(key_, "List", RegType::kMultiSz, multi, sizeof multi), kRegSuccess);

  RegType type = RegType::kNone;
  uint32_t read_number = 0;
  uint32_t size = 4;
  EXPECT_EQ(registry_->QueryValue(key_, "number", &type, &read_number, &size), kRegSuccess);  // any case
  EXPECT_EQ(type, RegType::kDword);
  EXPECT_EQ(read_number, number);

  char buffer[64] = {};
  size = sizeof buffer;
  EXPECT_EQ(registry_->QueryValue(key_, "Text", &type, buffer, &size), kRegSuccess);
  EXPECT_EQ(type, RegType::kSz);
  EXPECT_EQ(size, text.size() + 1);
  EXPECT_STREQ(buffer, text.c_str());

  size = sizeof buffer;
  EXPECT_EQ(registry_->QueryValue(key_, "List", &type, buffer, &size), kRegSuccess);
  EXPECT_EQ(type, RegType::kMultiSz);
  ASSERT_EQ(size, sizeof multi);
  EXPECT_EQ(std::memcmp(buffer, multi, sizeof multi), 0);
}

TEST_F(Win32RegistryTest, SmallBufferMissingValueAndKey) {
  const std::string text = "0123456789";
  ASSERT_EQ(registry_->SetValue(key_, "Text", RegType::kSz, text.c_str(), 11), kRegSuccess);
  char small[4];
  uint32_t size = sizeof small;
  EXPECT_EQ(registry_->QueryValue(key_, "Text", nullptr, small, &size), kRegMoreData);
  EXPECT_EQ(size, 11u);  // the size it needs
  size = sizeof small;
  EXPECT_EQ(registry_->QueryValue(key_, "Missing", nullptr, small, &size), kRegFileNotFound);
  EXPECT_EQ(registry_->OpenKey(key_ + "\\Missing"), kRegFileNotFound);
  EXPECT_EQ(registry_->OpenKey(key_), kRegSuccess);
}

TEST_F(Win32RegistryTest, SubkeysEnumerateUntilNoMoreItems) {
  ASSERT_EQ(registry_->CreateKey(key_ + "\\Alpha"), kRegSuccess);
  ASSERT_EQ(registry_->CreateKey(key_ + "\\Beta\\Deep"), kRegSuccess);  // parents too
  std::string first;
  std::string second;
  std::string none;
  EXPECT_EQ(registry_->EnumKey(key_, 0, &first), kRegSuccess);
  EXPECT_EQ(registry_->EnumKey(key_, 1, &second), kRegSuccess);
  EXPECT_EQ(registry_->EnumKey(key_, 2, &none), kRegNoMoreItems);
  EXPECT_EQ(first + "," + second, "Alpha,Beta");
}

}  // namespace
}  // namespace chron::platform
