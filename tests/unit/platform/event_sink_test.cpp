// The syslog event sink, caught at a /dev/log of the test's own.
#include "platform/event_sink.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/testutil/syslog_capture.h"

namespace chron::platform {
namespace {

using chron::testing::CaptureSyslog;
using chron::testing::ParseSyslogDatagram;
using chron::testing::SyslogRecord;

TEST(SyslogEventSinkTest, PriorityIdentifierAndVerbatimText) {
  const auto capture = CaptureSyslog([] {
    auto sink = OpenSystemEventLog();
    sink->Report(EventType::kError, 0xc1000011, "Fehler");
    sink->Report(EventType::kWarning, 0x81000012, "Warnung");
    sink->Report(EventType::kInformation, 0x41000014, "Info");
    sink->Report(EventType::kSuccess, 0x01000013, "Erfolg");
    sink->Report(EventType::kInformation, 0x41000014, std::string_view("%s %n %% \xc3\xa4 [x]\tEnde\nzweite Zeile"));
    sink->Report(EventType::kInformation, 0x41000014, std::string_view("abcdef", 3));
  });
  if (!capture.available) GTEST_SKIP() << "cannot capture syslog: " << capture.reason;
  ASSERT_EQ(capture.exit_status, 0);
  ASSERT_EQ(capture.datagrams.size(), 6u);
  const int kDaemon = 3 << 3;
  const struct {
    int priority;
    const char* message;
  } expected[] = {
      {kDaemon + 3, "[0xc1000011] Fehler"},
      {kDaemon + 4, "[0x81000012] Warnung"},
      {kDaemon + 6, "[0x41000014] Info"},
      {kDaemon + 6, "[0x01000013] Erfolg"},
      {kDaemon + 6, "[0x41000014] %s %n %% \xc3\xa4 [x]\tEnde\nzweite Zeile"},
      {kDaemon + 6, "[0x41000014] abc"},
  };
  for (size_t i = 0; i < capture.datagrams.size(); ++i) {
    SyslogRecord record;
    ASSERT_TRUE(ParseSyslogDatagram(capture.datagrams[i], &record)) << capture.datagrams[i];
    EXPECT_EQ(record.identifier, "SNTP");
    EXPECT_EQ(record.pid, capture.child_pid);
    EXPECT_EQ(record.priority, expected[i].priority) << i;
    EXPECT_EQ(record.message, expected[i].message);
  }
}

}  // namespace
}  // namespace chron::platform
