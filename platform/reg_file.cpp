// Portable part of the registry: the hive in memory and its REGEDIT4 text form.
#include "platform/reg_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/ascii_case.h"

namespace chron::platform {
namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";
constexpr size_t kHexBytesPerLine = 25;  // keeps hex lines near 80 columns, as regedit does

bool HasControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\t'; });
}

// Characters of a UTF-8 name: every byte that does not continue a sequence.
size_t CharacterCount(std::string_view name) {
  return static_cast<size_t>(
      std::count_if(name.begin(), name.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

// Splits a key path into its components; a single trailing backslash is ignored. Returns
// nullptr, or what is wrong with the path (German, for the syntax error report).
const char* SplitPath(std::string_view path, std::vector<std::string_view>* parts) {
  parts->clear();
  if (path.empty()) return nullptr;
  if (path.back() == '\\') path.remove_suffix(1);
  if (HasControl(path)) return "ungültiger Schlüsselname";
  size_t start = 0;
  while (true) {
    size_t end = path.find('\\', start);
    std::string_view part = path.substr(start, end == std::string_view::npos ? end : end - start);
    if (part.empty()) return "ungültiger Schlüsselname";
    if (CharacterCount(part) > kMaxKeyNameCharacters) return "Schlüsselname länger als 255 Zeichen";
    if (parts->size() == kMaxKeyLevels) return "Schlüssel tiefer als 512 Ebenen";
    parts->push_back(part);
    if (end == std::string_view::npos) return nullptr;
    start = end + 1;
  }
}

// Quoted form of a name or text: backslash and double quote escaped, every other byte as is.
void AppendQuoted(std::string_view text, std::string* out) {
  out->push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

// A REG_SZ is written as "text" only when that form gives back the same bytes: exactly one
// zero, at the end, and no line-breaking control characters. Anything else is written as hex(1).
bool QuotableText(const std::vector<uint8_t>& data) {
  if (data.empty() || data.back() != 0) return false;
  std::string_view text(reinterpret_cast<const char*>(data.data()), data.size() - 1);
  return text.find('\0') == std::string_view::npos && !HasControl(text);
}

void AppendHex(const char* prefix, const std::vector<uint8_t>& data, std::string* out) {
  static const char kDigits[] = "0123456789abcdef";
  *out += prefix;
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0) {
      out->push_back(',');
      if (i % kHexBytesPerLine == 0) *out += "\\\n  ";
    }
    out->push_back(kDigits[data[i] >> 4]);
    out->push_back(kDigits[data[i] & 0xf]);
  }
}

bool ParseHexDigits(std::string_view text, uint32_t max_digits, uint32_t* value) {
  if (text.empty() || text.size() > max_digits) return false;
  uint32_t result = 0;
  for (char c : text) {
    uint32_t digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    result = result * 16 + digit;
  }
  *value = result;
  return true;
}

std::string_view TrimSpace(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Reads a quoted text at the start of *text and advances past its closing quote.
bool ParseQuoted(std::string_view* text, std::string* result, std::string* error) {
  result->clear();
  size_t i = 1;  // past the opening quote
  for (; i < text->size(); ++i) {
    char c = (*text)[i];
    if (c == '"') {
      text->remove_prefix(i + 1);
      return true;
    }
    if (c == '\\') {
      if (++i == text->size()) break;
      char next = (*text)[i];
      if (next != '\\' && next != '"') {
        *error = "unbekannte Escape-Folge \\" + std::string(1, next);
        return false;
      }
      c = next;
    }
    result->push_back(c);
  }
  *error = "Anführungszeichen nicht geschlossen";
  return false;
}

// Parses the data part of a value line ("text", dword:..., hex:..., hex(N):...).
bool ParseData(std::string_view text, RegType* type, std::vector<uint8_t>* data, std::string* error) {
  data->clear();
  if (!text.empty() && text.front() == '"') {
    std::string value;
    if (!ParseQuoted(&text, &value, error)) return false;
    if (!TrimSpace(text).empty()) {
      *error = "Zeichen nach dem Wert";
      return false;
    }
    *type = RegType::kSz;
    data->assign(value.begin(), value.end());
    data->push_back(0);
    return true;
  }
  text = TrimSpace(text);
  std::string lower = AsciiLowercase(text.substr(0, std::min<size_t>(text.size(), 16)));
  if (lower.starts_with("dword:")) {
    uint32_t value;
    if (!ParseHexDigits(text.substr(6), 8, &value)) {
      *error = "ungültiger dword-Wert";
      return false;
    }
    *type = RegType::kDword;
    for (int i = 0; i < 4; ++i) data->push_back(static_cast<uint8_t>(value >> (8 * i)));
    return true;
  }
  size_t colon = text.find(':');
  if (lower.starts_with("hex:")) {
    *type = RegType::kBinary;
  } else if (lower.starts_with("hex(") && colon != std::string_view::npos && colon >= 6 && text[colon - 1] == ')') {
    uint32_t number;
    if (!ParseHexDigits(text.substr(4, colon - 5), 8, &number)) {
      *error = "ungültiger Werttyp";
      return false;
    }
    *type = static_cast<RegType>(number);
  } else {
    *error = "unbekannte Art des Wertes";
    return false;
  }
  std::string_view bytes = TrimSpace(text.substr(colon + 1));
  while (!bytes.empty()) {
    size_t comma = bytes.find(',');
    uint32_t byte;
    if (!ParseHexDigits(TrimSpace(bytes.substr(0, comma)), 2, &byte)) {
      *error = "ungültige Hex-Daten";
      return false;
    }
    data->push_back(static_cast<uint8_t>(byte));
    if (comma == std::string_view::npos) break;
    bytes.remove_prefix(comma + 1);
    if (TrimSpace(bytes).empty()) {
      *error = "ungültige Hex-Daten";
      return false;
    }
  }
  return true;
}

}  // namespace

HiveTree::HiveTree() : root_(std::make_unique<Key>()) {}
HiveTree::~HiveTree() = default;
HiveTree::HiveTree(HiveTree&&) noexcept = default;
HiveTree& HiveTree::operator=(HiveTree&&) noexcept = default;

const HiveTree::Key* HiveTree::Find(std::string_view key) const {
  std::vector<std::string_view> parts;
  if (SplitPath(key, &parts) != nullptr) return nullptr;
  const Key* node = root_.get();
  for (std::string_view part : parts) {
    auto it = node->subkeys.find(AsciiLowercase(part));
    if (it == node->subkeys.end()) return nullptr;
    node = it->second.get();
  }
  return node;
}

HiveTree::Key* HiveTree::FindOrCreate(std::string_view key, const char** error) {
  std::vector<std::string_view> parts;
  if (const char* wrong = SplitPath(key, &parts)) {
    if (error != nullptr) *error = wrong;
    return nullptr;
  }
  Key* node = root_.get();
  for (std::string_view part : parts) {
    std::unique_ptr<Key>& child = node->subkeys[AsciiLowercase(part)];
    if (!child) {
      child = std::make_unique<Key>();
      child->name = std::string(part);
    }
    node = child.get();
  }
  return node;
}

// A value of the same name (any case) is replaced in its place; a new one goes last.
void HiveTree::Store(Key* key, std::string name, RegType type, std::vector<uint8_t> data) {
  auto [it, added] = key->value_index.try_emplace(AsciiLowercase(name), key->values.size());
  if (added) {
    key->values.push_back(Value{std::move(name), type, std::move(data)});
  } else {
    key->values[it->second].type = type;
    key->values[it->second].data = std::move(data);
  }
}

RegStatus HiveTree::OpenKey(std::string_view key) const {
  std::vector<std::string_view> parts;
  if (SplitPath(key, &parts) != nullptr) return kRegInvalidParameter;
  return Find(key) ? kRegSuccess : kRegFileNotFound;
}

RegStatus HiveTree::QueryValue(std::string_view key, std::string_view name, RegType* type, void* data,
                               uint32_t* size) const {
  if (data != nullptr && size == nullptr) return kRegInvalidParameter;
  if (RegStatus status = OpenKey(key); status != kRegSuccess) return status;
  const Key* node = Find(key);
  auto found = node->value_index.find(AsciiLowercase(name));
  if (found != node->value_index.end()) {
    const Value& value = node->values[found->second];
    uint32_t stored = static_cast<uint32_t>(value.data.size());
    if (type) *type = value.type;
    if (size == nullptr) return kRegSuccess;
    uint32_t capacity = *size;
    *size = stored;
    if (data == nullptr) return kRegSuccess;
    if (stored > capacity) return kRegMoreData;
    if (stored > 0) std::memcpy(data, value.data.data(), stored);
    return kRegSuccess;
  }
  return kRegFileNotFound;
}

RegStatus HiveTree::EnumKey(std::string_view key, uint32_t index, std::string* name) const {
  if (name == nullptr) return kRegInvalidParameter;
  if (RegStatus status = OpenKey(key); status != kRegSuccess) return status;
  const Key* node = Find(key);
  if (index >= node->subkeys.size()) return kRegNoMoreItems;
  *name = std::next(node->subkeys.begin(), index)->second->name;
  return kRegSuccess;
}

RegStatus HiveTree::SetValue(std::string_view key, std::string_view name, RegType type, const void* data,
                             uint32_t size) {
  if ((data == nullptr && size > 0) || HasControl(name)) return kRegInvalidParameter;
  Key* node = FindOrCreate(key);
  if (node == nullptr) return kRegInvalidParameter;
  const auto* bytes = static_cast<const uint8_t*>(data);
  Store(node, std::string(name), type, std::vector<uint8_t>(bytes, bytes + size));
  return kRegSuccess;
}

RegStatus HiveTree::CreateKey(std::string_view key) { return FindOrCreate(key) ? kRegSuccess : kRegInvalidParameter; }

namespace {

void AppendValue(std::string_view name, RegType type, const std::vector<uint8_t>& data, std::string* out) {
  if (name.empty()) *out += "@";
  else AppendQuoted(name, out);
  out->push_back('=');
  if (type == RegType::kDword && data.size() == 4) {
    char text[16];
    uint32_t number = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
    std::snprintf(text, sizeof text, "dword:%08x", number);
    *out += text;
  } else if (type == RegType::kSz && QuotableText(data)) {
    AppendQuoted(std::string_view(reinterpret_cast<const char*>(data.data()), data.size() - 1), out);
  } else if (type == RegType::kBinary) {
    AppendHex("hex:", data, out);
  } else {
    char prefix[20];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<uint32_t>(type));
    AppendHex(prefix, data, out);
  }
  out->push_back('\n');
}

}  // namespace

// Depth first without recursion: a hive may be as deep as the file says.
std::string HiveTree::Serialize() const {
  using SubkeyIterator = std::map<std::string, std::unique_ptr<Key>>::const_iterator;
  struct Level {
    const Key* key;
    SubkeyIterator next;  // the next subkey to visit
    size_t path_size;     // length of `path` up to this key
  };
  std::string out(kHeader);
  out += "\n";
  std::string path(kRoot);
  std::vector<Level> levels;
  auto enter = [&](const Key& key) {
    // HKEY_LOCAL_MACHINE itself gets a section only when it holds values.
    bool section = !key.values.empty() || (key.subkeys.empty() && !levels.empty());
    if (section) out += "\n[" + path + "]\n";
    for (const Value& value : key.values) AppendValue(value.name, value.type, value.data, &out);
    levels.push_back(Level{&key, key.subkeys.begin(), path.size()});
  };
  enter(*root_);
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.next == level.key->subkeys.end()) {
      levels.pop_back();
      continue;
    }
    const Key& child = *(level.next++)->second;
    path.resize(level.path_size);
    path += '\\';
    path += child.name;
    enter(child);
  }
  return out;
}

