// chron95's process frame: the SNTP client alone, as a background process (or in the
// foreground with "-debug"), stopped through the named shutdown event.
#pragma once

#include <string>

namespace chron {

// "-debug" anywhere in the command line, in any case.
bool CommandLineSelectsDebug(const std::string& command_line);

// Program entry of chron95; always returns 0.
int Win95ProgramMain(int argc, char** argv);

}  // namespace chron
