// The interface address table read from the system's adapter list (GetAdaptersAddresses on
// Windows), where the SNMP agent that serves the table cannot be loaded: the same rows the agent's
// ipAddrTable gives, kept apart from the system call so that the choice can be tested anywhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/network.h"

namespace chron::platform {

// The duplicate address detection state of an address, as the adapter list tells it
// (IP_DAD_STATE: invalid, tentative, duplicate, deprecated, preferred).
enum class DadState { kInvalid, kTentative, kDuplicate, kDeprecated, kPreferred };

// One IPv4 unicast address of the adapter list.
struct AdapterListAddress {
  uint32_t address = 0;       // network byte order
  uint8_t prefix_length = 0;  // of the on-link network, for its broadcast address
  uint32_t interface_index = 0;
  std::string interface;      // the interface's name
  bool interface_up = false;  // the interface's operational state is up
  DadState state = DadState::kPreferred;
};

// The rows of interfaces that are up whose address can be used (preferred or deprecated: not
// tentative, duplicate or invalid), one per address (the first found), in ascending address
// order as the agent serves them; 127.0.0.1 is kept, as in the agent's table. The broadcast
// address follows from the prefix (none for a /31 or /32).
std::vector<InterfaceAddress> InterfaceTableFromAdapterList(const std::vector<AdapterListAddress>& rows);

}  // namespace chron::platform
