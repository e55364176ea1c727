// The property sheet: reading at opening, pages shown and applied, writing at OK, the watch.
#include "applet/panel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "applet/resources.h"
#include "fake_sheet.h"
#include "tests/testutil/fake_registry.h"

namespace chron {
namespace {

using platform::RegType;
using testing::FakeSheetWindow;
using testing::RecordingRegistry;

constexpr std::string_view kClientKey = "SOFTWARE\\Orbek\\SNTP\\1.01\\Client";
constexpr std::string_view kServerKey = "SOFTWARE\\Orbek\\SNTP\\1.01\\Server";
constexpr std::string_view kProduct = "SOFTWARE\\Orbek\\SNTP\\1.01";

const std::string kMsg108(AppletString(kIdsReadError));
const std::string kMsg109(AppletString(kIdsWriteError));

int PressOk(CSntpPanel& panel, FakeSheetWindow&) { return panel.OnOk() ? 1 : 0; }
int PressCancel(CSntpPanel&, FakeSheetWindow&) { return 0; }

class PanelTest : public ::testing::Test {
 protected:
  // Stores all twelve values, except those named "<key>\\<name>" in `missing`.
  void StoreAll(const std::set<std::string>& missing = {}) {
    struct Stored {
      std::string_view key, name;
      uint32_t number;
      const char* text;  // null for a number
    };
    const Stored values[] = {
        {kClientKey, "Active", 1, nullptr},
        {kClientKey, "Broadcast", 0, nullptr},
        {kClientKey, "RunOnce", 1, nullptr},
        {kClientKey, "MaxDiffSecond", 600, nullptr},
        {kClientKey, "MaxDiffSecondActive", 1, nullptr},
        {kClientKey, "PollInterval", 256, nullptr},
        {kClientKey, "TimeSource", 0, "zeit.example.org"},
        {kServerKey, "Active", 1, nullptr},
        {kServerKey, "Broadcast", 1, nullptr},
        {kServerKey, "BroadcastInterval", 128, nullptr},
        {kServerKey, "TimeSource", 0, "ntp"},
        {kProduct, "IPQueryType", 0, "REGISTRY"},
    };
    for (const Stored& value : values) {
      if (missing.count(RecordingRegistry::Join(value.key, value.name)) != 0) continue;
      if (value.text == nullptr) {
        registry.PutDword(value.key, value.name, value.number);
      } else {
        registry.PutString(value.key, value.name, value.text);
      }
    }
  }

  int Run(FakeSheetWindow::Script script, PlatformId platform = PlatformId::kWinNt) {
    SheetContext context;
    context.registry = &registry;
    context.platform = platform;
    context.shutdown_signalled = shutdown;
    context.window_factory = [this, script](CSntpPanel& panel) {
      windows.push_back(std::make_unique<FakeSheetWindow>(panel, script));
      window = windows.back().get();
      window->timer_available = timer_available;
      return std::unique_ptr<SheetWindow>(std::make_unique<testing::BorrowedSheetWindow>(*window));
    };
    panel = std::make_unique<CSntpPanel>(record, context);
    const int result = panel->RunSheet();
    return result;
  }

  // Writes in the order they were made: "name=type:size".
  std::vector<std::string> WriteLog() const {
    std::vector<std::string> log;
    for (const auto& w : registry.writes) {
      log.push_back(w.key.substr(w.key.rfind('\\') + 1) + "\\" + w.name + "=" +
                    std::to_string(static_cast<uint32_t>(w.type)) + ":" + std::to_string(w.data.size()));
    }
    return log;
  }
  uint32_t WrittenDword(std::string_view key, std::string_view name) {
    const auto v = registry.Stored(key, name);
    if (!v || v->type != RegType::kDword || v->data.size() != 4) {
      ADD_FAILURE() << RecordingRegistry::Join(key, name) << " is no stored dword";
      return 0;
    }
    uint32_t value = 0;
    std::memcpy(&value, v->data.data(), 4);
    return value;
  }
  std::string WrittenString(std::string_view key, std::string_view name) {
    const auto v = registry.Stored(key, name);
    if (!v || v->type != RegType::kSz || v->data.empty() || v->data.back() != 0) {
      ADD_FAILURE() << RecordingRegistry::Join(key, name) << " is no stored text";
      return {};
    }
    return std::string(v->data.begin(), v->data.end() - 1);
  }

