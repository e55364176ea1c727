// Transfer of single fields between a page's controls and its fields, with the validation
// texts of the applet. Each Read* shows its message, gives the control the focus with its
// text selected and returns false when the control's content is invalid.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "applet/dialog.h"

namespace chron {

inline constexpr std::string_view kMsgPositiveInteger = "Geben Sie bitte eine positive ganze Zahl ein.";
inline constexpr std::string_view kMsgIntegerRange = "Geben Sie bitte eine ganze Zahl zwischen %1 und %2 ein.";
inline constexpr std::string_view kMsgMaxChars = "Geben Sie bitte nicht mehr als %1 Zeichen ein.";

// Unsigned decimal number: blanks and tabs around it ignored, an optional plus sign, then at
// least one digit. Values above 4294967295 saturate (they then fail any range check).
// Nothing for an empty text, a minus sign or any other character.
std::optional<uint32_t> ParseUnsigned(std::string_view text);

// Replaces %1 and %2 in `pattern`.
std::string FormatMessageText(std::string_view pattern, std::string_view arg1, std::string_view arg2 = {});

// Flags: ticked is 1, clear is 0; writing ticks the box for a non-zero value.
void WriteCheck(Dialog& dialog, int id, uint32_t value);
uint32_t ReadCheck(Dialog& dialog, int id);

void WriteUnsigned(Dialog& dialog, int id, uint32_t value);
bool ReadUnsigned(Dialog& dialog, int id, uint32_t lower, uint32_t upper, uint32_t* value);

// Texts; the length is counted in bytes, as the registry stores them.
void WriteText(Dialog& dialog, int id, const std::string& text, int max_bytes);
bool ReadText(Dialog& dialog, int id, int max_bytes, std::string* text);

}  // namespace chron
