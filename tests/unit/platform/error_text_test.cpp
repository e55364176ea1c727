#include "platform/error_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace chron::platform {
namespace {

TEST(SystemErrorMessageTest, KnownCodesHaveTheSystemText) {
  for (int code : {0, EPERM, ENOENT, EACCES, EADDRINUSE, ENETUNREACH, EHWPOISON}) {
    std::string text;
    ASSERT_TRUE(SystemErrorMessage(code, &text)) << code;
    EXPECT_EQ(text, std::strerror(code));
    EXPECT_FALSE(text.empty());
  }
}

TEST(SystemErrorMessageTest, UnknownCodesHaveNone) {
  for (int code : {-1, 4000, 1 << 30}) {
    std::string text = "unchanged";
    EXPECT_FALSE(SystemErrorMessage(code, &text)) << code;
    EXPECT_EQ(text, "unchanged");
  }
}

// The category of the system's numbers: their text, and the conditions of std::errc.
TEST(SystemCategoryTest, TellsTheSystemTextAndComparesWithErrc) {
  EXPECT_FALSE(SystemError(0));
  EXPECT_EQ(SystemError(ENOENT).message(), std::strerror(ENOENT));
  EXPECT_EQ(SystemError(4000).message(), "Der Text für Systemfehlermeldung 4000 ist nicht zu finden !");
  EXPECT_EQ(SystemError(EPERM), std::errc::operation_not_permitted);
  EXPECT_NE(SystemError(EPERM), std::errc::permission_denied);
}

// Our own failures: the texts the programs print, under numbers that meet no system error.
TEST(PlatformCategoryTest, TellsOurTextsAndEqualsNoSystemCode) {
  const struct {
    PlatformError error;
    const char* text;
  } cases[] = {
      {PlatformError::kNotRegularFile, "keine reguläre Datei"},
      {PlatformError::kFileTooLarge, "größer als erlaubt"},
      {PlatformError::kStatusFolderForeignOwner, "weder dem Benutzer des SNTP Dienstes noch root gehört"},
      {PlatformError::kStatusFolderOpenToOthers, "ohne Sticky-Bit auch für andere Benutzer beschreibbar ist"},
      {PlatformError::kStatusFolderLink, "eine symbolische Verknüpfung ist"},
      {PlatformError::kNoServiceProcessModule, "Kann Modulehandle für KERNEL32.DLL nicht finden !"},
      {PlatformError::kNoServiceProcessEntry,
       "Kann Einsprungspunkt für \"RegisterServiceProcess\" in KERNEL32.DLL nicht finden !"},
      {PlatformError::kMacRefused, "der Kryptoanbieter lehnt die Berechnung ab"},
  };
  for (const auto& c : cases) {
    const std::error_code error = c.error;
    EXPECT_TRUE(error);
    EXPECT_EQ(error.message(), c.text);
    EXPECT_NE(error, SystemError(error.value()));
    EXPECT_NE(error, std::error_condition(error.value(), std::generic_category()));
  }
}

}  // namespace
}  // namespace chron::platform
