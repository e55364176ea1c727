// Number, text and flag transfer of the pages: reading rules at their boundaries.
#include "applet/exchange.h"

#include <gtest/gtest.h>

#include "applet/resources.h"
#include "fake_dialog.h"

namespace chron {
namespace {

using testing::FakeDialog;

constexpr std::string_view kRange16 = "Geben Sie bitte eine ganze Zahl zwischen 16 und 16384 ein.";

TEST(ParseUnsigned, AcceptsDigitsWithBlanksTabsAndPlus) {
  EXPECT_EQ(ParseUnsigned("64"), 64u);
  EXPECT_EQ(ParseUnsigned("  64  "), 64u);
  EXPECT_EQ(ParseUnsigned("\t64\t"), 64u);
  EXPECT_EQ(ParseUnsigned(" \t+64 "), 64u);
  EXPECT_EQ(ParseUnsigned("007"), 7u);
  EXPECT_EQ(ParseUnsigned("0"), 0u);
  EXPECT_EQ(ParseUnsigned("4294967295"), 4294967295u);
}

TEST(ParseUnsigned, RejectsEmptyMinusAndOtherCharacters) {
  for (const char* text : {"", "   ", "\t", "+", "-1", "-0", " -5", "1 2", "12a", "a12", "1.5", "1,024", "0x10", "+ 5",
                           "++5", "+-5", "1e3", "١٢"}) {
    EXPECT_FALSE(ParseUnsigned(text).has_value()) << '"' << text << '"';
  }
}

TEST(ParseUnsigned, SaturatesBeyondThirtyTwoBits) {
  EXPECT_EQ(ParseUnsigned("4294967296"), 4294967295u);
  EXPECT_EQ(ParseUnsigned("99999999999999999999999"), 4294967295u);
}

TEST(FormatMessageText, ReplacesBothInserts) {
  EXPECT_EQ(FormatMessageText(kMsgIntegerRange, "1", "7200"),
            "Geben Sie bitte eine ganze Zahl zwischen 1 und 7200 ein.");
  EXPECT_EQ(FormatMessageText(kMsgMaxChars, "4095"), "Geben Sie bitte nicht mehr als 4095 Zeichen ein.");
}

class ReadUnsignedTest : public ::testing::Test {
 protected:
  // Reads control kIdcClientPollInterval with the poll interval's range.
  bool Read(const std::string& text) {
    dialog.SetText(kIdcClientPollInterval, text);
    return ReadUnsigned(dialog, kIdcClientPollInterval, 16, 16384, &value);
  }
  FakeDialog dialog{ClientTemplate()};
  uint32_t value = 12345;
};

TEST_F(ReadUnsignedTest, RangeEndsAreInsideAndTheirNeighboursOutside) {
  EXPECT_TRUE(Read("16"));
  EXPECT_EQ(value, 16u);
  EXPECT_TRUE(Read("16384"));
  EXPECT_EQ(value, 16384u);
  EXPECT_TRUE(Read(" +64\t"));
  EXPECT_EQ(value, 64u);
  EXPECT_TRUE(dialog.messages.empty());

  EXPECT_FALSE(Read("15"));
  EXPECT_FALSE(Read("16385"));
  EXPECT_FALSE(Read("0"));
  EXPECT_FALSE(Read("4294967296"));
  EXPECT_EQ(dialog.messages, std::vector<std::string>(4, std::string(kRange16)));
  EXPECT_EQ(value, 64u) << "a failed read leaves the field";
}

TEST_F(ReadUnsignedTest, NotANumberGivesThePositiveIntegerMessage) {
  for (const char* text : {"", " ", "-16", "abc", "64s"}) {
    dialog.messages.clear();
    EXPECT_FALSE(Read(text)) << text;
    ASSERT_EQ(dialog.messages.size(), 1u) << text;
    EXPECT_EQ(dialog.messages[0], "Geben Sie bitte eine positive ganze Zahl ein.");
  }
}

TEST_F(ReadUnsignedTest, FailingControlGetsFocusWithTextSelectedAfterTheMessage) {
  dialog.focus = kIdcClientActive;
  EXPECT_FALSE(Read("x"));
  EXPECT_EQ(dialog.focus_at_message, std::vector<int>{kIdcClientActive});
  EXPECT_EQ(dialog.focus, kIdcClientPollInterval);
  EXPECT_EQ(dialog.selected_all, kIdcClientPollInterval);
}

TEST(ReadText, LengthLimitCountsBytesAndAllowsTheLimitItself) {
  FakeDialog dialog{ClientTemplate()};
  std::string text = "unchanged";
  dialog.SetText(kIdcClientTimeSource, std::string(4095, 'a'));
  EXPECT_TRUE(ReadText(dialog, kIdcClientTimeSource, 4095, &text));
  EXPECT_EQ(text.size(), 4095u);
  dialog.SetText(kIdcClientTimeSource, std::string(4096, 'a'));
  EXPECT_FALSE(ReadText(dialog, kIdcClientTimeSource, 4095, &text));
  EXPECT_EQ(text.size(), 4095u);
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Geben Sie bitte nicht mehr als 4095 Zeichen ein."});
  EXPECT_EQ(dialog.selected_all, kIdcClientTimeSource);
  // 2048 two-byte characters are 4096 bytes: too long for the stored form.
  std::string umlauts;
  for (int i = 0; i < 2048; ++i) umlauts += "ä";
  dialog.SetText(kIdcClientTimeSource, umlauts);
  EXPECT_FALSE(ReadText(dialog, kIdcClientTimeSource, 4095, &text));
}

TEST(WriteText, SetsTheTextThenTheLimitWithoutCuttingALongerText) {
  FakeDialog dialog{ClientTemplate()};
  WriteText(dialog, kIdcClientTimeSource, std::string(5000, 'x'), 4095);
  EXPECT_EQ(dialog.At(kIdcClientTimeSource).text.size(), 5000u);
  EXPECT_EQ(dialog.At(kIdcClientTimeSource).limit, 4095);
}

TEST(Flags, WriteTicksForAnyNonZeroAndReadGivesZeroOrOne) {
  FakeDialog dialog{ClientTemplate()};
  WriteCheck(dialog, kIdcClientRunOnce, 7);
  EXPECT_TRUE(dialog.At(kIdcClientRunOnce).checked);
  EXPECT_EQ(ReadCheck(dialog, kIdcClientRunOnce), 1u);
  WriteCheck(dialog, kIdcClientRunOnce, 0);
  EXPECT_EQ(ReadCheck(dialog, kIdcClientRunOnce), 0u);
  WriteUnsigned(dialog, kIdcClientPollInterval, 16384);
  EXPECT_EQ(dialog.At(kIdcClientPollInterval).text, "16384");
}

}  // namespace
}  // namespace chron
