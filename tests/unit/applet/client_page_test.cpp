// Rules of the Client page against a fake dialog.
#include <gtest/gtest.h>

#include "applet/pages.h"
#include "fake_dialog.h"

namespace chron {
namespace {

using testing::FakeDialog;

class ClientPageTest : public ::testing::Test {
 protected:
  void Open(PlatformId platform = PlatformId::kWinNt) {
    page = std::make_unique<CClientDlg>(record, platform);
    page->Attach(&dialog);
    page->InitPage();
  }
  bool Enabled(int id) { return dialog.At(id).enabled; }
  void Click(int id) {
    dialog.Click(id, {1003, 1004});
    page->OnClicked(id);
  }

  Configuration record;
  FakeDialog dialog{ClientTemplate()};
  std::unique_ptr<CClientDlg> page;
};

TEST_F(ClientPageTest, InitPageShowsTheRecordWithRangesAndLimit) {
  record.client_active = 1;
  record.client_broadcast = 0;
  record.client_run_once = 1;
  record.client_max_diff_second = 7200;
  record.client_max_diff_second_active = 1;
  record.client_poll_interval = 16384;
  record.client_time_source = "zeit.example.org";
  Open();
  EXPECT_TRUE(dialog.At(1013).checked);
  EXPECT_TRUE(dialog.At(1003).checked);
  EXPECT_FALSE(dialog.At(1004).checked);
  EXPECT_EQ(dialog.At(1016).text, "7200");
  EXPECT_TRUE(dialog.At(1023).checked);
  EXPECT_EQ(dialog.At(1011).text, "16384");
  EXPECT_TRUE(dialog.At(1008).checked);
  EXPECT_EQ(dialog.At(1009).text, "zeit.example.org");
  EXPECT_EQ(dialog.At(1009).limit, 4095);
  EXPECT_EQ(dialog.At(1012).lower, 16);
  EXPECT_EQ(dialog.At(1012).upper, 16384);
  EXPECT_EQ(dialog.At(1020).lower, 1);
  EXPECT_EQ(dialog.At(1020).upper, 7200);
  EXPECT_TRUE(dialog.messages.empty());
  EXPECT_EQ(dialog.focus, 1013);
  // Polling with the limit enforced: everything enabled.
  for (int id : {1003, 1009, 1005, 1011, 1012, 1004, 1023, 1016, 1020, 1008, 1024}) EXPECT_TRUE(Enabled(id)) << id;
}

TEST_F(ClientPageTest, FieldsTakeTheRecordAsItIsWhenTheSheetOpensNotWhenThePageWasBuilt) {
  page = std::make_unique<CClientDlg>(record, PlatformId::kWinNt);
  record.client_poll_interval = 128;  // read by the sheet after the pages were built
  page->Attach(&dialog);
  page->InitPage();
  EXPECT_EQ(dialog.At(1011).text, "128");
}

TEST_F(ClientPageTest, BroadcastModeDisablesServerNamePollLabelAndIntervalButNotItsArrows) {
  record.client_broadcast = 1;
  Open();
  EXPECT_TRUE(dialog.At(1004).checked);
  EXPECT_FALSE(dialog.At(1003).checked);
  EXPECT_FALSE(Enabled(1009));
  EXPECT_FALSE(Enabled(1005));
  EXPECT_FALSE(Enabled(1011));
  EXPECT_TRUE(Enabled(1012));
  Click(1003);
  EXPECT_TRUE(Enabled(1009));
  EXPECT_TRUE(Enabled(1005));
  EXPECT_TRUE(Enabled(1011));
  Click(1004);
  EXPECT_FALSE(Enabled(1009));
  EXPECT_FALSE(dialog.At(1003).checked);
}

TEST_F(ClientPageTest, DeviationBoxSwitchesOnlyTheDeviationField) {
  record.client_max_diff_second_active = 0;
  Open();
  EXPECT_FALSE(Enabled(1016));
  EXPECT_TRUE(Enabled(1020));
  Click(1023);
  EXPECT_TRUE(Enabled(1016));
  Click(1023);
  EXPECT_FALSE(Enabled(1016));
  EXPECT_TRUE(Enabled(1020));
}

TEST_F(ClientPageTest, InactiveClientDisablesEverythingButTheActivationBox) {
  record.client_active = 0;
  record.client_broadcast = 0;
  record.client_max_diff_second_active = 0;
  Open();
  EXPECT_TRUE(Enabled(1013));
  for (int id : {1003, 1009, 1005, 1011, 1012, 1004, 1023, 1016, 1020, 1008, 1024}) EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_TRUE(dialog.AllStaticsEnabled(false));
  // Ticking the box enables all, then the two sub-rules apply.
  Click(1013);
  EXPECT_TRUE(dialog.AllStaticsEnabled(true));
  EXPECT_TRUE(Enabled(1009));   // polling
  EXPECT_FALSE(Enabled(1016));  // limit not enforced
  EXPECT_TRUE(Enabled(1020));
  EXPECT_EQ(dialog.focus, 1013);
  Click(1013);
  EXPECT_FALSE(Enabled(1009));
  EXPECT_FALSE(Enabled(1008));
}

TEST_F(ClientPageTest, ReadingGoesInOrderAndStopsAtTheFirstInvalidControl) {
  Open();
  dialog.At(1013).checked = false;
  dialog.At(1004).checked = false;
  dialog.At(1016).text = "0";  // invalid: 1..7200
  dialog.At(1023).checked = true;
  dialog.At(1011).text = "x";  // invalid too, never reached
  dialog.At(1008).checked = true;
  EXPECT_FALSE(page->ExchangePageData(Exchange::kFromControls));
  EXPECT_EQ(page->active, 0u);
  EXPECT_EQ(page->broadcast, 0u);
  EXPECT_EQ(page->maxDiffSecondActive, 0u) << "read after 1016, so not reached";
  EXPECT_EQ(page->runOnce, 0u);
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Geben Sie bitte eine ganze Zahl zwischen 1 und 7200 ein."});
  EXPECT_EQ(dialog.selected_all, 1016);

  dialog.messages.clear();
  dialog.At(1016).text = "7200";
  EXPECT_FALSE(page->ExchangePageData(Exchange::kFromControls));
  EXPECT_EQ(page->maxDiffSecondActive, 1u);
  EXPECT_EQ(page->runOnce, 0u);
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Geben Sie bitte eine positive ganze Zahl ein."});
  EXPECT_EQ(dialog.selected_all, 1011);

  dialog.messages.clear();
  dialog.At(1011).text = " 64 ";
  dialog.At(1009).text = std::string(4096, 'n');
  EXPECT_FALSE(page->ExchangePageData(Exchange::kFromControls));
  EXPECT_EQ(page->pollInterval, 64u);
  EXPECT_EQ(page->runOnce, 1u);
  EXPECT_EQ(dialog.selected_all, 1009);
  dialog.At(1009).text = "ntp.example.org";
  EXPECT_TRUE(page->ExchangePageData(Exchange::kFromControls));
  EXPECT_EQ(page->timeSource, "ntp.example.org");
}

TEST_F(ClientPageTest, DisabledFieldsAreStillValidated) {
  record.client_broadcast = 1;               // 1011 disabled
  record.client_max_diff_second_active = 0;  // 1016 disabled
  Open();
  ASSERT_FALSE(Enabled(1011));
  ASSERT_FALSE(Enabled(1016));
  dialog.At(1011).text = "";
  EXPECT_FALSE(page->ExchangePageData(Exchange::kFromControls));
  EXPECT_EQ(dialog.selected_all, 1011);
  dialog.At(1011).text = "64";
  dialog.At(1016).text = "7201";
  EXPECT_FALSE(page->ExchangePageData(Exchange::kFromControls));
  EXPECT_EQ(dialog.selected_all, 1016);
}

TEST_F(ClientPageTest, StoredValuesOutOfRangeShowTheMessageWhenThePageOpens) {
  record.client_poll_interval = 86400;
  Open();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Geben Sie bitte eine ganze Zahl zwischen 16 und 16384 ein."});
  EXPECT_EQ(dialog.At(1011).text, "86400");
  // The activation rule went on after the failure.
  EXPECT_EQ(dialog.focus, 1013);
}

TEST_F(ClientPageTest, LongStoredServerNameIsShownButCannotBeLeft) {
  record.client_time_source = std::string(5000, 's');
  Open();
  EXPECT_EQ(dialog.At(1009).text.size(), 5000u);
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Geben Sie bitte nicht mehr als 4095 Zeichen ein."});
}

TEST_F(ClientPageTest, ApplyCopiesFieldsWithFlagsAsZeroOrOne) {
  record.client_active = 5;
  record.client_run_once = 9;
  Open();
  dialog.At(1011).text = "+1024";
  dialog.At(1016).text = "1";
  dialog.At(1009).text = "10.0.0.1";
  Click(1003);
  ASSERT_TRUE(page->ExchangePageData(Exchange::kFromControls));
  page->ApplyPage();
  EXPECT_EQ(record.client_active, 1u);
  EXPECT_EQ(record.client_run_once, 1u);
  EXPECT_EQ(record.client_poll_interval, 1024u);
  EXPECT_EQ(record.client_max_diff_second, 1u);
  EXPECT_EQ(record.client_time_source, "10.0.0.1");
  EXPECT_EQ(record.client_broadcast, 0u);
}

TEST_F(ClientPageTest, Windows95HidesTheActivationBoxWhileTheClientIsOn) {
  record.client_active = 1;
  Open(PlatformId::kWin95);
  EXPECT_FALSE(dialog.At(1013).visible);
}

TEST_F(ClientPageTest, Windows95ShowsTheActivationBoxWhenTheStoredClientIsOff) {
  record.client_active = 0;
  Open(PlatformId::kWin95);
  EXPECT_TRUE(dialog.At(1013).visible) << "otherwise no control could ever be enabled";
  EXPECT_TRUE(Enabled(1013));
  Click(1013);
  EXPECT_TRUE(Enabled(1004));
}

TEST_F(ClientPageTest, WindowsNtNeverHidesTheActivationBox) {
  record.client_active = 1;
  Open(PlatformId::kWinNt);
  EXPECT_TRUE(dialog.At(1013).visible);
}

}  // namespace
}  // namespace chron
