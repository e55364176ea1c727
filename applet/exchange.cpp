// Field transfer and validation of the pages.
#include "applet/exchange.h"

namespace chron {

std::optional<uint32_t> ParseUnsigned(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  size_t begin = 0, end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  if (begin < end && text[begin] == '+') ++begin;
  if (begin == end) return std::nullopt;
  uint64_t value = 0;
  for (size_t i = begin; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > UINT32_MAX) value = UINT32_MAX + uint64_t{1};  // saturate beyond 32 bits
  }
  if (value > UINT32_MAX) return UINT32_MAX;
  return static_cast<uint32_t>(value);
}

std::string FormatMessageText(std::string_view pattern, std::string_view arg1, std::string_view arg2) {
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && (pattern[i + 1] == '1' || pattern[i + 1] == '2')) {
      out += pattern[i + 1] == '1' ? arg1 : arg2;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

void WriteCheck(Dialog& dialog, int id, uint32_t value) { dialog.SetChecked(id, value != 0); }

uint32_t ReadCheck(Dialog& dialog, int id) { return dialog.IsChecked(id) ? 1 : 0; }

void WriteUnsigned(Dialog& dialog, int id, uint32_t value) { dialog.SetText(id, std::to_string(value)); }

static bool Fail(Dialog& dialog, int id, const std::string& message) {
  dialog.ShowWarning(message);
  dialog.FocusAndSelectAll(id);
  return false;
}

bool ReadUnsigned(Dialog& dialog, int id, uint32_t lower, uint32_t upper, uint32_t* value) {
  std::optional<uint32_t> number = ParseUnsigned(dialog.GetText(id));
  if (!number) return Fail(dialog, id, std::string(kMsgPositiveInteger));
  if (*number < lower || *number > upper) {
    return Fail(dialog, id, FormatMessageText(kMsgIntegerRange, std::to_string(lower), std::to_string(upper)));
  }
  *value = *number;
  return true;
}

void WriteText(Dialog& dialog, int id, const std::string& text, int max_bytes) {
  dialog.SetText(id, text);
  dialog.LimitText(id, max_bytes);
}

bool ReadText(Dialog& dialog, int id, int max_bytes, std::string* text) {
  std::string typed = dialog.GetText(id);
  if (typed.size() > static_cast<size_t>(max_bytes)) {
    return Fail(dialog, id, FormatMessageText(kMsgMaxChars, std::to_string(max_bytes)));
  }
  *text = std::move(typed);
  return true;
}

}  // namespace chron
