// Inside platform/win32: hands a control request to the running ControlSignalWatcher, from the
// console control routine and from the service control handler.
#pragma once

#include "platform/signals.h"

namespace chron::platform::win32 {

// Calls the watcher's handler (serialised with the other requests). False when no watcher runs.
bool DeliverControlSignal(ControlSignal signal);

}  // namespace chron::platform::win32
