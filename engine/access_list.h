// Lists of addresses and prefixes that say who may ask the server (`Server\Allow`,
// `Server\Deny`) and whose broadcasts the client takes (`Client\BroadcastFrom`). A list is a
// text of words separated by blanks, tabs or line breaks, each an IPv4 or IPv6 address with an
// optional prefix length: "10.0.0.0/8 192.168.1.7 fd00::/8 fe80::1%eth0". A bare address is a
// /32 (IPv4) or /128 (IPv6); a zone ("%eth0") is ignored. An IPv4-mapped IPv6 source
// (::ffff:a.b.c.d, as a dual-stack socket reports IPv4 peers) is matched as the IPv4 address.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/network.h"

namespace chron {

struct AddressPrefix {
  uint16_t family = platform::kAfInet;  // kAfInet or kAfInet6
  platform::Ipv6Bytes bytes{};          // network byte order; IPv4 in the first four bytes
  unsigned length = 0;                  // leading bits that count: 0..32 or 0..128
};

class AccessList {
 public:
  // The list of `text`, or false with the first word that is no address or prefix in `bad_word`
  // (a prefix length beyond the family's width, a text after the slash that is no number, a
  // zone on an IPv4 address). A blank text gives an empty list.
  static bool Parse(std::string_view text, AccessList* list, std::string* bad_word);

  // Whether `address` (any port) lies in one of the prefixes.
  bool Contains(const platform::SocketAddress& address) const;

  bool empty() const { return prefixes_.empty(); }

 private:
  std::vector<AddressPrefix> prefixes_;
};

// Who the server answers. Absent lists (std::nullopt: the value is not set or blank) leave
// everyone; with `allow` only its addresses; `deny` wins over `allow`. A list that did not parse
// closes the server for everyone: a mistyped list must not open what it meant to close.
struct ServerAccess {
  std::optional<AccessList> allow;
  std::optional<AccessList> deny;
  bool broken = false;  // `Server\Allow` or `Server\Deny` did not parse

  bool Admits(const platform::SocketAddress& source) const;
};

// The settings' text of a list: absent or blank gives no list (true), a text that parses its
// list (true), one that does not parse false with its offending word.
bool ListOfSetting(const std::optional<std::string>& text, std::optional<AccessList>* list, std::string* bad_word);

}  // namespace chron
