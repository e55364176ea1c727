#include "engine/protection.h"

#include "config/keys.h"
#include "messages/report.h"

namespace chron {

namespace {

// Takes the list of `text`; false (with a fault) when it does not parse.
bool TakeList(const std::optional<std::string>& text, std::string_view path, std::optional<AccessList>* list,
              std::vector<ListFault>* faults) {
  std::string word;
  if (ListOfSetting(text, list, &word)) return true;
  faults->push_back({path, word});
  return false;
}

}  // namespace

Protection ProtectionOf(const Configuration& config) {
  Protection p;
  const bool allow = TakeList(config.server_allow, "Server\\Allow", &p.server.allow, &p.faults);
  const bool deny = TakeList(config.server_deny, "Server\\Deny", &p.server.deny, &p.faults);
  p.server.broken = !allow || !deny;
  p.broadcast_from_broken =
      !TakeList(config.client_broadcast_from, "Client\\BroadcastFrom", &p.broadcast_from, &p.faults);
  p.rate.per_source = config.server_rate_limit != 0;
  p.rate.interval = config.server_rate_interval;
  p.rate.burst = config.server_rate_burst;
  p.rate.leak = config.server_rate_leak;
  p.rate.ceiling = config.server_rate_ceiling;
  p.rate = BoundedRateLimitSettings(p.rate);
  return p;
}

void ReportListFaults(const Protection& protection) {
  for (const ListFault& fault : protection.faults) {
    ReportMessage(msg::kAddressListInvalid, {std::string(fault.path), ShownText(fault.word)});
  }
}

}  // namespace chron
