// The sheet of chroncfg.cpl under Wine, opened through CPlApplet and driven by control id:
// values in, validation message boxes, OK writes the registry, Cancel and the named shutdown
// event write nothing; and opened by the Control Panel (control.exe). Pictures of the pages go to <build>/screenshots/.
#include <gtest/gtest.h>

#include "applet/cpl.h"
#include "applet/resources.h"
#include "win32_support.h"

namespace chron::testing {
namespace {

// Page positions of the Windows NT layout.
constexpr int kServer = 0, kClient = 1, kInfo = 2;

void StoreNonDefaults() {
  DeleteProductKey();
  SetString(L"", L"IPQueryType", L"REGISTRY");
  SetDword(L"Client", L"Active", 1);
  SetDword(L"Client", L"Broadcast", 0);
  SetString(L"Client", L"TimeSource", L"10.1.2.3");
  SetDword(L"Client", L"PollInterval", 128);
  SetDword(L"Client", L"MaxDiffSecond", 300);
  SetDword(L"Client", L"MaxDiffSecondActive", 0);
  SetDword(L"Client", L"RunOnce", 0);
  SetDword(L"Server", L"Active", 1);
  SetDword(L"Server", L"Broadcast", 1);
  SetDword(L"Server", L"BroadcastInterval", 64);
  SetString(L"Server", L"TimeSource", L"ntp");
}

class SheetTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CallApplet(CPL_INIT), 1); }
};

