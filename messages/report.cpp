#include "messages/report.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "messages/catalogue.h"
#include "messages/format.h"
#include "platform/console.h"
#include "platform/error_text.h"

namespace chron {
namespace {

// Set before the other threads start and read by all of them.
std::atomic<bool> g_debug_mode{false};
std::atomic<ReportTarget> g_report_target{ReportTarget::kEventLog};
std::atomic<platform::EventSink*> g_event_sink{nullptr};

// Guards the console writer and keeps each line one piece when several threads print.
std::mutex g_console_mutex;
std::function<void(std::string_view)> g_console_writer;  // empty: standard output

// The system's event log, opened at the first report that needs it and kept to process end
// (never destroyed, so that a thread still reporting during exit finds it intact).
platform::EventSink* SystemEventSink() {
  static platform::EventSink* const sink = platform::OpenSystemEventLog().release();
  return sink;
}

std::string VStringPrintf(const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(length));
  return text;
}

std::string StringPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string StringPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VStringPrintf(format, args);
  va_end(args);
  return text;
}

// The stored line ends are CR LF; a Linux console wants LF alone.
std::string WithConsoleLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

// The event log takes one entry per message; the stored final line break is not part of it.
std::string_view WithoutFinalLineBreak(std::string_view text) {
  if (text.ends_with("\r\n")) text.remove_suffix(2);
  return text;
}

struct EventClass {
  platform::EventType type;
  uint32_t generic_id;  // the "%1%0" entry of the same severity
};

EventClass EventClassOf(uint32_t id) {
  switch (SeverityOf(id)) {
    case Severity::kSuccess: return {platform::EventType::kSuccess, msg::kEventSuccess.id};
    case Severity::kInformational: return {platform::EventType::kInformation, msg::kEventInformation.id};
    case Severity::kWarning: return {platform::EventType::kWarning, msg::kEventWarning.id};
    case Severity::kError: break;
  }
  return {platform::EventType::kError, msg::kEventError.id};
}

}  // namespace

void SetDebugMode(bool debug) {
  g_debug_mode.store(debug);
  if (debug) g_report_target.store(ReportTarget::kConsole);
}

bool DebugMode() { return g_debug_mode.load(); }

void SetReportTarget(ReportTarget target) { g_report_target.store(target); }

void SetEventSink(platform::EventSink* sink) { g_event_sink.store(sink); }

void SetConsoleWriter(std::function<void(std::string_view)> writer) {
  std::lock_guard lock(g_console_mutex);
  g_console_writer = std::move(writer);
}

void WriteConsole(std::string_view text) {
  std::lock_guard lock(g_console_mutex);
  if (g_console_writer) {
    g_console_writer(text);
    return;
  }
  platform::WriteText(stdout, text);
  std::fflush(stdout);
}

bool FormatCatalogueMessage(uint32_t id, std::span<const MessageArg> args, std::string* text) {
  std::string formatted;
  const bool ok = FormatCatalogueEntry(id, args, &formatted) == 0;
  if (text != nullptr) *text = std::move(formatted);
  return ok;
}

void ReportMessageById(uint32_t id, std::span<const MessageArg> args) {
  const ReportTarget target = g_report_target.load();
  std::string text;
  const int error = FormatCatalogueEntry(id, args, &text);
  if (error != 0) {
    if (target == ReportTarget::kConsole) WriteConsole(StringPrintf("FormatMessage() = %d\n", error));
    return;
  }
  switch (target) {
    case ReportTarget::kConsole: WriteConsole(WithConsoleLineEnds(text) + "\n"); break;
    case ReportTarget::kEventLog: {
      platform::EventSink* sink = g_event_sink.load();
      if (sink == nullptr) sink = SystemEventSink();
      if (sink == nullptr) return;  // no event log: the message is lost, as a failed open would lose it
      const EventClass event = EventClassOf(id);
      sink->Report(event.type, event.generic_id, WithoutFinalLineBreak(text));
      break;
    }
    case ReportTarget::kDiscard: break;
  }
}

void Trace(const char* format, ...) {
  if (!DebugMode()) return;
  va_list args;
  va_start(args, format);
  std::string line = VStringPrintf(format, args);
  va_end(args);
  WriteConsole(line);
}

const char* SystemErrorText(uint32_t code) {
  return SystemErrorText(platform::SystemError(static_cast<int32_t>(code)));
}

const char* SystemErrorText(const std::error_code& error) {
  // One buffer per thread: a text stays intact while other threads ask for theirs. A plain
  // array, since the MinGW runtime destroys thread_local objects with destructors only after it
  // has freed the thread's storage (a std::string here crashed threads as they ended). It holds
  // any system text: Windows gives at most 4096 UTF-16 units, at most 3 bytes each in UTF-8.
  thread_local char buffer[3 * 4096 + 1];
  const std::string text = error.message();
  const size_t size = std::min(text.size(), sizeof buffer - 1);
  std::memcpy(buffer, text.data(), size);
  buffer[size] = '\0';
  return buffer;
}

}  // namespace chron
