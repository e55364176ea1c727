// chronsvc's process frame: program entry, service main routine and the control handler.
#pragma once

#include <cstdint>

namespace chron {

inline constexpr uint32_t kServiceControlStop = 1;
inline constexpr uint32_t kServiceControlInterrogate = 4;
// The code a hang-up (SIGHUP) arrives as: not a control the service knows.
inline constexpr uint32_t kServiceControlHangup = 128;

// Program entry of chronsvc; returns the process exit status.
int ServiceProgramMain(int argc, char** argv);

}  // namespace chron
