// The sheet through CPlApplet on the offscreen platform: pages, typing, arrows, validation,
// OK and Cancel against a hive of the test's own, and pictures of the pages.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>

#include "applet/pages.h"
#include "applet/resources.h"
#include "gui_support.h"

namespace chron::testing {
namespace {

Configuration Stored() {
  Configuration c;
  c.client_active = 1;
  c.client_broadcast = 1;
  c.client_poll_interval = 64;
  c.client_max_diff_second = 180;
  c.client_time_source = "zeit.example.org";
  c.server_active = 1;
  c.server_broadcast = 1;
  c.server_broadcast_interval = 64;
  c.server_time_source = "ntp";
  c.ip_query_type = "REGISTRY";
  return c;
}

class SheetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("CHRON_APPLET_PLATFORM");
    ASSERT_NE(Applet(), nullptr);
    ASSERT_EQ(Applet()(nullptr, CPL_INIT, 0, 0), 1);
  }
  void TearDown() override { unsetenv("CHRON_APPLET_PLATFORM"); }
  TempHive hive;
};

TEST_F(SheetTest, NtLayoutShowsThreeTabsAndTheStoredValues) {
  hive.Store(Stored());
  const std::string before = hive.Bytes();
  RunSheet([&](QDialog& sheet) {
    EXPECT_EQ(sheet.windowTitle(), "Konfiguration - Simple Network Time Protocol Client/Server");
    EXPECT_EQ(sheet.windowIcon().availableSizes(), QList<QSize>{QSize(32, 32)}) << "the applet's icon";
    auto* tabs = sheet.findChild<QTabBar*>("tabs");
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "Server");
    EXPECT_EQ(tabs->tabText(1), "Client");
    EXPECT_EQ(tabs->tabText(2), "Information");
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(sheet.findChild<QPushButton*>("1")->text(), "OK");
    EXPECT_EQ(sheet.findChild<QPushButton*>("2")->text(), "Abbrechen");
    EXPECT_EQ(sheet.findChildren<QPushButton*>().size(), 2) << "no Apply button";
    EXPECT_TRUE(Control<QCheckBox>(sheet, kIddServer, kIdcServerActive)->isChecked());
    EXPECT_EQ(Control<QCheckBox>(sheet, kIddServer, kIdcServerActive)->text(), "SNTP &Server aktivieren");
    EXPECT_TRUE(Control<QRadioButton>(sheet, kIddServer, kIdcServerNtp)->isChecked());
    EXPECT_FALSE(Control<QRadioButton>(sheet, kIddServer, kIdcServerDcf77)->isVisible());
    EXPECT_EQ(Control<QLineEdit>(sheet, kIddServer, kIdcServerInterval)->text(), "64");
    sheet.grab().save(ScreenshotDir() + "/server.png");

    ClickTab(sheet, 1);
    EXPECT_EQ(tabs->currentIndex(), 1);
    EXPECT_TRUE(Control<QCheckBox>(sheet, kIddClient, kIdcClientActive)->isVisible());
    EXPECT_TRUE(Control<QRadioButton>(sheet, kIddClient, kIdcClientBroadcast)->isChecked());
    EXPECT_FALSE(Control<QLineEdit>(sheet, kIddClient, kIdcClientPollInterval)->isEnabled());
    EXPECT_EQ(Control<QLineEdit>(sheet, kIddClient, kIdcClientTimeSource)->text(), "zeit.example.org");
    sheet.grab().save(ScreenshotDir() + "/client.png");

    ClickTab(sheet, 2);
    EXPECT_EQ(Control<QLabel>(sheet, kIddInfo, kIdcInfoVersion)->text(), "v1.01 (980806)");
    sheet.grab().save(ScreenshotDir() + "/information.png");
    PressCancel(sheet);
  });
  EXPECT_EQ(hive.Bytes(), before) << "Cancel leaves the hive untouched";
}

