// Comparisons without regard to ASCII case, as Windows compares key, value and setting names and
// command-line words: only A-Z and a-z are folded; every other byte (UTF-8 sequences included)
// compares exactly, whatever the C library's locale.
#pragma once

#include <string>
#include <string_view>

namespace chron::platform {

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

constexpr bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// `text` with A-Z turned into a-z: the key under which a name is found whatever its spelling.
inline std::string AsciiLowercase(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = AsciiLower(c);
  return folded;
}

}  // namespace chron::platform
