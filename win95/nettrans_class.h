// chron95's registry method of adapter discovery: the Windows 95 network classes.
#pragma once

#include "engine/runtime.h"

namespace chron {

// Reads one IPAddress per subkey of SYSTEM\CurrentControlSet\Services\Class\NetTrans
// (indexes 0 to 511). False only when the key cannot be opened.
bool DiscoverAdaptersFromWin95Registry(Runtime& rt);

}  // namespace chron
