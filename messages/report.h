// Reporting: catalogue messages (ReportMessage) and the debug trace (Trace).
// In debug mode both go to the console; otherwise messages go to the event log (chronsvc)
// or nowhere (chron95), and trace lines are not printed.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "messages/message.h"
#include "messages/message_ids.h"
#include "platform/event_sink.h"

namespace chron {

enum class ReportTarget {
  kEventLog,  // service mode: the system event log
  kConsole,   // debug mode: "%s\n" on standard output
  kDiscard,   // chron95 without console: formatted and dropped
};

// Process-wide reporting state; set once at start-up before other threads exist.
// SetDebugMode(true) also selects ReportTarget::kConsole.
void SetDebugMode(bool debug);
bool DebugMode();
void SetReportTarget(ReportTarget target);
// The event log used in kEventLog mode (default: the system's, opened per message).
void SetEventSink(platform::EventSink* sink);
// Where console output goes (default: standard output, written at once). For tests.
void SetConsoleWriter(std::function<void(std::string_view)> writer);
void WriteConsole(std::string_view text);

// Formats catalogue entry `id` with `args`; false when the entry does not exist or the
// arguments do not fit its insertions. The stored line break ends the text unless %0 stops it.
bool FormatCatalogueMessage(uint32_t id, std::span<const MessageArg> args, std::string* text);

// Reports catalogue entry `id` with `args`, unchecked: a missing entry or arguments that do not
// fit show as "FormatMessage() = <error>" in debug mode. Code reports through ReportMessage.
void ReportMessageById(uint32_t id, std::span<const MessageArg> args);
inline void ReportMessageById(uint32_t id, std::initializer_list<MessageArg> args = {}) {
  ReportMessageById(id, std::span<const MessageArg>(args.begin(), args.size()));
}

// Reports `message` (msg::k<Name>) with the arguments its insertions need, one per insertion
// in the order %1..%n, as a braced list: texts for text insertions, integers for numbers.
// Any other number or kind of arguments does not compile.
template <InsertionKind... kinds>
void ReportMessage(Message<kinds...> message, typename Message<kinds...>::Args args = {}) {
  ReportMessageById(message.id, args.values());
}

// FormatCatalogueMessage for a typed message.
template <InsertionKind... kinds>
bool FormatCatalogueMessage(Message<kinds...> message, typename Message<kinds...>::Args args, std::string* text) {
  return FormatCatalogueMessage(message.id, args.values(), text);
}

// A trace line, printf-style; printed only in debug mode.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Text of an error (its message(): for a system error the system's text, or "Der Text für
// Systemfehlermeldung %d ist nicht zu finden !"), in a buffer of the calling thread (valid until
// that thread's next call).
const char* SystemErrorText(const std::error_code& error);
// The text of the system's error number `code` (platform::SystemError).
const char* SystemErrorText(uint32_t code);

}  // namespace chron
