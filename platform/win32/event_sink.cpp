// Win32 implementation of the event sink: the Application event log under the source "SNTP"
// (RegisterEventSourceW / ReportEventW / DeregisterEventSource, opened for every entry). The
// entry's identifier is one of the "%1%0" entries of the message table, the text its only
// insertion string, so the Event Viewer shows the text with the source's message file.
#include "platform/event_sink.h"
#include "platform/win32/win32.h"

namespace chron::platform {
namespace {

WORD EventLogType(EventType type) {
  switch (type) {
    case EventType::kError: return EVENTLOG_ERROR_TYPE;
    case EventType::kWarning: return EVENTLOG_WARNING_TYPE;
    case EventType::kInformation:
    case EventType::kSuccess: break;
  }
  return EVENTLOG_INFORMATION_TYPE;
}

class WindowsEventLog final : public EventSink {
 public:
  // A source that cannot be opened loses the entry, as the entry is lost when ReportEvent fails.
  void Report(EventType type, uint32_t event_id, std::string_view text) override {
    HANDLE source = RegisterEventSourceW(nullptr, L"SNTP");
    if (source == nullptr) return;
    const std::wstring wide = win32::Widen(text);
    const wchar_t* strings[1] = {wide.c_str()};
    ReportEventW(source, EventLogType(type), 0, event_id, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
  }
};

}  // namespace

std::unique_ptr<EventSink> OpenSystemEventLog() { return std::make_unique<WindowsEventLog>(); }

}  // namespace chron::platform
