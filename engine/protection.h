// The server's and the broadcast client's protection as the settings ask for it, built once at
// start: whom the server answers (Server\Allow, Server\Deny), how often (Server\Rate*), and whose
// broadcasts the client takes (Client\BroadcastFrom). With none of the values set it admits
// everything and limits nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/configuration.h"
#include "engine/access_list.h"
#include "engine/rate_limiter.h"
#include "platform/network.h"

namespace chron {

// A list that did not parse: its value path and the first word that is no address or prefix.
struct ListFault {
  std::string_view path;  // e.g. "Server\\Allow"
  std::string word;
};

struct Protection {
  ServerAccess server;
  // Client\BroadcastFrom: with a list only its senders' broadcasts count; one that did not parse
  // lets none count.
  std::optional<AccessList> broadcast_from;
  bool broadcast_from_broken = false;
  RateLimitSettings rate;
  std::vector<ListFault> faults;  // in the order Allow, Deny, BroadcastFrom

  bool TakesBroadcastFrom(const platform::SocketAddress& sender) const {
    return !broadcast_from_broken && (!broadcast_from || broadcast_from->Contains(sender));
  }
};

Protection ProtectionOf(const Configuration& config);

// Reports each fault (msg::kAddressListInvalid) with its value path and its word as shown text.
void ReportListFaults(const Protection& protection);

}  // namespace chron
