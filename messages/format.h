// The Windows insertion syntax of catalogue texts, expanded with the caller's arguments.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "messages/report.h"

namespace chron {

// Windows error codes that formatting fails with (the last error FormatMessage would set).
inline constexpr int kErrorInvalidParameter = 87;  // ERROR_INVALID_PARAMETER: arguments do not fit
inline constexpr int kErrorMessageNotFound = 317;  // ERROR_MR_MID_NOT_FOUND: no such catalogue entry

// Expands `stored`:
//   %1..%99        argument 1..99 as text (the argument must be a text)
//   %n!fmt!        argument n through the printf conversion fmt:  flags "-+ #0", width and
//                  precision (at most 3 digits each), length letters h/l (ignored) and one of
//                  d i u x X o c (integer argument, printed with its full 64-bit value; a negative
//                  value in 32-bit range prints as its 32-bit two's complement for u x X o)
//                  or s (text argument)
//   %0             ends the text here, so the stored final CR LF is not reached
//   %n %r %t       CR LF, CR, tab
//   %<other>       <other> itself: %! gives "!", %. gives ".", %% gives "%"
// Inserted arguments are copied as they are, never expanded again. Arguments beyond the highest
// insertion are ignored. Returns 0, or kErrorInvalidParameter when an insertion has no argument,
// an argument of the wrong kind or a conversion outside the above; then `text` is empty.
int FormatInsertions(std::string_view stored, std::span<const MessageArg> args, std::string* text);

// FormatInsertions over the stored text of catalogue entry `id`; kErrorMessageNotFound when
// the catalogue has no such entry.
int FormatCatalogueEntry(uint32_t id, std::span<const MessageArg> args, std::string* text);

}  // namespace chron
