// Captures what ReportMessage and Trace produce, for tests of code that reports.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "messages/report.h"
#include "platform/event_sink.h"

namespace chron::testing {

struct CapturedEvent {
  platform::EventType type;
  uint32_t event_id;
  std::string text;
};

// An event log that keeps its entries in memory.
class CapturingEventSink : public platform::EventSink {
 public:
  void Report(platform::EventType type, uint32_t event_id, std::string_view text) override {
    std::lock_guard lock(mutex_);
    events_.push_back({type, event_id, std::string(text)});
  }
  std::vector<CapturedEvent> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<CapturedEvent> events_;
};

// While it lives, reports go to `target`, event-log entries to sink() and console output to
// console() (one element per WriteConsole call). Restores the defaults (event log of the
// system, standard output, no debug mode) when it ends.
class ReportCapture {
 public:
  explicit ReportCapture(ReportTarget target, bool debug = false) {
    SetDebugMode(debug);
    SetReportTarget(target);
    SetEventSink(&sink_);
    SetConsoleWriter([this](std::string_view text) {
      std::lock_guard lock(mutex_);
      console_.emplace_back(text);
    });
  }
  ~ReportCapture() {
    SetConsoleWriter(nullptr);
    SetEventSink(nullptr);
    SetDebugMode(false);
    SetReportTarget(ReportTarget::kEventLog);
  }
  ReportCapture(const ReportCapture&) = delete;
  ReportCapture& operator=(const ReportCapture&) = delete;

  std::vector<std::string> console() const {
    std::lock_guard lock(mutex_);
    return console_;
  }
  // All console output as one text.
  std::string console_text() const {
    std::string all;
    for (const std::string& piece : console()) all += piece;
    return all;
  }
  std::vector<CapturedEvent> events() const { return sink_.events(); }

 private:
  CapturingEventSink sink_;
  mutable std::mutex mutex_;
  std::vector<std::string> console_;
};

}  // namespace chron::testing
