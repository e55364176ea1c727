// Linux implementation of the event sink: syslog(3).
#include "platform/event_sink.h"

#include <syslog.h>

#include <climits>

namespace chron::platform {
namespace {

int SyslogLevel(EventType type) {
  switch (type) {
    case EventType::kError: return LOG_ERR;
    case EventType::kWarning: return LOG_WARNING;
    case EventType::kInformation:
    case EventType::kSuccess: break;
  }
  return LOG_INFO;
}

// Entries read "[0xc1000011] <text>": the event identifier the entry is logged under, in the
// form the catalogue writes it, then the text unchanged. The text is passed as an argument,
// never as the format, so a "%" in it arrives as it is.
class SyslogEventSink final : public EventSink {
 public:
  SyslogEventSink() {
    // closelog first drops a connection inherited from a parent process, so that entries go to
    // the /dev/log of this process's own mount namespace.
    closelog();
    openlog("SNTP", LOG_PID, LOG_DAEMON);
  }

  void Report(EventType type, uint32_t event_id, std::string_view text) override {
    const int length = text.size() > INT_MAX ? INT_MAX : static_cast<int>(text.size());
    syslog(LOG_DAEMON | SyslogLevel(type), "[0x%08x] %.*s", static_cast<unsigned>(event_id), length, text.data());
  }
};

}  // namespace

std::unique_ptr<EventSink> OpenSystemEventLog() { return std::make_unique<SyslogEventSink>(); }

}  // namespace chron::platform
