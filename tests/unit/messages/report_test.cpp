#include "messages/report.h"
#include "platform/error_text.h"
#include "platform/event.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/testutil/report_capture.h"

namespace chron {
namespace {

using platform::EventType;
using testing::ReportCapture;

TEST(ReportMessageConsoleTest, PrintsTheTextAndOneLineFeed) {
  ReportCapture capture(ReportTarget::kConsole);
  ReportMessage(msg::kServicePreparing);
  EXPECT_EQ(capture.console(), std::vector<std::string>{"SNTP-Init: Bereite den Start des SNTP Dienstes vor.\n"});
  EXPECT_TRUE(capture.events().empty()) << "nothing goes to the event log in debug mode";
}

TEST(ReportMessageConsoleTest, StoredLineBreaksBecomeLineFeeds) {
  ReportCapture capture(ReportTarget::kConsole);
  ReportMessageById(0x81000036, {std::string("Zugriff verweigert")});
  ReportMessage(msg::kClockModuleDefective, {std::string("dcf.so")});
  EXPECT_EQ(capture.console(),
            (std::vector<std::string>{
                "SNTP-Init: Es konnte nicht festgestellt werden, ob der SNTP Dienst bereits aktiv ist.\n\n",
                "Das Funkuhrmodul dcf.so ist defekt oder f\xc3\xbcr eine andere Programmversion !\n"
                "Es sind nicht alle ben\xc3\xb6tigten Eintrittspunkte vorhanden !\n"}));
}

TEST(ReportMessageConsoleTest, FormattingFailureIsPrintedWithItsErrorCode) {
  ReportCapture capture(ReportTarget::kConsole);
  ReportMessageById(0x41000020);                          // no such entry
  ReportMessageById(0xc1000025);                          // its %1!d! has no argument
  ReportMessageById(0xc1000025, {std::string("10054")});  // text where a number belongs
  ReportMessage(msg::kShutdownPacketFailed, {int64_t{10054}});
  EXPECT_EQ(capture.console(),
            (std::vector<std::string>{"FormatMessage() = 317\n", "FormatMessage() = 87\n", "FormatMessage() = 87\n",
                                      "SNTP-Shutdown: Kann Shutdownpaket nicht senden, Grund: 10054.\n"}));
  EXPECT_TRUE(capture.events().empty());
}

TEST(ReportMessageConsoleTest, DebugModeSelectsTheConsole) {
  ReportCapture capture(ReportTarget::kEventLog);
  SetDebugMode(true);
  EXPECT_TRUE(DebugMode());
  ReportMessage(msg::kNoUsableAdapter);
  EXPECT_EQ(capture.console().size(), 1u);
  EXPECT_TRUE(capture.events().empty());
}

TEST(ReportMessageEventLogTest, LoggedUnderTheGenericIdentifierOfItsSeverity) {
  ReportCapture capture(ReportTarget::kEventLog);
  ReportMessage(msg::kAdapterReady, {std::string("eth0"), std::string("10.0.0.1")});
  ReportMessage(msg::kBroadcastInterval, {int64_t{64}});
  ReportMessage(msg::kAlreadyRunning);
  ReportMessage(msg::kNoUsableAdapter);
  ReportMessageById(0x81000036, {std::string("ignored")});
  const auto events = capture.events();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0].type, EventType::kSuccess);
  EXPECT_EQ(events[0].event_id, 0x01000013u);
  EXPECT_EQ(events[0].text, "SNTP-Init: Der Netzwerkadapter eth0 (10.0.0.1) ist betriebsbereit.");
  EXPECT_EQ(events[1].type, EventType::kInformation);
  EXPECT_EQ(events[1].event_id, 0x41000014u);
  EXPECT_EQ(events[1].text, "SNTP-Server: NTP Broadcasts werden alle 64 Sekunden verschickt.");
  EXPECT_EQ(events[2].type, EventType::kWarning);
  EXPECT_EQ(events[2].event_id, 0x81000012u);
  EXPECT_EQ(events[2].text, "SNTP-Init: Der SNTP Dienst ist bereits aktiv.");
  EXPECT_EQ(events[3].type, EventType::kError);
  EXPECT_EQ(events[3].event_id, 0xc1000011u);
  EXPECT_EQ(events[3].text,
            "SNTP-Init: Es konnte keine Netzwerkkarte gefunden werden, die f\xc3\xbcr die Benutzung mit dem SNTP "
            "Dienst verwendbar ist.");
  EXPECT_EQ(events[4].event_id, 0x81000012u);
  EXPECT_EQ(events[4].text, "SNTP-Init: Es konnte nicht festgestellt werden, ob der SNTP Dienst bereits aktiv ist.")
      << "the entry does not carry the stored final line break";
  EXPECT_TRUE(capture.console().empty());
}

