// What ReportMessage really hands to syslog(3), caught at a /dev/log of the test's own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messages/report.h"
#include "tests/testutil/syslog_capture.h"

namespace chron {
namespace {

using testing::CaptureSyslog;
using testing::ParseSyslogDatagram;
using testing::SyslogRecord;

constexpr int kDaemon = 3 << 3;  // LOG_DAEMON
constexpr int kErr = 3, kWarning = 4, kInfo = 6;

std::vector<SyslogRecord> Parse(const testing::SyslogCapture& capture) {
  std::vector<SyslogRecord> records;
  for (const std::string& datagram : capture.datagrams) {
    SyslogRecord record;
    EXPECT_TRUE(ParseSyslogDatagram(datagram, &record)) << datagram;
    records.push_back(record);
  }
  return records;
}

TEST(EventLogTest, ServiceModeReachesSyslogWithIdentifierPriorityAndText) {
  const auto capture = CaptureSyslog([] {
    SetReportTarget(ReportTarget::kEventLog);
    SetEventSink(nullptr);  // the system's event log
    ReportMessage(msg::kNoUsableAdapter);
    ReportMessage(msg::kAlreadyRunning);
    ReportMessage(msg::kBroadcastInterval, {int64_t{64}});
    ReportMessage(msg::kAdapterReady, {std::string("eth0"), std::string("10.1.2.3")});
    ReportMessageById(0x81000036, {std::string("ignored")});
    ReportMessage(msg::kWinsockError, {std::string("SNTP-Network"), std::string("100% %s %n"), int64_t{10054}});
    ReportMessageById(0x41000020);  // not in the catalogue: lost
  });
  if (!capture.available) GTEST_SKIP() << "cannot capture syslog: " << capture.reason;
  ASSERT_EQ(capture.exit_status, 0);
  const auto records = Parse(capture);
  ASSERT_EQ(records.size(), 6u);
  for (const SyslogRecord& record : records) {
    EXPECT_EQ(record.identifier, "SNTP");
    EXPECT_EQ(record.pid, capture.child_pid);
  }
  EXPECT_EQ(records[0].priority, kDaemon + kErr);
  EXPECT_EQ(records[0].message,
            "[0xc1000011] SNTP-Init: Es konnte keine Netzwerkkarte gefunden werden, die f\xc3\xbcr die Benutzung "
            "mit dem SNTP Dienst verwendbar ist.");
  EXPECT_EQ(records[1].priority, kDaemon + kWarning);
  EXPECT_EQ(records[1].message, "[0x81000012] SNTP-Init: Der SNTP Dienst ist bereits aktiv.");
  EXPECT_EQ(records[2].priority, kDaemon + kInfo);
  EXPECT_EQ(records[2].message, "[0x41000014] SNTP-Server: NTP Broadcasts werden alle 64 Sekunden verschickt.");
  EXPECT_EQ(records[3].priority, kDaemon + kInfo);
  EXPECT_EQ(records[3].message, "[0x01000013] SNTP-Init: Der Netzwerkadapter eth0 (10.1.2.3) ist betriebsbereit.");
  EXPECT_EQ(records[4].priority, kDaemon + kWarning);
  EXPECT_EQ(records[4].message,
            "[0x81000012] SNTP-Init: Es konnte nicht festgestellt werden, ob der SNTP Dienst bereits aktiv ist.");
  EXPECT_EQ(records[5].message, "[0xc1000011] SNTP-Network: Winsock Funktion 100% %s %n meldet Fehler: 10054")
      << "a % in an inserted text is never taken as a format";
}

TEST(EventLogTest, DebugModeAndDiscardWriteNothingToSyslog) {
  const auto capture = CaptureSyslog([] {
    SetEventSink(nullptr);
    SetConsoleWriter([](std::string_view) {});
    SetDebugMode(true);
    ReportMessage(msg::kServicePreparing);
    SetDebugMode(false);
    SetReportTarget(ReportTarget::kDiscard);
    ReportMessage(msg::kServiceRegistrationFailed);
    SetReportTarget(ReportTarget::kEventLog);
    ReportMessage(msg::kServiceStopped);  // proves the capture works in this child
  });
  if (!capture.available) GTEST_SKIP() << "cannot capture syslog: " << capture.reason;
  ASSERT_EQ(capture.exit_status, 0);
  const auto records = Parse(capture);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "[0x41000014] SNTP-Shutdown: Der SNTP Dienst wurde beendet.");
}

}  // namespace
}  // namespace chron
