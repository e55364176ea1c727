// Rules of the Client page against a fake dialog.
#include <gtest/gtest.h>

#include "applet/pages.h"
#include "applet/resources.h"
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
    dialog.Click(id, {kIdcClientPoll, kIdcClientBroadcast});
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
  EXPECT_TRUE(dialog.At(kIdcClientActive).checked);
  EXPECT_TRUE(dialog.At(kIdcClientPoll).checked);
  EXPECT_FALSE(dialog.At(kIdcClientBroadcast).checked);
  EXPECT_EQ(dialog.At(kIdcClientMaxDiff).text, "7200");
  EXPECT_TRUE(dialog.At(kIdcClientMaxDiffActive).checked);
  EXPECT_EQ(dialog.At(kIdcClientPollInterval).text, "16384");
  EXPECT_TRUE(dialog.At(kIdcClientRunOnce).checked);
  EXPECT_EQ(dialog.At(kIdcClientTimeSource).text, "zeit.example.org");
  EXPECT_EQ(dialog.At(kIdcClientTimeSource).limit, 4095);
  EXPECT_EQ(dialog.At(kIdcClientPollSpin).lower, 16);
  EXPECT_EQ(dialog.At(kIdcClientPollSpin).upper, 16384);
  EXPECT_EQ(dialog.At(kIdcClientMaxDiffSpin).lower, 1);
  EXPECT_EQ(dialog.At(kIdcClientMaxDiffSpin).upper, 7200);
  EXPECT_TRUE(dialog.messages.empty());
  EXPECT_EQ(dialog.focus, kIdcClientActive);
  // Polling with the limit enforced: everything enabled.
  for (int id : {kIdcClientPoll, kIdcClientTimeSource, kIdcClientPollLabel, kIdcClientPollInterval, kIdcClientPollSpin,
                 kIdcClientBroadcast, kIdcClientMaxDiffActive, kIdcClientMaxDiff, kIdcClientMaxDiffSpin,
                 kIdcClientRunOnce, kIdcClientExplanation})
    EXPECT_TRUE(Enabled(id)) << id;
}

TEST_F(ClientPageTest, FieldsTakeTheRecordAsItIsWhenTheSheetOpensNotWhenThePageWasBuilt) {
  page = std::make_unique<CClientDlg>(record, PlatformId::kWinNt);
  record.client_poll_interval = 128;  // read by the sheet after the pages were built
  page->Attach(&dialog);
  page->InitPage();
  EXPECT_EQ(dialog.At(kIdcClientPollInterval).text, "128");
}

TEST_F(ClientPageTest, BroadcastModeDisablesServerNamePollLabelAndIntervalButNotItsArrows) {
  record.client_broadcast = 1;
  Open();
  EXPECT_TRUE(dialog.At(kIdcClientBroadcast).checked);
  EXPECT_FALSE(dialog.At(kIdcClientPoll).checked);
  EXPECT_FALSE(Enabled(kIdcClientTimeSource));
  EXPECT_FALSE(Enabled(kIdcClientPollLabel));
  EXPECT_FALSE(Enabled(kIdcClientPollInterval));
  EXPECT_TRUE(Enabled(kIdcClientPollSpin));
  Click(kIdcClientPoll);
  EXPECT_TRUE(Enabled(kIdcClientTimeSource));
  EXPECT_TRUE(Enabled(kIdcClientPollLabel));
  EXPECT_TRUE(Enabled(kIdcClientPollInterval));
  Click(kIdcClientBroadcast);
  EXPECT_FALSE(Enabled(kIdcClientTimeSource));
  EXPECT_FALSE(dialog.At(kIdcClientPoll).checked);
}

TEST_F(ClientPageTest, DeviationBoxSwitchesOnlyTheDeviationField) {
  record.client_max_diff_second_active = 0;
  Open();
  EXPECT_FALSE(Enabled(kIdcClientMaxDiff));
  EXPECT_TRUE(Enabled(kIdcClientMaxDiffSpin));
  Click(kIdcClientMaxDiffActive);
  EXPECT_TRUE(Enabled(kIdcClientMaxDiff));
  Click(kIdcClientMaxDiffActive);
  EXPECT_FALSE(Enabled(kIdcClientMaxDiff));
  EXPECT_TRUE(Enabled(kIdcClientMaxDiffSpin));
}

TEST_F(ClientPageTest, InactiveClientDisablesEverythingButTheActivationBox) {
  record.client_active = 0;
  record.client_broadcast = 0;
  record.client_max_diff_second_active = 0;
  Open();
  EXPECT_TRUE(Enabled(kIdcClientActive));
  for (int id : {kIdcClientPoll, kIdcClientTimeSource, kIdcClientPollLabel, kIdcClientPollInterval, kIdcClientPollSpin,
                 kIdcClientBroadcast, kIdcClientMaxDiffActive, kIdcClientMaxDiff, kIdcClientMaxDiffSpin,
                 kIdcClientRunOnce, kIdcClientExplanation})
    EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_TRUE(dialog.AllStaticsEnabled(false));
  // Ticking the box enables all, then the two sub-rules apply.
  Click(kIdcClientActive);
  EXPECT_TRUE(dialog.AllStaticsEnabled(true));
  EXPECT_TRUE(Enabled(kIdcClientTimeSource));  // polling
  EXPECT_FALSE(Enabled(kIdcClientMaxDiff));    // limit not enforced
  EXPECT_TRUE(Enabled(kIdcClientMaxDiffSpin));
  EXPECT_EQ(dialog.focus, kIdcClientActive);
  Click(kIdcClientActive);
  EXPECT_FALSE(Enabled(kIdcClientTimeSource));
  EXPECT_FALSE(Enabled(kIdcClientRunOnce));
}