bool HiveTree::Parse(std::string_view text, int* error_line, std::string* error) {
  root_ = std::make_unique<Key>();
  if (text.starts_with("\xef\xbb\xbf")) text.remove_prefix(3);  // UTF-8 byte order mark

  std::vector<std::string_view> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }

  auto fail = [&](size_t index, std::string what) {
    root_ = std::make_unique<Key>();
    *error_line = static_cast<int>(index + 1);
    *error = std::move(what);
    return false;
  };

  bool header_seen = false;
  Key* current = nullptr;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = TrimSpace(lines[i]);
    if (line.empty() || line.front() == ';') continue;
    if (!header_seen) {
      if (line != kHeader) return fail(i, "Kopfzeile REGEDIT4 fehlt");
      header_seen = true;
      continue;
    }
    if (line.front() == '[') {
      size_t close = line.rfind(']');
      if (close == std::string_view::npos || !TrimSpace(line.substr(close + 1)).empty())
        return fail(i, "Schlüsselzeile ohne schließende Klammer");
      std::string_view path = line.substr(1, close - 1);
      if (AsciiLowercase(path.substr(0, kRoot.size())) != AsciiLowercase(kRoot) ||
          (path.size() > kRoot.size() && path[kRoot.size()] != '\\'))
        return fail(i, "Schlüssel außerhalb von HKEY_LOCAL_MACHINE");
      path.remove_prefix(std::min(path.size(), kRoot.size() + 1));
      if (!path.empty() && path.back() == '\\') return fail(i, "ungültiger Schlüsselname");
      const char* wrong = nullptr;
      current = FindOrCreate(path, &wrong);
      if (current == nullptr) return fail(i, wrong);
      continue;
    }
    if (line.front() != '"' && line.front() != '@') return fail(i, "unbekannte Zeile");
    if (current == nullptr) return fail(i, "Wert vor dem ersten Schlüssel");

    // A value line continues on the next line while it ends with a backslash.
    size_t first = i;
    std::string joined(line);
    while (!joined.empty() && joined.back() == '\\' && i + 1 < lines.size()) {
      joined.pop_back();
      joined += TrimSpace(lines[++i]);
    }
    std::string_view rest = joined;
    std::string name;
    if (rest.front() == '@') {
      rest.remove_prefix(1);
    } else if (!ParseQuoted(&rest, &name, error)) {
      return fail(first, *error);
    }
    rest = TrimSpace(rest);
    if (rest.empty() || rest.front() != '=') return fail(first, "Gleichheitszeichen fehlt");
    rest = TrimSpace(rest.substr(1));
    RegType type;
    std::vector<uint8_t> data;
    if (!ParseData(rest, &type, &data, error)) return fail(first, *error);
    // Store through the section's key directly; a repeated name replaces the earlier value.
    Store(current, std::move(name), type, std::move(data));
  }
  // A file without any content (for example one just created by `touch`) is an empty hive.
  if (!header_seen && !lines.empty()) {
    bool blank = std::all_of(lines.begin(), lines.end(), [](std::string_view l) { return TrimSpace(l).empty(); });
    if (!blank) return fail(0, "Kopfzeile REGEDIT4 fehlt");
  }
  return true;
}

}  // namespace chron::platform