TEST_F(SheetTest, EditsArrowsAndOkReachTheHive) {
  hive.Store(Stored());
  const int32_t result = RunSheet([&](QDialog& sheet) {
    // Server: the interval stepped past 999 by the arrows, then NTP -> local time.
    TypeInto(sheet, kIddServer, kIdcServerInterval, "998");
    ClickArrow(sheet, kIddServer, kIdcServerIntervalSpin, true);
    ClickArrow(sheet, kIddServer, kIdcServerIntervalSpin, true);
    EXPECT_EQ(Control<QLineEdit>(sheet, kIddServer, kIdcServerInterval)->text(), "1000");
    ClickButton(Control<QRadioButton>(sheet, kIddServer, kIdcServerLocal));
    EXPECT_FALSE(Control<QRadioButton>(sheet, kIddServer, kIdcServerNtp)->isChecked());
    // Broadcasts off disables the interval but not its arrows.
    ClickButton(Control<QCheckBox>(sheet, kIddServer, kIdcServerBroadcast));
    EXPECT_FALSE(Control<QLineEdit>(sheet, kIddServer, kIdcServerInterval)->isEnabled());
    EXPECT_TRUE(Control<QWidget>(sheet, kIddServer, kIdcServerIntervalSpin)->isEnabled());

    ClickTab(sheet, 1);
    ClickButton(Control<QRadioButton>(sheet, kIddClient, kIdcClientPoll));
    EXPECT_TRUE(Control<QLineEdit>(sheet, kIddClient, kIdcClientPollInterval)->isEnabled());
    EXPECT_FALSE(Control<QRadioButton>(sheet, kIddClient, kIdcClientBroadcast)->isChecked());
    TypeInto(sheet, kIddClient, kIdcClientTimeSource,
             QString(kTimeSourceMaxBytes + 3, u'a'));  // typing stops at the limit
    EXPECT_EQ(Control<QLineEdit>(sheet, kIddClient, kIdcClientTimeSource)->text().size(), kTimeSourceMaxBytes);
    TypeInto(sheet, kIddClient, kIdcClientTimeSource, "10.1.2.3");
    TypeInto(sheet, kIddClient, kIdcClientPollInterval, " 16x383 ");  // a field of digits takes only digits
    EXPECT_EQ(Control<QLineEdit>(sheet, kIddClient, kIdcClientPollInterval)->text(), "16383");
    ClickArrow(sheet, kIddClient, kIdcClientPollSpin, true);
    ClickArrow(sheet, kIddClient, kIdcClientPollSpin, true);  // stops at the end of the range
    EXPECT_EQ(Control<QLineEdit>(sheet, kIddClient, kIdcClientPollInterval)->text(), "16384");
    ClickButton(Control<QCheckBox>(sheet, kIddClient, kIdcClientMaxDiffActive));
    EXPECT_TRUE(Control<QLineEdit>(sheet, kIddClient, kIdcClientMaxDiff)->isEnabled());
    TypeInto(sheet, kIddClient, kIdcClientMaxDiff, "7200");
    // The arrow keys in the field step as well.
    QTest::keyClick(Control<QLineEdit>(sheet, kIddClient, kIdcClientMaxDiff), Qt::Key_Down);
    EXPECT_EQ(Control<QLineEdit>(sheet, kIddClient, kIdcClientMaxDiff)->text(), "7199");
    ClickButton(Control<QCheckBox>(sheet, kIddClient, kIdcClientRunOnce));
    PressOk(sheet);
  });
  EXPECT_EQ(result, 0);
  bool complete = false;
  const Configuration c = hive.Read(&complete);
  EXPECT_TRUE(complete);
  EXPECT_EQ(c.server_broadcast_interval, 1000u);
  EXPECT_EQ(c.server_broadcast, 0u);
  EXPECT_EQ(c.server_time_source, "LOCAL");
  EXPECT_EQ(c.client_broadcast, 0u);
  EXPECT_EQ(c.client_time_source, "10.1.2.3");
  EXPECT_EQ(c.client_poll_interval, 16384u);
  EXPECT_EQ(c.client_max_diff_second_active, 1u);
  EXPECT_EQ(c.client_max_diff_second, 7199u);
  EXPECT_EQ(c.client_run_once, 1u);
  EXPECT_EQ(c.ip_query_type, "REGISTRY");
}

TEST_F(SheetTest, InvalidValueKeepsThePageUntilCorrected) {
  hive.Store(Stored());
  const std::string before = hive.Bytes();
  MessageSeen empty, range;
  RunSheet([&](QDialog& sheet) {
    ClickTab(sheet, 1);
    ClickButton(Control<QRadioButton>(sheet, kIddClient, kIdcClientPoll));
    TypeInto(sheet, kIddClient, kIdcClientPollInterval, "");
    AnswerNextMessageBox(&empty, "validation.png");
    ClickTab(sheet, 2);
    auto* tabs = sheet.findChild<QTabBar*>("tabs");
    EXPECT_EQ(tabs->currentIndex(), 1) << "the page stays current";
    auto* edit = Control<QLineEdit>(sheet, kIddClient, kIdcClientPollInterval);
    EXPECT_EQ(sheet.focusWidget(), edit);
    // Disabled fields are validated too: OK fails on the disabled deviation field.
    TypeInto(sheet, kIddClient, kIdcClientPollInterval, "64");
    Control<QLineEdit>(sheet, kIddClient, kIdcClientMaxDiff)->setText("0");
    ASSERT_FALSE(Control<QLineEdit>(sheet, kIddClient, kIdcClientMaxDiff)->isEnabled());
    AnswerNextMessageBox(&range);
    PressOk(sheet);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(Control<QLineEdit>(sheet, kIddClient, kIdcClientMaxDiff)->selectedText(), "0");
    PressCancel(sheet);
  });
  EXPECT_TRUE(empty.seen);
  EXPECT_EQ(empty.text, "Geben Sie bitte eine positive ganze Zahl ein.");
  EXPECT_EQ(empty.caption, "Konfiguration - SNTP");
  EXPECT_TRUE(empty.warning_icon);
  EXPECT_EQ(range.text, "Geben Sie bitte eine ganze Zahl zwischen 1 und 7200 ein.");
  EXPECT_EQ(hive.Bytes(), before);
}

