// chron95's registry method of adapter discovery: the Windows 95 network classes.
#pragma once

#include "service/adapters.h"

namespace chron {

// Reads one IPAddress per subkey of SYSTEM\CurrentControlSet\Services\Class\NetTrans
// (indexes 0 to 511). False only when the key cannot be opened.
bool DiscoverAdaptersFromWin95Registry(const DiscoverySource& source, AdapterTable& rows);

}  // namespace chron