TEST_F(ClientPageTest, ReadingGoesInOrderAndStopsAtTheFirstInvalidControl) {
  Open();
  dialog.At(kIdcClientActive).checked = false;
  dialog.At(kIdcClientBroadcast).checked = false;
  dialog.At(kIdcClientMaxDiff).text = "0";  // invalid: 1..7200
  dialog.At(kIdcClientMaxDiffActive).checked = true;
  dialog.At(kIdcClientPollInterval).text = "x";  // invalid too, never reached
  dialog.At(kIdcClientRunOnce).checked = true;
  EXPECT_FALSE(page->ExchangePageData(Exchange::kFromControls));
  EXPECT_EQ(page->active, 0u);
  EXPECT_EQ(page->broadcast, 0u);
  EXPECT_EQ(page->maxDiffSecondActive, 0u) << "read after kIdcClientMaxDiff, so not reached";
  EXPECT_EQ(page->runOnce, 0u);
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Geben Sie bitte eine ganze Zahl zwischen 1 und 7200 ein."});
  EXPECT_EQ(dialog.selected_all, kIdcClientMaxDiff);

  dialog.messages.clear();
  dialog.At(kIdcClientMaxDiff).text = "7200";
  EXPECT_FALSE(page->ExchangePageData(Exchange::kFromControls));
  EXPECT_EQ(page->maxDiffSecondActive, 1u);
  EXPECT_EQ(page->runOnce, 0u);
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Geben Sie bitte eine positive ganze Zahl ein."});
  EXPECT_EQ(dialog.selected_all, kIdcClientPollInterval);

  dialog.messages.clear();
  dialog.At(kIdcClientPollInterval).text = " 64 ";
  dialog.At(kIdcClientTimeSource).text = std::string(4096, 'n');
  EXPECT_FALSE(page->ExchangePageData(Exchange::kFromControls));
  EXPECT_EQ(page->pollInterval, 64u);
  EXPECT_EQ(page->runOnce, 1u);
  EXPECT_EQ(dialog.selected_all, kIdcClientTimeSource);
  dialog.At(kIdcClientTimeSource).text = "ntp.example.org";
  EXPECT_TRUE(page->ExchangePageData(Exchange::kFromControls));
  EXPECT_EQ(page->timeSource, "ntp.example.org");
}

TEST_F(ClientPageTest, DisabledFieldsAreStillValidated) {
  record.client_broadcast = 1;               // kIdcClientPollInterval disabled
  record.client_max_diff_second_active = 0;  // kIdcClientMaxDiff disabled
  Open();
  ASSERT_FALSE(Enabled(kIdcClientPollInterval));
  ASSERT_FALSE(Enabled(kIdcClientMaxDiff));
  dialog.At(kIdcClientPollInterval).text = "";
  EXPECT_FALSE(page->ExchangePageData(Exchange::kFromControls));
  EXPECT_EQ(dialog.selected_all, kIdcClientPollInterval);
  dialog.At(kIdcClientPollInterval).text = "64";
  dialog.At(kIdcClientMaxDiff).text = "7201";
  EXPECT_FALSE(page->ExchangePageData(Exchange::kFromControls));
  EXPECT_EQ(dialog.selected_all, kIdcClientMaxDiff);
}

TEST_F(ClientPageTest, StoredValuesOutOfRangeShowTheMessageWhenThePageOpens) {
  record.client_poll_interval = 86400;
  Open();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Geben Sie bitte eine ganze Zahl zwischen 16 und 16384 ein."});
  EXPECT_EQ(dialog.At(kIdcClientPollInterval).text, "86400");
  // The activation rule went on after the failure.
  EXPECT_EQ(dialog.focus, kIdcClientActive);
}

TEST_F(ClientPageTest, LongStoredServerNameIsShownButCannotBeLeft) {
  record.client_time_source = std::string(5000, 's');
  Open();
  EXPECT_EQ(dialog.At(kIdcClientTimeSource).text.size(), 5000u);
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Geben Sie bitte nicht mehr als 4095 Zeichen ein."});
}

TEST_F(ClientPageTest, ApplyCopiesFieldsWithFlagsAsZeroOrOne) {
  record.client_active = 5;
  record.client_run_once = 9;
  Open();
  dialog.At(kIdcClientPollInterval).text = "+1024";
  dialog.At(kIdcClientMaxDiff).text = "1";
  dialog.At(kIdcClientTimeSource).text = "10.0.0.1";
  Click(kIdcClientPoll);
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
  EXPECT_FALSE(dialog.At(kIdcClientActive).visible);
}

TEST_F(ClientPageTest, Windows95ShowsTheActivationBoxWhenTheStoredClientIsOff) {
  record.client_active = 0;
  Open(PlatformId::kWin95);
  EXPECT_TRUE(dialog.At(kIdcClientActive).visible) << "otherwise no control could ever be enabled";
  EXPECT_TRUE(Enabled(kIdcClientActive));
  Click(kIdcClientActive);
  EXPECT_TRUE(Enabled(kIdcClientBroadcast));
}

TEST_F(ClientPageTest, WindowsNtNeverHidesTheActivationBox) {
  record.client_active = 1;
  Open(PlatformId::kWinNt);
  EXPECT_TRUE(dialog.At(kIdcClientActive).visible);
}

}  // namespace
}  // namespace chron
