// Rules of the Server and Information pages against a fake dialog.
#include <gtest/gtest.h>

#include <string_view>
#include <utility>
#include <vector>

#include "applet/pages.h"
#include "applet/resources.h"
#include "platform/file.h"
#include "fake_dialog.h"

namespace chron {
namespace {

using testing::FakeDialog;

class ServerPageTest : public ::testing::Test {
 protected:
  void Open() {
    page = std::make_unique<CServerDlg>(record);
    page->Attach(&dialog);
    page->InitPage();
  }
  bool Enabled(int id) { return dialog.At(id).enabled; }
  bool Ticked(int id) { return dialog.At(id).checked; }
  void Click(int id) {
    dialog.Click(id, {kIdcServerDcf77, kIdcServerNtp, kIdcServerLocal});
    page->OnClicked(id);
  }
  // Leaves the page with OK and returns what is written for Server\TimeSource.
  std::string Confirm() {
    EXPECT_TRUE(page->ExchangePageData(Exchange::kFromControls));
    page->ApplyPage();
    return record.server_time_source;
  }

  Configuration record;
  FakeDialog dialog{ServerTemplate()};
  std::unique_ptr<CServerDlg> page;
};

TEST_F(ServerPageTest, TimeSourceSpellingsOfTheRadioGroup) {
  EXPECT_EQ(TimeSourceIndex("DCF77"), 0);
  EXPECT_EQ(TimeSourceIndex("dcf77"), 0);
  EXPECT_EQ(TimeSourceIndex("NTP"), 1);
  EXPECT_EQ(TimeSourceIndex("ntp"), 1);
  EXPECT_EQ(TimeSourceIndex("Ntp"), 1);
  EXPECT_EQ(TimeSourceIndex("LOCAL"), 2);
  EXPECT_EQ(TimeSourceIndex(""), 2);
  EXPECT_EQ(TimeSourceIndex(" NTP"), 2) << "not trimmed";
  EXPECT_EQ(TimeSourceIndex("GPS"), 2);
  EXPECT_STREQ(TimeSourceSpelling(0), "DCF77");
  EXPECT_STREQ(TimeSourceSpelling(1), "NTP");
  EXPECT_STREQ(TimeSourceSpelling(2), "LOCAL");
  EXPECT_STREQ(TimeSourceSpelling(-1), "LOCAL");
}

TEST_F(ServerPageTest, StoredLowerCaseNtpTicksNtpAndIsWrittenUpperCase) {
  record.server_active = 1;
  record.server_time_source = "ntp";
  Open();
  EXPECT_FALSE(Ticked(kIdcServerDcf77));
  EXPECT_TRUE(Ticked(kIdcServerNtp));
  EXPECT_FALSE(Ticked(kIdcServerLocal));
  EXPECT_EQ(Confirm(), "NTP");
}

TEST_F(ServerPageTest, StoredDcf77LeavesVisibleButtonsClearAndIsKeptUnlessTheUserChooses) {
  record.server_active = 1;
  record.server_time_source = "Dcf77";
  Open();
  EXPECT_TRUE(Ticked(kIdcServerDcf77));
  EXPECT_FALSE(dialog.At(kIdcServerDcf77).visible);
  EXPECT_FALSE(Ticked(kIdcServerNtp));
  EXPECT_FALSE(Ticked(kIdcServerLocal));
  EXPECT_EQ(Confirm(), "DCF77");
  Click(kIdcServerLocal);
  EXPECT_FALSE(Ticked(kIdcServerDcf77));
  EXPECT_EQ(Confirm(), "LOCAL");
  Click(kIdcServerNtp);
  EXPECT_EQ(Confirm(), "NTP");
}

TEST_F(ServerPageTest, EmptyOrUnknownTimeSourceTicksLocalTime) {
  for (const char* stored : {"", "LOCAL", "local", "GPS"}) {
    record.server_time_source = stored;
    FakeDialog fresh{ServerTemplate()};
    dialog = fresh;
    Open();
    EXPECT_TRUE(Ticked(kIdcServerLocal)) << stored;
    EXPECT_FALSE(Ticked(kIdcServerNtp)) << stored;
    EXPECT_EQ(Confirm(), "LOCAL") << stored;
  }
}

TEST_F(ServerPageTest, NoButtonTickedIsWrittenAsLocal) {
  Open();
  dialog.At(kIdcServerLocal).checked = false;
  EXPECT_EQ(Confirm(), "LOCAL");
  EXPECT_EQ(page->timeSourceIndex, -1);
}

TEST_F(ServerPageTest, LastTickedButtonInGroupOrderWins) {
  Open();
  dialog.At(kIdcServerDcf77).checked = true;
  dialog.At(kIdcServerNtp).checked = true;
  dialog.At(kIdcServerLocal).checked = false;
  EXPECT_EQ(Confirm(), "NTP");
}

TEST_F(ServerPageTest, InactiveServerDisablesEverythingButItsBox) {
  record.server_active = 0;
  Open();
  EXPECT_TRUE(Enabled(kIdcServerActive));
  for (int id : {kIdcServerDcf77, kIdcServerNtp, kIdcServerLocal, kIdcServerBroadcast, kIdcServerInterval,
                 kIdcServerIntervalSpin})
    EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_TRUE(dialog.AllStaticsEnabled(false));
  Click(kIdcServerActive);
  for (int id : {kIdcServerDcf77, kIdcServerNtp, kIdcServerLocal, kIdcServerBroadcast, kIdcServerInterval,
                 kIdcServerIntervalSpin})
    EXPECT_TRUE(Enabled(id)) << id;
  EXPECT_TRUE(dialog.AllStaticsEnabled(true));
}

TEST_F(ServerPageTest, BroadcastBoxSwitchesOnlyTheIntervalField) {
  record.server_active = 1;
  record.server_broadcast = 0;
  Open();
  EXPECT_FALSE(Enabled(kIdcServerInterval));
  EXPECT_TRUE(Enabled(kIdcServerIntervalSpin));
  EXPECT_TRUE(dialog.AllStaticsEnabled(true));
  Click(kIdcServerBroadcast);
  EXPECT_TRUE(Enabled(kIdcServerInterval));
  Click(kIdcServerBroadcast);
  EXPECT_FALSE(Enabled(kIdcServerInterval));
  // Clearing and ticking the activation box keeps the interval disabled.
  Click(kIdcServerActive);
  Click(kIdcServerActive);
  EXPECT_FALSE(Enabled(kIdcServerInterval));
  EXPECT_TRUE(Enabled(kIdcServerBroadcast));
}

TEST_F(ServerPageTest, IntervalRangeAndRulesIncludingWhileDisabled) {
  record.server_active = 1;
  record.server_broadcast = 0;
  Open();
  EXPECT_EQ(dialog.At(kIdcServerIntervalSpin).lower, 16);
  EXPECT_EQ(dialog.At(kIdcServerIntervalSpin).upper, 16384);
  ASSERT_FALSE(Enabled(kIdcServerInterval));
  const std::string range = "Geben Sie bitte eine ganze Zahl zwischen 16 und 16384 ein.";
  const std::string positive = "Geben Sie bitte eine positive ganze Zahl ein.";
  struct Case {
    const char* text;
    bool ok;
    const std::string* message;
  };
  const Case cases[] = {{"16", true, nullptr},     {"16384", true, nullptr}, {"\t+300 ", true, nullptr},
                        {"15", false, &range},     {"16385", false, &range}, {"", false, &positive},
                        {"-64", false, &positive}, {"6 4", false, &positive}};
  for (const Case& c : cases) {
    dialog.messages.clear();
    dialog.At(kIdcServerInterval).text = c.text;
    EXPECT_EQ(page->ExchangePageData(Exchange::kFromControls), c.ok) << c.text;
    if (c.message != nullptr) {
      EXPECT_EQ(dialog.messages, std::vector<std::string>{*c.message}) << c.text;
      EXPECT_EQ(dialog.selected_all, kIdcServerInterval);
    }
  }
}

TEST_F(ServerPageTest, InvalidIntervalStopsBeforeTheRadioGroup) {
  record.server_time_source = "NTP";
  Open();
  page->timeSourceIndex = 1;
  dialog.At(kIdcServerInterval).text = "9";
  dialog.At(kIdcServerNtp).checked = false;
  dialog.At(kIdcServerLocal).checked = true;
  EXPECT_FALSE(page->ExchangePageData(Exchange::kFromControls));
  EXPECT_EQ(page->timeSourceIndex, 1);
}

TEST_F(ServerPageTest, StoredIntervalOutOfRangeShowsTheMessageWhenThePageOpens) {
  record.server_broadcast_interval = 86400;
  Open();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Geben Sie bitte eine ganze Zahl zwischen 16 und 16384 ein."});
  EXPECT_EQ(dialog.At(kIdcServerInterval).text, "86400");
}

TEST_F(ServerPageTest, ApplyWritesFlagsAsZeroOrOne) {
  record.server_active = 3;
  record.server_broadcast = 0;
  Open();
  dialog.At(kIdcServerInterval).text = "1000";
  Click(kIdcServerBroadcast);
  EXPECT_EQ(Confirm(), "LOCAL");
  EXPECT_EQ(record.server_active, 1u);
  EXPECT_EQ(record.server_broadcast, 1u);
  EXPECT_EQ(record.server_broadcast_interval, 1000u);
}

TEST(InfoPage, ShowsTheVersionAndLeavingNeverFails) {
  FakeDialog dialog{InfoTemplate()};
  CInfoDlg page;
  page.Attach(&dialog);
  EXPECT_TRUE(page.InitPage());
  EXPECT_EQ(dialog.At(kIdcServerBroadcast).text, "v1.01 (980806)");
  EXPECT_TRUE(page.ExchangePageData(Exchange::kFromControls));
  EXPECT_TRUE(dialog.messages.empty());
}

// The block of four lines in two columns below the version: the project's facts, no contact data.
TEST(InfoPage, FactsBlockNamesProjectLicenceDocumentationAndBuild) {
  std::vector<std::pair<std::string_view, std::string_view>> rows;  // left column, right column
  const auto& controls = InfoTemplate().controls;
  for (const ControlTemplate& left : controls) {
    if (left.y < 111 || left.align != TextAlign::kLeft) continue;
    for (const ControlTemplate& right : controls) {
      if (right.y == left.y && right.align == TextAlign::kRight) rows.emplace_back(left.text, right.text);
    }
  }
  EXPECT_EQ(rows, (std::vector<std::pair<std::string_view, std::string_view>>{
                      {"Projekt:", "chron"},
                      {"Lizenz:", "Apache License 2.0"},
                      {"Dokumentation:", platform::InstalledDocumentsFolder()},
                      {"Build:", "CMake, scripts/build.sh"}}));
}

}  // namespace
}  // namespace chron
