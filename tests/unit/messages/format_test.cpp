#include "messages/format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace chron {
namespace {

// The formatted text, or "FAIL <code>".
std::string Format(std::string_view stored, std::vector<MessageArg> args = {}) {
  std::string text = "stale";
  const int error = FormatInsertions(stored, args, &text);
  if (error != 0) {
    EXPECT_EQ(text, "") << "a failed format leaves no partial text";
    return "FAIL " + std::to_string(error);
  }
  return text;
}

MessageArg S(const char* text) { return std::string(text); }
MessageArg N(int64_t value) { return value; }

TEST(FormatInsertionsTest, LineEndings) {
  EXPECT_EQ(Format("Text.\r\n"), "Text.\r\n") << "the stored CR LF is kept";
  EXPECT_EQ(Format("Text.%0\r\n"), "Text.") << "%0 ends before the stored line break";
  EXPECT_EQ(Format("vorher%0nachher %1\r\n"), "vorher") << "nothing after %0 is looked at";
  EXPECT_EQ(Format("a%nb%rc%td"), "a\r\nb\rc\td");
  EXPECT_EQ(Format(""), "");
}

TEST(FormatInsertionsTest, Escapes) {
  EXPECT_EQ(Format("Achtung %! Ende%. 100%% sicher"), "Achtung ! Ende. 100% sicher");
  EXPECT_EQ(Format("%q%-"), "q-") << "any other character stands for itself";
  EXPECT_EQ(Format("Rest%"), "Rest") << "a lone % at the end shows nothing";
}

TEST(FormatInsertionsTest, TextInsertions) {
  EXPECT_EQ(Format("%2 vor %1", {S("eins"), S("zwei")}), "zwei vor eins");
  EXPECT_EQ(Format("[%1!s!|%1!5s!|%1!-5s!|%1!.2s!]", {S("abc")}), "[abc|  abc|abc  |ab]");
  EXPECT_EQ(Format("%1", {S("%2 100%! %0")}), "%2 100%! %0") << "inserted text is not expanded again";
  EXPECT_EQ(Format("%1:%2", {S(""), S("\xc3\xa4")}), ":\xc3\xa4");
  EXPECT_EQ(Format("%1", {S("a"), N(5), S("unused")}), "a") << "extra arguments are ignored";
}

TEST(FormatInsertionsTest, NumberInsertions) {
  EXPECT_EQ(Format("%1!d!", {N(0)}), "0");
  EXPECT_EQ(Format("%1!d!/%1!i!", {N(-42)}), "-42/-42");
  EXPECT_EQ(Format("%2!03d!", {N(0), N(5)}), "005");
  EXPECT_EQ(Format("%1!03d!", {N(1234)}), "1234");
  EXPECT_EQ(Format("%1!5d!|%1!-5d!|%1!+d!", {N(42)}), "   42|42   |+42");
  EXPECT_EQ(Format("%1!x! %1!X! %1!#x! %1!o! %1!u!", {N(255)}), "ff FF 0xff 377 255");
  EXPECT_EQ(Format("%1!x! %1!u!", {N(-1)}), "ffffffff 4294967295") << "32-bit values as the callers pass them";
  EXPECT_EQ(Format("%1!ld! %1!lu! %1!hd!", {N(10054)}), "10054 10054 10054");
  EXPECT_EQ(Format("%1!d!", {N(int64_t{1} << 40)}), "1099511627776");
  EXPECT_EQ(Format("%1!c!", {N('Z')}), "Z");
}

TEST(FormatInsertionsTest, TwoDigitInsertionNumbers) {
  std::vector<MessageArg> args;
  for (int i = 1; i <= 12; ++i) args.push_back(N(i));
  EXPECT_EQ(Format("%10!d!|%12!d!|%1!d!", args), "10|12|1");
  args[9] = S("zehn");
  EXPECT_EQ(Format("%100", args), "zehn0") << "at most two digits name the argument";
}

TEST(FormatInsertionsTest, MissingOrMismatchedArgumentsFail) {
  EXPECT_EQ(Format("%1"), "FAIL 87");
  EXPECT_EQ(Format("%1 %2", {S("a")}), "FAIL 87");
  EXPECT_EQ(Format("%99!d!", {N(1)}), "FAIL 87");
  EXPECT_EQ(Format("%1!d!", {S("5")}), "FAIL 87") << "text where an integer is converted";
  EXPECT_EQ(Format("%1", {N(5)}), "FAIL 87") << "integer where a text is inserted";
  EXPECT_EQ(Format("%1!s!", {N(5)}), "FAIL 87");
}

TEST(FormatInsertionsTest, MalformedSpecificationsFail) {
  for (const char* stored : {"%1!d", "%1!!", "%1!q!", "%1!dd!", "%1!*d!", "%1!.*d!", "%1!n!", "%1!p!", "%1!1234d!",
                             "%1!.1234d!", "%1!d !"}) {
    EXPECT_EQ(Format(stored, {N(1)}), "FAIL 87") << stored;
  }
  EXPECT_EQ(Format("%1!999d!", {N(1)}).size(), 999u) << "the widest width still allowed";
}

TEST(FormatCatalogueEntryTest, DeviationShowsMillisecondsInThreeDigits) {
  std::string text;
  const std::vector<MessageArg> args = {N(2), N(5), N(1)};
  ASSERT_EQ(FormatCatalogueEntry(0x4100002d, args, &text), 0);
  EXPECT_EQ(text,
            "SNTP-Client: Die Abbweichung der Systemzeit zum NTP Zeitserver betr\xc3\xa4gt 2.005 Sekunde(n), "
            "erlaubt ist/sind aber nur 1 Sekunde(n), Systemzeit wird nicht korregiert.");
}

TEST(FormatCatalogueEntryTest, StoredLineBreakUnlessPercentZero) {
  std::string text;
  ASSERT_EQ(FormatCatalogueEntry(0x81000036, {}, &text), 0);
  EXPECT_EQ(text, "SNTP-Init: Es konnte nicht festgestellt werden, ob der SNTP Dienst bereits aktiv ist.\r\n");
  const std::vector<MessageArg> args = {S("eth0"), S("192.168.1.5")};
  ASSERT_EQ(FormatCatalogueEntry(0x0100000e, args, &text), 0);
  EXPECT_EQ(text, "SNTP-Init: Der Netzwerkadapter eth0 (192.168.1.5) ist betriebsbereit.");
  ASSERT_EQ(FormatCatalogueEntry(0xc1000002, std::vector<MessageArg>{S("Zugriff verweigert")}, &text), 0);
  EXPECT_EQ(text, "Der Service-Dispatcher konnte nicht gestartet werden ! Grund: Zugriff verweigert.");
}

TEST(FormatCatalogueEntryTest, UnknownIdentifierFails) {
  std::string text = "stale";
  EXPECT_EQ(FormatCatalogueEntry(0x41000020, {}, &text), kErrorMessageNotFound);
  EXPECT_EQ(text, "");
}

}  // namespace
}  // namespace chron