TEST(ReportMessageEventLogTest, UnformattableMessagesAreDropped) {
  ReportCapture capture(ReportTarget::kEventLog);
  ReportMessageById(0x41000020);
  ReportMessageById(0xc100000f, {std::string("SNTP-Network"), std::string("sendto")});
  EXPECT_TRUE(capture.events().empty());
  EXPECT_TRUE(capture.console().empty());
}

TEST(ReportMessageDiscardTest, WritesNothing) {
  ReportCapture capture(ReportTarget::kDiscard);
  ReportMessage(msg::kServiceRegistrationFailed);
  ReportMessageById(0x41000020);
  EXPECT_TRUE(capture.events().empty());
  EXPECT_TRUE(capture.console().empty());
}

TEST(ReportMessageConsoleTest, EachMessageIsOneWriteWhenThreadsReportAtOnce) {
  ReportCapture capture(ReportTarget::kConsole);
  constexpr int kThreads = 4;
  constexpr int kMessages = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kMessages; ++i) ReportMessage(msg::kSetClockFailed, {int64_t{t * 1000 + i}});
    });
  }
  for (auto& thread : threads) thread.join();
  const auto lines = capture.console();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kMessages));
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : lines) {
    const std::string prefix = "SNTP-Client: Beim Stellen der Uhrzeit ist der Fehler ";
    ASSERT_TRUE(line.starts_with(prefix) && line.ends_with(" aufgetreten.\n")) << line;
    const int value = std::stoi(line.substr(prefix.size()));
    EXPECT_EQ(value % 1000, next[value / 1000]++) << "each thread's lines in its own order";
  }
}

TEST(TraceTest, PrintsOnlyInDebugMode) {
  ReportCapture capture(ReportTarget::kConsole, /*debug=*/false);
  Trace("SNTP-Debug: %s %d\n", "aus", 1);
  EXPECT_TRUE(capture.console().empty());
  SetDebugMode(true);
  Trace("SNTP-Init: Teste Ger\xc3\xa4t [%s]...\n", "eth0");
  Trace("%s", std::string(5000, 'x').c_str());
  const auto lines = capture.console();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "SNTP-Init: Teste Ger\xc3\xa4t [eth0]...\n");
  EXPECT_EQ(lines[1], std::string(5000, 'x')) << "long lines are not cut";
}

// The system's own text for ENOENT (2, ERROR_FILE_NOT_FOUND on Windows).
std::string SystemText(int code) {
  std::string text;
  EXPECT_TRUE(platform::SystemErrorMessage(code, &text));
  return text;
}

TEST(SystemErrorTextTest, SystemTextOrFallback) {
  EXPECT_STREQ(SystemErrorText(ENOENT), SystemText(ENOENT).c_str());
  EXPECT_STREQ(SystemErrorText(4000), "Der Text f\xc3\xbcr Systemfehlermeldung 4000 ist nicht zu finden !");
  EXPECT_STREQ(SystemErrorText(0xfffffffeu), "Der Text f\xc3\xbcr Systemfehlermeldung -2 ist nicht zu finden !");
}

TEST(SystemErrorTextTest, EachThreadKeepsItsOwnText) {
  // Events rather than std::latch, whose wait (the MinGW runtime's atomic wait) now and then
  // never woke under Wine.
  platform::Event first_has_text;
  platform::Event second_done;
  std::string first_seen;
  std::string second_seen;
  std::thread first([&] {
    const char* text = SystemErrorText(ENOENT);
    first_has_text.Set();
    second_done.Wait(platform::kInfinite);
    first_seen = text;  // still this thread's text after the other thread asked for its own
  });
  std::thread second([&] {
    first_has_text.Wait(platform::kInfinite);
    second_seen = SystemErrorText(4711);
    second_done.Set();
  });
  first.join();
  second.join();
  EXPECT_EQ(first_seen, SystemText(ENOENT));
  EXPECT_EQ(second_seen, "Der Text f\xc3\xbcr Systemfehlermeldung 4711 ist nicht zu finden !");
}

}  // namespace
}  // namespace chron
