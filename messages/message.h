// A catalogue message as a typed constant: its identifier, and the kinds of its insertions
// %1..%n in its type. The constants themselves (msg::k<Name>) are generated from the catalogue
// into messages/message_ids.h; a report call then compiles only with the arguments its text
// needs: ReportMessage(msg::kWinsockError, {"SNTP-Client", "sendto()", error}).
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace chron {

// An insertion argument: a text (%1) or a 32-bit integer (%1!d!).
using MessageArg = std::variant<std::string, int64_t>;

enum class InsertionKind { kText, kNumber };

// The argument of a text insertion: any text, never a number.
class TextInsertion {
 public:
  TextInsertion(const char* text) : value_(std::string(text)) {}
  TextInsertion(std::string_view text) : value_(std::string(text)) {}
  TextInsertion(const std::string& text) : value_(text) {}
  TextInsertion(std::string&& text) : value_(std::move(text)) {}
  template <typename T>
  requires std::is_arithmetic_v<T> TextInsertion(T)
  = delete;  // a number where the text wants a text
  TextInsertion(std::nullptr_t) = delete;

  MessageArg&& value() && { return std::move(value_); }

 private:
  MessageArg value_;
};

// The argument of a number insertion (%n!d! and the like): an integer, never a text or a bool.
class NumberInsertion {
 public:
  template <std::integral T>
  requires(!std::same_as<std::remove_cv_t<T>, bool>) NumberInsertion(T number) : value_(static_cast<int64_t>(number)) {}

  MessageArg&& value() && { return std::move(value_); }

 private:
  MessageArg value_;
};

template <InsertionKind kind>
using InsertionArgument = std::conditional_t<kind == InsertionKind::kText, TextInsertion, NumberInsertion>;

// The arguments of one message, one per insertion in the order %1..%n; written as a braced
// list at the call site.
template <InsertionKind... kinds>
class MessageArgs {
 public:
  MessageArgs(InsertionArgument<kinds>... args) : values_{std::move(args).value()...} {}

  const std::array<MessageArg, sizeof...(kinds)>& values() const { return values_; }

 private:
  std::array<MessageArg, sizeof...(kinds)> values_;
};

template <InsertionKind... kinds>
struct Message {
  using Args = MessageArgs<kinds...>;
  uint32_t id;
};

}  // namespace chron