TEST_F(SheetTest, ShowsTheStoredValuesAndOkWritesTheEditedOnes) {
  StoreNonDefaults();
  const LONG result = RunSheet([](const Sheet& sheet) {
    EXPECT_EQ(sheet.CurrentPage(), kServer);
    EXPECT_NE(SendMessageW(sheet.window(), WM_GETICON, ICON_SMALL, 0), 0) << "the applet's icon in the title bar";
    EXPECT_TRUE(sheet.Checked(kServer, kIdcServerActive));
    EXPECT_TRUE(sheet.Checked(kServer, kIdcServerNtp));
    EXPECT_FALSE(IsWindowVisible(sheet.Item(kServer, kIdcServerDcf77)));
    EXPECT_EQ(sheet.Text(kServer, kIdcServerInterval), L"64");
    EXPECT_TRUE(sheet.Screenshot("server"));
    sheet.Click(kServer, kIdcServerLocal);
    sheet.SetText(kServer, kIdcServerInterval, L"999");
    sheet.ClickArrow(kServer, kIdcServerIntervalSpin, true);  // plain digits, no thousands separator
    EXPECT_TRUE(WaitFor([&] { return sheet.Text(kServer, kIdcServerInterval) == L"1000"; }));
    sheet.Click(kServer, kIdcServerBroadcast);  // broadcasts off: the interval field goes grey
    EXPECT_TRUE(WaitFor([&] { return !sheet.Enabled(kServer, kIdcServerInterval); }));

    sheet.SelectPage(kClient);
    ASSERT_TRUE(WaitFor([&] { return sheet.CurrentPage() == kClient; }));
    EXPECT_TRUE(sheet.Checked(kClient, kIdcClientPoll));
    EXPECT_EQ(sheet.Text(kClient, kIdcClientTimeSource), L"10.1.2.3");
    EXPECT_EQ(sheet.Text(kClient, kIdcClientPollInterval), L"128");
    EXPECT_FALSE(sheet.Enabled(kClient, kIdcClientMaxDiff));
    sheet.SetText(kClient, kIdcClientTimeSource, L"zeit.example.org");
    sheet.SetText(kClient, kIdcClientPollInterval, L" 1024 ");
    sheet.Click(kClient, kIdcClientMaxDiffActive);
    EXPECT_TRUE(WaitFor([&] { return sheet.Enabled(kClient, kIdcClientMaxDiff); }));
    EXPECT_TRUE(sheet.Screenshot("client"));

    sheet.SelectPage(kInfo);
    ASSERT_TRUE(WaitFor([&] { return sheet.CurrentPage() == kInfo; }));
    EXPECT_EQ(sheet.Text(kInfo, kIdcInfoVersion), L"v1.01 (980806)");
    EXPECT_TRUE(sheet.Screenshot("information"));
    sheet.PressOk();
    EXPECT_TRUE(sheet.WaitClosed());
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(String(L"Server", L"TimeSource"), L"LOCAL");
  EXPECT_EQ(Dword(L"Server", L"BroadcastInterval"), 1000u);
  EXPECT_EQ(Dword(L"Server", L"Broadcast"), 0u);
  EXPECT_EQ(Dword(L"Server", L"Active"), 1u);
  EXPECT_EQ(String(L"Client", L"TimeSource"), L"zeit.example.org");
  EXPECT_EQ(Dword(L"Client", L"PollInterval"), 1024u);
  EXPECT_EQ(Dword(L"Client", L"MaxDiffSecondActive"), 1u);
  EXPECT_EQ(Dword(L"Client", L"MaxDiffSecond"), 300u);
  EXPECT_EQ(Dword(L"Client", L"Broadcast"), 0u);
  EXPECT_EQ(String(L"", L"IPQueryType"), L"REGISTRY");
}

TEST_F(SheetTest, InvalidNumbersAreRefusedWithTheirMessageAndKeepThePage) {
  StoreNonDefaults();
  RunSheet([](const Sheet& sheet) {
    sheet.SelectPage(kClient);
    ASSERT_TRUE(WaitFor([&] { return sheet.CurrentPage() == kClient; }));
    sheet.SetText(kClient, kIdcClientPollInterval, L"5");
    sheet.PressOk();
    // The picture shows the message over the sheet.
    ASSERT_TRUE(WaitFor([&] {
      return FindAppletWindow(GetWindowThreadProcessId(sheet.window(), nullptr), L"Konfiguration - SNTP", true);
    }));
    EXPECT_TRUE(sheet.Screenshot("validation", true));
    MessageSeen range = sheet.AnswerMessageBox();
    EXPECT_EQ(range.text, L"Geben Sie bitte eine ganze Zahl zwischen 16 und 16384 ein.");
    EXPECT_TRUE(WaitFor([&] { return sheet.HasFocus(kClient, kIdcClientPollInterval); }));
    EXPECT_TRUE(IsWindow(sheet.window()));

    sheet.SetText(kClient, kIdcClientMaxDiff, L"");  // disabled, and still validated
    sheet.SetText(kClient, kIdcClientPollInterval, L"64");
    sheet.SelectPage(kInfo);
    MessageSeen empty = sheet.AnswerMessageBox();
    EXPECT_EQ(empty.text, L"Geben Sie bitte eine positive ganze Zahl ein.");
    EXPECT_EQ(empty.caption, L"Konfiguration - SNTP");
    EXPECT_EQ(sheet.CurrentPage(), kClient);
    sheet.PressCancel();
    EXPECT_TRUE(sheet.WaitClosed());
  });
}

TEST_F(SheetTest, CancelWritesNothing) {
  StoreNonDefaults();
  const std::wstring before = Snapshot();
  RunSheet([](const Sheet& sheet) {
    sheet.Click(kServer, kIdcServerActive);
    sheet.SelectPage(kClient);
    ASSERT_TRUE(WaitFor([&] { return sheet.CurrentPage() == kClient; }));
    sheet.SetText(kClient, kIdcClientTimeSource, L"anders.example.org");
    sheet.PressCancel();
    EXPECT_TRUE(sheet.WaitClosed());
  });
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(SheetTest, ShutdownEventClosesItWithoutWriting) {
  StoreNonDefaults();
  const std::wstring before = Snapshot();
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, L"Orbek.SNTP.Shutdown.Event");
  ASSERT_NE(event, nullptr);
  const LONG result = RunSheet([&](const Sheet& sheet) {
    sheet.SetText(kServer, kIdcServerInterval, L"512");
    const DWORD set_at = GetTickCount();
    SetEvent(event);
    EXPECT_TRUE(sheet.WaitClosed(2000));
    EXPECT_LT(GetTickCount() - set_at, 1000u);
  });
  ResetEvent(event);
  CloseHandle(event);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Snapshot(), before);
  MSG quit;
  EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "WM_QUIT posted again to the host";
}

TEST_F(SheetTest, MissingKeyShowsTheReadErrorAndOkCreatesEveryValue) {
  DeleteProductKey();
  RunSheet(
      [](const Sheet& sheet) {
        MessageSeen read = sheet.AnswerMessageBox();
        EXPECT_EQ(read.text, L"Beim Lesen der Konfigurationsdaten ist ein Fehler aufgetreten.");
        ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(sheet.window()) != FALSE; }));
        sheet.PressOk();
        EXPECT_TRUE(sheet.WaitClosed());
      },
      false);
  EXPECT_EQ(Dword(L"Client", L"Active"), 1u);
  EXPECT_EQ(Dword(L"Client", L"Broadcast"), 1u);
  EXPECT_EQ(String(L"Client", L"TimeSource"), L"");
  EXPECT_EQ(Dword(L"Client", L"PollInterval"), 64u);
  EXPECT_EQ(Dword(L"Client", L"MaxDiffSecond"), 180u);
  EXPECT_EQ(Dword(L"Client", L"MaxDiffSecondActive"), 0u);
  EXPECT_EQ(Dword(L"Client", L"RunOnce"), 0u);
  EXPECT_EQ(Dword(L"Server", L"Active"), 0u);
  EXPECT_EQ(Dword(L"Server", L"Broadcast"), 1u);
  EXPECT_EQ(Dword(L"Server", L"BroadcastInterval"), 64u);
  EXPECT_EQ(String(L"Server", L"TimeSource"), L"LOCAL");
  EXPECT_EQ(String(L"", L"IPQueryType"), L"SNMP");
}

TEST_F(SheetTest, ControlPanelOpensIt) {
  StoreNonDefaults();
  const std::wstring before = Snapshot();
  std::wstring command = L"control.exe \"" + ModulePath() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(
      CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  HWND window = nullptr;
  EXPECT_TRUE(WaitFor(
      [&] {
        window = FindWindowW(nullptr, L"Konfiguration - Simple Network Time Protocol Client/Server");
        return window != nullptr && IsWindowVisible(window);
      },
      20000));
  if (window != nullptr) Sheet(window).PressCancel();
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0) << "control.exe ends with the sheet";
  TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  EXPECT_EQ(Snapshot(), before);
}

}  // namespace
}  // namespace chron::testing
