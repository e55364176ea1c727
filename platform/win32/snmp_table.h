// Inside platform/win32: the MIB-II IP address table as the system's SNMP extension agent
// (inetmib1.dll) serves it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/network.h"
#include "platform/win32/win32.h"

#include <iphlpapi.h>
// The COM headers that iphlpapi.h draws in define `interface` as `struct`: a field's name here.
#undef interface

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

// Calls `visit` for each unicast address of `family` (AF_INET, AF_INET6) of each adapter that
// GetAdaptersAddresses lists (anycast, multicast and DNS server entries left out), its sockaddr
// not null and of that family. False when the list cannot be read.
bool ForEachUnicastAddress(
    ULONG family, const std::function<void(const IP_ADAPTER_ADDRESSES&, const IP_ADAPTER_UNICAST_ADDRESS&)>& visit);

// The name Windows shows for an adapter ("Ethernet"), else its GUID (AdapterName).
std::string AdapterDisplayName(const IP_ADAPTER_ADDRESSES& adapter);

}  // namespace chron::platform::win32
