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

#include "gui_support.h"

namespace chron::testing {
namespace {

constexpr int kServer = 104, kClient = 103, kInfo = 130;

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
    auto* tabs = sheet.findChild<QTabBar*>("tabs");
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "Server");
    EXPECT_EQ(tabs->tabText(1), "Client");
    EXPECT_EQ(tabs->tabText(2), "Information");
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(sheet.findChild<QPushButton*>("1")->text(), "OK");
    EXPECT_EQ(sheet.findChild<QPushButton*>("2")->text(), "Abbrechen");
    EXPECT_EQ(sheet.findChildren<QPushButton*>().size(), 2) << "no Apply button";
    EXPECT_TRUE(Control<QCheckBox>(sheet, kServer, 1007)->isChecked());
    EXPECT_EQ(Control<QCheckBox>(sheet, kServer, 1007)->text(), "SNTP &Server aktivieren");
    EXPECT_TRUE(Control<QRadioButton>(sheet, kServer, 1011)->isChecked());
    EXPECT_FALSE(Control<QRadioButton>(sheet, kServer, 1010)->isVisible());
    EXPECT_EQ(Control<QLineEdit>(sheet, kServer, 1001)->text(), "64");
    sheet.grab().save(ScreenshotDir() + "/server.png");

    ClickTab(sheet, 1);
    EXPECT_EQ(tabs->currentIndex(), 1);
    EXPECT_TRUE(Control<QCheckBox>(sheet, kClient, 1013)->isVisible());
    EXPECT_TRUE(Control<QRadioButton>(sheet, kClient, 1004)->isChecked());
    EXPECT_FALSE(Control<QLineEdit>(sheet, kClient, 1011)->isEnabled());
    EXPECT_EQ(Control<QLineEdit>(sheet, kClient, 1009)->text(), "zeit.example.org");
    sheet.grab().save(ScreenshotDir() + "/client.png");

    ClickTab(sheet, 2);
    EXPECT_EQ(Control<QLabel>(sheet, kInfo, 1000)->text(), "v1.01 (980806)");
    sheet.grab().save(ScreenshotDir() + "/information.png");
    PressCancel(sheet);
  });
  EXPECT_EQ(hive.Bytes(), before) << "Cancel leaves the hive untouched";
}

TEST_F(SheetTest, EditsArrowsAndOkReachTheHive) {
  hive.Store(Stored());
  const int32_t result = RunSheet([&](QDialog& sheet) {
    // Server: the interval stepped past 999 by the arrows, then NTP -> local time.
    TypeInto(sheet, kServer, 1001, "998");
    ClickArrow(sheet, kServer, 1002, true);
    ClickArrow(sheet, kServer, 1002, true);
    EXPECT_EQ(Control<QLineEdit>(sheet, kServer, 1001)->text(), "1000");
    ClickButton(Control<QRadioButton>(sheet, kServer, 1012));
    EXPECT_FALSE(Control<QRadioButton>(sheet, kServer, 1011)->isChecked());
    // Broadcasts off disables the interval but not its arrows.
    ClickButton(Control<QCheckBox>(sheet, kServer, 1000));
    EXPECT_FALSE(Control<QLineEdit>(sheet, kServer, 1001)->isEnabled());
    EXPECT_TRUE(Control<QWidget>(sheet, kServer, 1002)->isEnabled());

    ClickTab(sheet, 1);
    ClickButton(Control<QRadioButton>(sheet, kClient, 1003));
    EXPECT_TRUE(Control<QLineEdit>(sheet, kClient, 1011)->isEnabled());
    EXPECT_FALSE(Control<QRadioButton>(sheet, kClient, 1004)->isChecked());
    TypeInto(sheet, kClient, 1009, "10.1.2.3");
    TypeInto(sheet, kClient, 1011, " 16383 ");
    ClickArrow(sheet, kClient, 1012, true);
    ClickArrow(sheet, kClient, 1012, true);  // stops at the end of the range
    EXPECT_EQ(Control<QLineEdit>(sheet, kClient, 1011)->text(), "16384");
    ClickButton(Control<QCheckBox>(sheet, kClient, 1023));
    EXPECT_TRUE(Control<QLineEdit>(sheet, kClient, 1016)->isEnabled());
    TypeInto(sheet, kClient, 1016, "7200");
    // The arrow keys in the field step as well.
    QTest::keyClick(Control<QLineEdit>(sheet, kClient, 1016), Qt::Key_Down);
    EXPECT_EQ(Control<QLineEdit>(sheet, kClient, 1016)->text(), "7199");
    ClickButton(Control<QCheckBox>(sheet, kClient, 1008));
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
    ClickButton(Control<QRadioButton>(sheet, kClient, 1003));
    TypeInto(sheet, kClient, 1011, "");
    AnswerNextMessageBox(&empty, "validation.png");
    ClickTab(sheet, 2);
    auto* tabs = sheet.findChild<QTabBar*>("tabs");
    EXPECT_EQ(tabs->currentIndex(), 1) << "the page stays current";
    auto* edit = Control<QLineEdit>(sheet, kClient, 1011);
    EXPECT_EQ(sheet.focusWidget(), edit);
    // Disabled fields are validated too: OK fails on the disabled deviation field.
    TypeInto(sheet, kClient, 1011, "64");
    Control<QLineEdit>(sheet, kClient, 1016)->setText("0");
    ASSERT_FALSE(Control<QLineEdit>(sheet, kClient, 1016)->isEnabled());
    AnswerNextMessageBox(&range);
    PressOk(sheet);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(Control<QLineEdit>(sheet, kClient, 1016)->selectedText(), "0");
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
    TypeInto(sheet, kServer, 1001, "12x");
    AnswerNextMessageBox(&seen);
    ClickTab(sheet, 1);
    auto* edit = Control<QLineEdit>(sheet, kServer, 1001);
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
    EXPECT_FALSE(Control<QCheckBox>(sheet, kServer, 1007)->isChecked());
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
    EXPECT_EQ(sheet.findChild<QWidget*>("104"), nullptr);
    EXPECT_FALSE(Control<QCheckBox>(sheet, kClient, 1013)->isVisible());
    sheet.grab().save(ScreenshotDir() + "/client-win95.png");
    ClickButton(Control<QCheckBox>(sheet, kClient, 1008));
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
    auto* active = Control<QCheckBox>(sheet, kClient, 1013);
    EXPECT_TRUE(active->isVisible());
    EXPECT_FALSE(Control<QRadioButton>(sheet, kClient, 1004)->isEnabled());
    ClickButton(active);
    EXPECT_TRUE(Control<QRadioButton>(sheet, kClient, 1004)->isEnabled());
    PressOk(sheet);
  });
  EXPECT_EQ(hive.Read().client_active, 1u);
}

TEST_F(SheetTest, InquireAndNewInquireAsTheHostCallsThem) {
  EXPECT_EQ(Applet()(nullptr, CPL_GETCOUNT, 0, 0), 1);
  CPLINFO info{};
  EXPECT_EQ(Applet()(nullptr, CPL_INQUIRE, 0, reinterpret_cast<intptr_t>(&info)), 0);
  EXPECT_EQ(info.idIcon, 129);
  EXPECT_EQ(info.idName, 110);
  EXPECT_EQ(info.idInfo, 111);
  EXPECT_EQ(Applet()(nullptr, CPL_STOP, 0, 0), 1);
  EXPECT_EQ(Applet()(nullptr, 42, 0, 0), 1);
}

}  // namespace
}  // namespace chron::testing