TEST_F(SheetTest, TypedTextSelectedAfterFailure) {
  hive.Store(Stored());
  MessageSeen seen;
  RunSheet([&](QDialog& sheet) {
    TypeInto(sheet, kIddServer, kIdcServerInterval, "12x");
    AnswerNextMessageBox(&seen);
    ClickTab(sheet, 1);
    auto* edit = Control<QLineEdit>(sheet, kIddServer, kIdcServerInterval);
    EXPECT_EQ(sheet.focusWidget(), edit);
    EXPECT_EQ(edit->selectedText(), "12x");
    PressCancel(sheet);
  });
  EXPECT_EQ(seen.text, "Geben Sie bitte eine positive ganze Zahl ein.");
}

TEST_F(SheetTest, MissingHiveShowsMessage108AndTheFirstOkCreatesEveryValue) {
  MessageSeen read_error;
  AnswerNextMessageBox(&read_error);
  RunSheet([&](QDialog& sheet) {
    EXPECT_TRUE(read_error.seen) << "shown before the sheet";
    EXPECT_FALSE(Control<QCheckBox>(sheet, kIddServer, kIdcServerActive)->isChecked());
    PressOk(sheet);
  });
  EXPECT_EQ(read_error.text, "Beim Lesen der Konfigurationsdaten ist ein Fehler aufgetreten.");
  bool complete = false;
  const Configuration c = hive.Read(&complete);
  EXPECT_TRUE(complete);
  EXPECT_EQ(c.ip_query_type, "SNMP");
  EXPECT_EQ(c.client_poll_interval, 64u);
  // The next opening has nothing to complain about.
  MessageSeen none;
  AnswerNextMessageBox(&none, {}, 300);
  RunSheet([&](QDialog& sheet) {
    QTest::qWait(350);
    PressCancel(sheet);
  });
  EXPECT_FALSE(none.seen);
}

TEST_F(SheetTest, Windows95LayoutHasNoServerPageAndKeepsServerValues) {
  setenv("CHRON_APPLET_PLATFORM", "win95", 1);
  Configuration stored = Stored();
  stored.server_broadcast_interval = 86400;
  hive.Store(stored);
  RunSheet([&](QDialog& sheet) {
    auto* tabs = sheet.findChild<QTabBar*>("tabs");
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), "Client");
    EXPECT_EQ(tabs->tabText(1), "Information");
    EXPECT_EQ(sheet.findChild<QWidget*>(QString::number(kIddServer)), nullptr);
    EXPECT_FALSE(Control<QCheckBox>(sheet, kIddClient, kIdcClientActive)->isVisible());
    sheet.grab().save(ScreenshotDir() + "/client-win95.png");
    ClickButton(Control<QCheckBox>(sheet, kIddClient, kIdcClientRunOnce));
    PressOk(sheet);
  });
  const Configuration c = hive.Read();
  EXPECT_EQ(c.client_run_once, 1u);
  EXPECT_EQ(c.server_broadcast_interval, 86400u);
  EXPECT_EQ(c.server_time_source, "ntp");
}

TEST_F(SheetTest, Windows95WithStoredClientOffOffersTheActivationBox) {
  setenv("CHRON_APPLET_PLATFORM", "win95", 1);
  Configuration stored = Stored();
  stored.client_active = 0;
  hive.Store(stored);
  RunSheet([&](QDialog& sheet) {
    auto* active = Control<QCheckBox>(sheet, kIddClient, kIdcClientActive);
    EXPECT_TRUE(active->isVisible());
    EXPECT_FALSE(Control<QRadioButton>(sheet, kIddClient, kIdcClientBroadcast)->isEnabled());
    ClickButton(active);
    EXPECT_TRUE(Control<QRadioButton>(sheet, kIddClient, kIdcClientBroadcast)->isEnabled());
    PressOk(sheet);
  });
  EXPECT_EQ(hive.Read().client_active, 1u);
}

TEST_F(SheetTest, InquireAndNewInquireAsTheHostCallsThem) {
  EXPECT_EQ(Applet()(nullptr, CPL_GETCOUNT, 0, 0), 1);
  CPLINFO info{};
  EXPECT_EQ(Applet()(nullptr, CPL_INQUIRE, 0, reinterpret_cast<intptr_t>(&info)), 0);
  EXPECT_EQ(info.idIcon, kIdiApplet);
  EXPECT_EQ(info.idName, kIdsAppletName);
  EXPECT_EQ(info.idInfo, kIdsAppletInfo);
  EXPECT_EQ(Applet()(nullptr, CPL_STOP, 0, 0), 1);
  EXPECT_EQ(Applet()(nullptr, 42, 0, 0), 1);
}

}  // namespace
}  // namespace chron::testing
