// CPlApplet's dispatch to the current applet and the SNTP applet's answers.
#include "applet/applet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "applet/resources.h"
#include "fake_sheet.h"
#include "tests/testutil/fake_registry.h"

namespace chron {
namespace {

using testing::FakeSheetWindow;

// The sheet's caption and the two error messages are checked where they are shown.
TEST(Resources, StringTableHasEveryNamedTextAndNoOther) {
  for (int id : {kIdsSheetCaption, kIdsReadError, kIdsWriteError, kIdsMessageBoxCaption}) {
    EXPECT_FALSE(AppletString(id).empty()) << id;
  }
  EXPECT_EQ(AppletString(kIdsAppletName), "SNTP");
  EXPECT_EQ(AppletString(kIdsAppletInfo), "Konfiguration für Simple Network Time Protcol.");
  EXPECT_EQ(AppletString(4711), "");
  EXPECT_STREQ(AppletIconXpm()[0], "32 32 5 1");  // 32 by 32 pixels, 5 colours, 1 character each
}

TEST(Resources, DesktopEntryDescribesTheAppletByString111) {
  std::ifstream entry(CHRON_DESKTOP_ENTRY);
  std::vector<std::string> comments;
  for (std::string line; std::getline(entry, line);) {
    if (line.starts_with("Comment")) comments.push_back(line);
  }
  EXPECT_EQ(comments, std::vector<std::string>{"Comment=" + std::string(AppletString(kIdsAppletInfo))});
}

TEST(CplDispatch, BaseAppletResults) {
  CControlPanelApplet applet;
  ASSERT_EQ(CurrentApplet(), &applet);
  EXPECT_EQ(CplDispatch(nullptr, CPL_INIT, 0, 0), 1);
  EXPECT_EQ(CplDispatch(nullptr, CPL_GETCOUNT, 0, 0), 1);
  EXPECT_EQ(CplDispatch(nullptr, CPL_INQUIRE, 0, 0), 0);
  EXPECT_EQ(CplDispatch(nullptr, CPL_SELECT, 0, 0), 1);
  EXPECT_EQ(CplDispatch(nullptr, CPL_DBLCLK, 0, 0), 0);
  EXPECT_EQ(CplDispatch(nullptr, CPL_STOP, 0, 0), 1);
  EXPECT_EQ(CplDispatch(nullptr, CPL_EXIT, 0, 0), 0);
  EXPECT_EQ(CplDispatch(nullptr, CPL_NEWINQUIRE, 0, 0), 0);
  EXPECT_EQ(CplDispatch(nullptr, 0, 0, 0), 1);
  EXPECT_EQ(CplDispatch(nullptr, CPL_STARTWPARMSA, 0, 0), 0);
  EXPECT_EQ(CplDispatch(nullptr, CPL_STARTWPARMSW, 0, 0), 0);
  EXPECT_EQ(CplDispatch(nullptr, 11, 0, 0), 1);
  EXPECT_EQ(CplDispatch(nullptr, 0x7fffffff, 0, 0), 1);
}

class SntpAppletTest : public ::testing::Test {
 protected:
  SntpAppletTest() : applet(Services()) {}
  AppletServices Services() {
    AppletServices s;
    s.open_registry = [this] {
      ++registry_openings;
      return std::make_unique<testing::RecordingRegistry>();
    };
    s.platform = [] { return PlatformId::kWin95; };
    s.window_factory = [this](CSntpPanel& panel) {
      owner_seen = panel.owner();
      tabs = panel.pages().size();
      return std::make_unique<FakeSheetWindow>(panel, [](CSntpPanel&, FakeSheetWindow&) { return 0; });
    };
    return s;
  }
  int registry_openings = 0;
  void* owner_seen = nullptr;
  size_t tabs = 0;
  CSntpApplet applet;
};

TEST_F(SntpAppletTest, InquireGivesIconNameAndDescription) {
  CPLINFO info{-1, -1, -1, 77};
  EXPECT_EQ(CplDispatch(nullptr, CPL_INQUIRE, 0, reinterpret_cast<intptr_t>(&info)), 0);
  EXPECT_EQ(info.idIcon, kIdiApplet);
  EXPECT_EQ(info.idName, kIdsAppletName);
  EXPECT_EQ(info.idInfo, kIdsAppletInfo);
  EXPECT_EQ(info.lData, 0);
}

TEST_F(SntpAppletTest, NewInquireLeavesTheRecordAsPassed) {
  NEWCPLINFO info;
  std::memset(&info, 0xab, sizeof(info));
  NEWCPLINFO before = info;
  EXPECT_EQ(CplDispatch(nullptr, CPL_NEWINQUIRE, 0, reinterpret_cast<intptr_t>(&info)), 0);
  EXPECT_EQ(std::memcmp(&info, &before, sizeof(info)), 0);
}

TEST_F(SntpAppletTest, DoubleClickRunsTheSheetOnAFreshRegistryEachTime) {
  int owner = 0;
  EXPECT_EQ(CplDispatch(&owner, CPL_DBLCLK, 0, 0), 0);
  EXPECT_EQ(owner_seen, &owner);
  EXPECT_EQ(tabs, 2u) << "Windows 95: Client and Information";
  EXPECT_EQ(CplDispatch(&owner, CPL_DBLCLK, 0, 0), 0);
  EXPECT_EQ(registry_openings, 2);
}

TEST(PlatformFromEnvironment, Win95OnlyWhenAsked) {
  unsetenv("CHRON_APPLET_PLATFORM");
  EXPECT_EQ(PlatformFromEnvironment(), PlatformId::kWinNt);
  setenv("CHRON_APPLET_PLATFORM", "WIN95", 1);
  EXPECT_EQ(PlatformFromEnvironment(), PlatformId::kWin95);
  setenv("CHRON_APPLET_PLATFORM", "nt", 1);
  EXPECT_EQ(PlatformFromEnvironment(), PlatformId::kWinNt);
  unsetenv("CHRON_APPLET_PLATFORM");
}

}  // namespace
}  // namespace chron
