#include "messages/format.h"

#include <cstdio>
#include <variant>
#include <vector>

#include "messages/catalogue.h"
#include "platform/message_table.h"

namespace chron {
namespace {

constexpr size_t kMaxSpecDigits = 3;  // width and precision stay below 1000 characters

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Appends the digits at `spec[*pos]` (at most kMaxSpecDigits) to `format`.
bool CopyNumber(std::string_view spec, size_t* pos, std::string* format) {
  size_t start = *pos;
  while (*pos < spec.size() && IsDigit(spec[*pos])) ++*pos;
  if (*pos - start > kMaxSpecDigits) return false;
  format->append(spec.substr(start, *pos - start));
  return true;
}

template <typename T>
bool AppendPrintf(const std::string& format, T value, std::string* out) {
  int length = std::snprintf(nullptr, 0, format.c_str(), value);
  if (length < 0) return false;
  std::string piece(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(piece.data(), piece.size(), format.c_str(), value);
  piece.resize(static_cast<size_t>(length));
  out->append(piece);
  return true;
}

// Appends `arg` formatted by the printf conversion `spec` (the text between the "!").
bool AppendInsertion(std::string_view spec, const MessageArg& arg, std::string* out) {
  std::string format = "%";
  size_t pos = 0;
  while (pos < spec.size() && std::string_view("-+ #0").find(spec[pos]) != std::string_view::npos) {
    format += spec[pos++];
  }
  if (!CopyNumber(spec, &pos, &format)) return false;
  if (pos < spec.size() && spec[pos] == '.') {
    format += spec[pos++];
    if (!CopyNumber(spec, &pos, &format)) return false;
  }
  while (pos < spec.size() && (spec[pos] == 'h' || spec[pos] == 'l')) ++pos;
  if (pos + 1 != spec.size()) return false;
  const char conversion = spec[pos];

  if (conversion == 's') {
    const auto* text = std::get_if<std::string>(&arg);
    if (text == nullptr) return false;
    return AppendPrintf(format + 's', text->c_str(), out);
  }
  const auto* number = std::get_if<int64_t>(&arg);
  if (number == nullptr) return false;
  const int64_t value = *number;
  switch (conversion) {
    case 'd':
    case 'i': return AppendPrintf(format + "ll" + conversion, static_cast<long long>(value), out);
    case 'u':
    case 'x':
    case 'X':
    case 'o': {
      // The callers pass 32-bit values: -1 as %x is "ffffffff", as on the 32-bit original.
      unsigned long long bits =
          value < 0 && value >= INT32_MIN ? static_cast<uint32_t>(value) : static_cast<unsigned long long>(value);
      return AppendPrintf(format + "ll" + conversion, bits, out);
    }
    case 'c': return AppendPrintf(format + 'c', static_cast<int>(static_cast<unsigned char>(value)), out);
    default: return false;
  }
}

}  // namespace

int FormatInsertions(std::string_view stored, std::span<const MessageArg> args, std::string* text) {
  std::string out;
  size_t i = 0;
  auto fail = [text] {
    text->clear();
    return kErrorInvalidParameter;
  };
  while (i < stored.size()) {
    const char c = stored[i++];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i == stored.size()) break;  // a lone "%" at the very end shows nothing
    const char escape = stored[i++];
    if (escape == '0') break;
    if (IsDigit(escape)) {
      size_t number = static_cast<size_t>(escape - '0');
      if (i < stored.size() && IsDigit(stored[i])) number = number * 10 + static_cast<size_t>(stored[i++] - '0');
      std::string_view spec = "s";
      if (i < stored.size() && stored[i] == '!') {
        const size_t end = stored.find('!', i + 1);
        if (end == std::string_view::npos) return fail();
        spec = stored.substr(i + 1, end - i - 1);
        i = end + 1;
      }
      if (number > args.size() || !AppendInsertion(spec, args[number - 1], &out)) return fail();
      continue;
    }
    switch (escape) {
      case 'n': out += "\r\n"; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      default: out += escape; break;
    }
  }
  *text = std::move(out);
  return 0;
}

int FormatCatalogueEntry(uint32_t id, std::span<const MessageArg> args, std::string* text) {
  // A program that carries the catalogue as its message table has the system format it.
  std::vector<platform::MessageInsertion> insertions;
  for (const MessageArg& arg : args) {
    platform::MessageInsertion& insertion = insertions.emplace_back();
    insertion.is_number = std::holds_alternative<int64_t>(arg);
    if (insertion.is_number) {
      insertion.number = std::get<int64_t>(arg);
    } else {
      insertion.text = std::get<std::string>(arg);
    }
  }
  int status = 0;
  if (platform::FormatFromMessageTable(id, insertions, text, &status)) return status;

  const CatalogueEntry* entry = FindCatalogueEntry(id);
  if (entry == nullptr) {
    text->clear();
    return kErrorMessageNotFound;
  }
  return FormatInsertions(entry->text, args, text);
}

}  // namespace chron