  RecordingRegistry registry;
  Configuration record;
  std::function<bool()> shutdown;
  bool timer_available = true;
  FakeSheetWindow* window = nullptr;
  std::vector<std::unique_ptr<FakeSheetWindow>> windows;
  std::unique_ptr<CSntpPanel> panel;  // destroyed before the windows its pages point into
};

TEST_F(PanelTest, PageSetDependsOnThePlatform) {
  Run(PressCancel, PlatformId::kWinNt);
  ASSERT_EQ(panel->pages().size(), 3u);
  EXPECT_EQ(panel->pages()[0]->Template().caption, "Server");
  EXPECT_EQ(panel->pages()[1]->Template().caption, "Client");
  EXPECT_EQ(panel->pages()[2]->Template().caption, "Information");
  EXPECT_TRUE(panel->shown(0));
  EXPECT_FALSE(panel->shown(1));
  Run(PressCancel, PlatformId::kWin95);
  ASSERT_EQ(panel->pages().size(), 2u);
  EXPECT_EQ(panel->pages()[0]->Template().caption, "Client");
  EXPECT_EQ(panel->pages()[1]->Template().caption, "Information");
  EXPECT_EQ(panel->caption(), "Konfiguration - Simple Network Time Protocol Client/Server");
}

TEST_F(PanelTest, MissingProductKeyShowsMessage108OnceAndTheDefaults) {
  record.client_poll_interval = 999;  // left from an earlier opening
  EXPECT_EQ(Run(PressCancel), 0);
  EXPECT_EQ(window->messages_before_run, std::vector<std::string>{kMsg108});
  EXPECT_EQ(window->messages.size(), 1u);
  EXPECT_EQ(record.client_poll_interval, 64u);
  EXPECT_EQ(window->Page(0).At(kIdcServerActive).checked, false);
  EXPECT_TRUE(registry.writes.empty()) << "Cancel writes nothing";
  // Cancel left the hive as it was: the next opening shows the message again.
  Run(PressCancel);
  EXPECT_EQ(window->messages, std::vector<std::string>{kMsg108});
}

TEST_F(PanelTest, OneMissingValueAlsoShows108Once) {
  StoreAll({RecordingRegistry::Join(kClientKey, "RunOnce"), RecordingRegistry::Join(kServerKey, "Active")});
  Run(PressCancel);
  EXPECT_EQ(window->messages, std::vector<std::string>{kMsg108});
}

TEST_F(PanelTest, CompleteHiveShowsNoMessage) {
  StoreAll();
  Run(PressCancel);
  EXPECT_TRUE(window->messages.empty());
  EXPECT_EQ(record.client_poll_interval, 256u);
}

TEST_F(PanelTest, FirstOkCreatesAllTwelveValuesInTableOrderWithTheirTypes) {
  EXPECT_EQ(Run(PressOk), 1);
  const std::vector<std::string> expected = {"Client\\Active=4:4",
                                             "Client\\Broadcast=4:4",
                                             "Client\\RunOnce=4:4",
                                             "Client\\MaxDiffSecond=4:4",
                                             "Client\\MaxDiffSecondActive=4:4",
                                             "Client\\PollInterval=4:4",
                                             "Client\\TimeSource=1:1",
                                             "Server\\Active=4:4",
                                             "Server\\Broadcast=4:4",
                                             "Server\\BroadcastInterval=4:4",
                                             "Server\\TimeSource=1:6",
                                             "1.01\\IPQueryType=1:5"};
  EXPECT_EQ(WriteLog(), expected);
  EXPECT_EQ(WrittenString(kProduct, "IPQueryType"), "SNMP");
  EXPECT_EQ(WrittenDword(kClientKey, "PollInterval"), 64u);
  // The next opening reads everything and shows no message.
  registry.writes.clear();
  Run(PressCancel);
  EXPECT_TRUE(window->messages.empty());
}

TEST_F(PanelTest, OkOnTheServerPageWritesClientValuesAsRead) {
  StoreAll();
  auto script = [](CSntpPanel& panel, FakeSheetWindow& w) {
    w.Page(0).At(kIdcServerInterval).text = "4096";
    return panel.OnOk() ? 1 : 0;
  };
  EXPECT_EQ(Run(script), 1);
  EXPECT_FALSE(panel->shown(1));
  EXPECT_EQ(WrittenDword(kServerKey, "BroadcastInterval"), 4096u);
  EXPECT_EQ(WrittenString(kServerKey, "TimeSource"), "NTP");
  EXPECT_EQ(WrittenDword(kClientKey, "Broadcast"), 0u);
  EXPECT_EQ(WrittenDword(kClientKey, "PollInterval"), 256u);
  EXPECT_EQ(WrittenString(kClientKey, "TimeSource"), "zeit.example.org");
  EXPECT_EQ(WrittenString(kProduct, "IPQueryType"), "REGISTRY");
}

TEST_F(PanelTest, VisitedPagesAreAppliedAtOk) {
  StoreAll();
  auto script = [](CSntpPanel& panel, FakeSheetWindow& w) {
    if (!panel.LeavePage()) return 0;
    panel.ActivatePage(1);
    w.Page(1).At(kIdcClientPollInterval).text = "1024";
    w.Page(1).At(kIdcClientActive).checked = false;
    if (!panel.LeavePage()) return 0;
    panel.ActivatePage(2);
    return panel.OnOk() ? 1 : 0;
  };
  EXPECT_EQ(Run(script), 1);
  EXPECT_EQ(WrittenDword(kClientKey, "PollInterval"), 1024u);
  EXPECT_EQ(WrittenDword(kClientKey, "Active"), 0u);
}

TEST_F(PanelTest, Windows95WritesTheServerValuesUnchanged) {
  StoreAll();
  registry.PutDword(kServerKey, "BroadcastInterval", 86400);  // outside the page's range
  auto script = [](CSntpPanel& panel, FakeSheetWindow& w) {
    w.Page(0).At(kIdcClientPollInterval).text = "32";
    return panel.OnOk() ? 1 : 0;
  };
  EXPECT_EQ(Run(script, PlatformId::kWin95), 1);
  EXPECT_EQ(WrittenDword(kServerKey, "Active"), 1u);
  EXPECT_EQ(WrittenDword(kServerKey, "BroadcastInterval"), 86400u);
  EXPECT_EQ(WrittenString(kServerKey, "TimeSource"), "ntp") << "a page never shown copies nothing";
  EXPECT_EQ(WrittenDword(kClientKey, "PollInterval"), 32u);
}

TEST_F(PanelTest, InvalidCurrentPageBlocksOkAndWritesNothing) {
  StoreAll();
  auto script = [](CSntpPanel& panel, FakeSheetWindow& w) {
    w.Page(0).At(kIdcServerInterval).text = "abc";
    if (panel.OnOk()) return 1;
    EXPECT_EQ(w.Page(0).messages, std::vector<std::string>{"Geben Sie bitte eine positive ganze Zahl ein."});
    return 0;  // the user gives up with Cancel
  };
  EXPECT_EQ(Run(script), 0);
  EXPECT_TRUE(registry.writes.empty());
}

TEST_F(PanelTest, FailedWriteShows109AfterTheSheetClosedAndStillWritesTheRest) {
  StoreAll();
  registry.failing_values = {RecordingRegistry::Join(kClientKey, "PollInterval"),
                             RecordingRegistry::Join(kClientKey, "TimeSource"),
                             RecordingRegistry::Join(kServerKey, "TimeSource")};
  EXPECT_EQ(Run(PressOk), 1);
  EXPECT_EQ(registry.writes.size(), 12u) << "every write attempted";
  EXPECT_EQ(window->messages, std::vector<std::string>{kMsg109});
  EXPECT_TRUE(window->messages_before_run.empty());
  EXPECT_FALSE(window->timer_running) << "the sheet's window was gone before the message";
  EXPECT_EQ(WrittenDword(kServerKey, "BroadcastInterval"), 128u);
  EXPECT_EQ(WrittenString(kProduct, "IPQueryType"), "REGISTRY");
}

TEST_F(PanelTest, BlanksAroundTrimmedTextsAreDroppedAtTheNextOk) {
  StoreAll();
  registry.PutString(kClientKey, "TimeSource", " \tzeit.example.org\t ");
  registry.PutString(kProduct, "IPQueryType", "  registry ");
  registry.PutString(kServerKey, "TimeSource", " LOCAL ");
  Run(PressOk);
  EXPECT_EQ(WrittenString(kClientKey, "TimeSource"), "zeit.example.org");
  EXPECT_EQ(WrittenString(kProduct, "IPQueryType"), "registry");
  EXPECT_EQ(WrittenString(kServerKey, "TimeSource"), "LOCAL") << "Server page shown: its choice is written";
}

TEST_F(PanelTest, WatchTimerRunsEvery100MsWhileTheSheetIsOpen) {
  bool running_inside = false;
  Run([&](CSntpPanel&, FakeSheetWindow& w) {
    running_inside = w.timer_running;
    return 0;
  });
  EXPECT_TRUE(running_inside);
  EXPECT_EQ(window->timer_period, 100u);
  EXPECT_FALSE(window->timer_running);
}

TEST_F(PanelTest, SignalledEventEndsTheSheetWithoutWriting) {
  StoreAll();
  bool signalled = false;
  shutdown = [&] { return signalled; };
  Run([&](CSntpPanel& panel, FakeSheetWindow& w) {
    panel.WatchShutdownEvent();
    EXPECT_EQ(w.quits, 0);
    signalled = true;
    panel.WatchShutdownEvent();
    EXPECT_EQ(w.quits, 1);
    return 0;  // the modal run ends without OK
  });
  EXPECT_TRUE(registry.writes.empty());
}

TEST_F(PanelTest, NoEventHandleOrNoTimerMeansNoWatch) {
  Run([](CSntpPanel& panel, FakeSheetWindow& w) {
    panel.WatchShutdownEvent();
    EXPECT_EQ(w.quits, 0);
    return 0;
  });
  timer_available = false;
  EXPECT_EQ(Run(PressOk), 1) << "the sheet works without its timer";
}

}  // namespace
}  // namespace chron
