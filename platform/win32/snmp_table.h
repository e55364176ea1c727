// Inside platform/win32: the MIB-II IP address table as the system's SNMP extension agent
// (inetmib1.dll) serves it.
#pragma once

#include <vector>

#include "platform/network.h"

namespace chron::platform::win32 {

// Loads inetmib1.dll at run time, calls SnmpExtensionInit and walks the columns ipAdEntAddr,
// ipAdEntIfIndex and ipAdEntNetMask with get-next SnmpExtensionQuery calls. Rows in the agent's
// order (ascending address), 127.0.0.1 included; empty when the agent cannot be loaded. The
// interface name is "ifIndex <n>": the table names no interface.
std::vector<InterfaceAddress> SnmpIpAddressTable();

}  // namespace chron::platform::win32
