// Names of the machine-wide named objects the programs share: chron95 waits on the shutdown
// event that chronstop and the applet set; the services hold the instance mutex while they run.
#pragma once

namespace chron {

inline constexpr char kShutdownEventName[] = "Orbek.SNTP.Shutdown.Event";
inline constexpr char kInstanceMutexName[] = "Orbek.SNTP.Active.Mutex";

}  // namespace chron
