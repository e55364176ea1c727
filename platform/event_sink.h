// The system's event log: where a service's reports go when it runs without a console.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace chron::platform {

enum class EventType { kSuccess, kInformation, kWarning, kError };

class EventSink {
 public:
  virtual ~EventSink() = default;
  // One entry: its type, the event identifier it is logged under and its only text.
  virtual void Report(EventType type, uint32_t event_id, std::string_view text) = 0;
};

// syslog(3) with identifier "SNTP", facility daemon.
std::unique_ptr<EventSink> OpenSystemEventLog();

}  // namespace chron::platform
