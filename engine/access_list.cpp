#include "engine/access_list.h"

#include <algorithm>
#include <cstring>

namespace chron {

namespace {

constexpr platform::Ipv6Bytes kMappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};  // ::ffff:0:0/96

bool IsMapped(const platform::Ipv6Bytes& bytes) {
  return std::equal(bytes.begin(), bytes.begin() + 12, kMappedPrefix.begin());
}

// An IPv4-mapped IPv6 prefix of at least 96 bits becomes the IPv4 prefix it stands for.
AddressPrefix Unmapped(AddressPrefix prefix) {
  if (prefix.family != platform::kAfInet6 || prefix.length < 96 || !IsMapped(prefix.bytes)) return prefix;
  AddressPrefix v4;
  std::copy(prefix.bytes.begin() + 12, prefix.bytes.end(), v4.bytes.begin());
  v4.length = prefix.length - 96;
  return v4;
}

bool ParseLength(std::string_view text, unsigned width, unsigned* length) {
  if (text.empty() || text.size() > 3) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > width) return false;
  *length = value;
  return true;
}

bool ParseWord(std::string_view word, AddressPrefix* prefix) {
  const size_t slash = word.find('/');
  std::string_view address = word.substr(0, slash);
  const size_t percent = address.find('%');
  if (percent != std::string_view::npos) {
    if (address.find(':') == std::string_view::npos || percent + 1 == address.size()) return false;
    address = address.substr(0, percent);  // the zone names an interface, not a part of the address
  }
  platform::SocketAddress parsed;
  if (!platform::ParseAddressText(address, &parsed)) return false;
  prefix->family = parsed.family;
  const unsigned width = parsed.family == platform::kAfInet6 ? 128 : 32;
  if (parsed.family == platform::kAfInet6) {
    prefix->bytes = parsed.address6;
  } else {
    std::memcpy(prefix->bytes.data(), &parsed.address, sizeof parsed.address);
  }
  prefix->length = width;
  if (slash != std::string_view::npos && !ParseLength(word.substr(slash + 1), width, &prefix->length)) return false;
  *prefix = Unmapped(*prefix);
  return true;
}

bool Matches(const AddressPrefix& prefix, const AddressPrefix& address) {
  if (prefix.family != address.family) return false;
  const unsigned whole = prefix.length / 8;
  if (!std::equal(prefix.bytes.begin(), prefix.bytes.begin() + whole, address.bytes.begin())) return false;
  const unsigned rest = prefix.length % 8;
  if (rest == 0) return true;
  const auto mask = static_cast<uint8_t>(0xFF00u >> rest);
  return (prefix.bytes[whole] & mask) == (address.bytes[whole] & mask);
}

}  // namespace

bool AccessList::Parse(std::string_view text, AccessList* list, std::string* bad_word) {
  static constexpr std::string_view kBlanks = " \t\r\n";
  AccessList parsed;
  for (size_t at = text.find_first_not_of(kBlanks); at != std::string_view::npos;
       at = text.find_first_not_of(kBlanks, at)) {
    const size_t end = std::min(text.find_first_of(kBlanks, at), text.size());
    const std::string_view word = text.substr(at, end - at);
    AddressPrefix prefix;
    if (!ParseWord(word, &prefix)) {
      *bad_word = std::string(word);
      return false;
    }
    parsed.prefixes_.push_back(prefix);
    at = end;
  }
  *list = std::move(parsed);
  return true;
}

bool AccessList::Contains(const platform::SocketAddress& address) const {
  AddressPrefix source;
  source.family = address.family;
  if (address.family == platform::kAfInet6) {
    source.bytes = address.address6;
    source.length = 128;
  } else {
    std::memcpy(source.bytes.data(), &address.address, sizeof address.address);
    source.length = 32;
  }
  source = Unmapped(source);
  return std::any_of(prefixes_.begin(), prefixes_.end(),
                     [&source](const AddressPrefix& prefix) { return Matches(prefix, source); });
}

bool ServerAccess::Admits(const platform::SocketAddress& source) const {
  if (broken) return false;
  if (deny && deny->Contains(source)) return false;
  return !allow || allow->Contains(source);
}

bool ListOfSetting(const std::optional<std::string>& text, std::optional<AccessList>* list, std::string* bad_word) {
  list->reset();
  if (!text || text->find_first_not_of(" \t\r\n") == std::string::npos) return true;
  AccessList parsed;
  if (!AccessList::Parse(*text, &parsed, bad_word)) return false;
  *list = std::move(parsed);
  return true;
}

}  // namespace chron
