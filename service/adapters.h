// Discovery of the LAN adapters' IPv4 addresses at start-up: the adapter table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "config/configuration.h"
#include "engine/sockets.h"
#include "platform/network.h"
#include "platform/registry.h"
#include "platform/snmp.h"

namespace chron {

inline constexpr char kUnknownAdapterName[] = "<unbekannt>";

// What discovery reads: the settings (IPQueryType), the system's network (its SNMP agent) and
// the machine hive (the registry methods). Discovery fills the rows of a table it is given,
// clearing them first; sockets are the caller's.
struct DiscoverySource {
  const Configuration& config;
  platform::Network& network;
  platform::Registry* registry;
};
// A registry method of discovery: the Windows NT bindings, or chron95's Windows 95 classes.
using RegistryDiscovery = std::function<bool(const DiscoverySource&, AdapterTable&)>;

// Chooses the method by the trimmed IPQueryType ("SNMP" or "REGISTRY", any case); any other
// value reports 0xc1000038 and leaves the table empty. The caller judges by the rows in use.
bool DiscoverAdapters(const DiscoverySource& source, AdapterTable& rows, const RegistryDiscovery& registry_method);

// Walk of the MIB-II ipAdEntAddr column through the system's SNMP agent; 127.0.0.1 is dropped.
bool DiscoverAdaptersBySnmp(const DiscoverySource& source, AdapterTable& rows);
// The agent's query call, as SnmpAgent::Query takes it.
using SnmpQuery =
    std::function<bool(uint8_t request_type, platform::VarBindList* list, int32_t* error_status, int32_t* error_index)>;
// The get-next walk of ipAdEntAddr: the addresses (network byte order) in the order received,
// at most kMaxWalkedAddresses. Ends when a query fails, the walk leaves the column or does not
// advance, or a value is no IpAddress.
inline constexpr size_t kMaxWalkedAddresses = 1024;
std::vector<uint32_t> WalkIpAddressColumn(const SnmpQuery& query);

// The Windows NT TCP/IP bindings in the machine registry (Tcpip\Linkage\Bind and each
// adapter's Parameters\TCPIP\IpAddress).
bool DiscoverAdaptersFromNtRegistry(const DiscoverySource& source, AdapterTable& rows);

// Clears the in-use flag of every row.
void ClearAdapterTable(AdapterTable& table);
// Fills the next free row; false (and nothing stored) when all 64 rows are in use. A name
// longer than 79 bytes is cut at a character boundary.
bool AddAdapter(AdapterTable& table, std::string_view name, uint32_t address);
int CountAdapters(const AdapterTable& table);

}  // namespace chron
