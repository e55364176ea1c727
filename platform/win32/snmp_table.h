// Inside platform/win32: the MIB-II IP address table as the system's SNMP extension agent
// (inetmib1.dll) serves it.
#pragma once

#include <vector>

#include "platform/network.h"

namespace chron::platform::win32 {

// Loads inetmib1.dll at run time, calls SnmpExtensionInit and walks the columns ipAdEntAddr,
// ipAdEntIfIndex and ipAdEntNetMask with get-next SnmpExtensionQuery calls into *table: rows in
// the agent's order (ascending address), 127.0.0.1 included. The interface name is "ifIndex <n>":
// the table names no interface. 0, or the error with which the agent or its entry points could
// not be loaded (the table then empty).
int SnmpIpAddressTable(std::vector<InterfaceAddress>* table);

// The IPv4 unicast addresses of GetAdaptersAddresses as the SNMP agent's table gives them
// (InterfaceTableFromAdapterList); empty when the list cannot be read.
std::vector<InterfaceAddress> AdapterListIpAddressTable();

}  // namespace chron::platform::win32
