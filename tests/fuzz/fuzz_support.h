// What every fuzz target shares: a check that ends the run as a finding, and the reports of
// the code under test routed so that a report whose arguments do not fit its catalogue text
// is a finding too.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "messages/report.h"
#include "platform/event_sink.h"

// A broken property: print it and abort, which libFuzzer records as a crash with its input.
#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)

namespace chron::fuzz {

// While it lives, reports and trace go to a console that only checks them (debug mode) or to
// an event log that drops them. With CHRON_FUZZ_TRACE set in the environment the console text
// is also copied to standard error, to follow what one input did.
class CheckedReports {
 public:
  explicit CheckedReports(bool debug) {
    SetDebugMode(debug);
    SetReportTarget(debug ? ReportTarget::kConsole : ReportTarget::kEventLog);
    SetEventSink(&sink_);
    SetConsoleWriter([](std::string_view text) {
      static const bool echo = std::getenv("CHRON_FUZZ_TRACE") != nullptr;
      if (echo) std::fwrite(text.data(), 1, text.size(), stderr);
      // What the reporter writes when a catalogue text cannot take the arguments it was given.
      FUZZ_CHECK(text.find("FormatMessage() = ") == std::string_view::npos);
    });
  }
  ~CheckedReports() {
    SetConsoleWriter(nullptr);
    SetEventSink(nullptr);
    SetDebugMode(false);
    SetReportTarget(ReportTarget::kDiscard);
  }
  CheckedReports(const CheckedReports&) = delete;
  CheckedReports& operator=(const CheckedReports&) = delete;

 private:
  class DroppingSink : public platform::EventSink {
   public:
    void Report(platform::EventType, uint32_t, std::string_view) override {}
  };
  DroppingSink sink_;
};

}  // namespace chron::fuzz
