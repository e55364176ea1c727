// The file of the NTS server's cookie keys (FormatServerKeys' text, platform::NtsServerKeysPath),
// so that cookies handed out before a restart still open after it. The file is the service's
// alone (0600 on Linux) and is replaced atomically whenever the ring changes: at start when it is
// missing or broken, and at each rotation (every kServerKeyRotationSeconds, 24 hours).
#pragma once

#include <cstdint>
#include <string>

#include "engine/nts_cookie.h"
#include "engine/nts_session.h"

namespace chron::nts {

// The ring of the file `path` at `now` (Unix seconds). A missing, unreadable or broken file
// (reported: NtsServerKeysBroken; a missing one silently), or a ring due for rotation, gives a
// rotated ring that is written back (NtsServerKeysNotWritable when that fails: the ring is used
// all the same). An empty ring only when the random generator failed.
ServerKeyRing LoadServerKeys(const std::string& path, int64_t now);

// Rotates the ring of `keys` when it is due at `now`, writes it to `path` and hands it to `keys`.
// True when it rotated.
bool RotateServerKeysIfDue(const std::string& path, int64_t now, NtsServerKeys* keys);

}  // namespace chron::nts
