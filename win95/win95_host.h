// chron95's process frame: the SNTP client alone, as a background process (or in the
// foreground with "-debug"), stopped through the named shutdown event.
#pragma once

#include <string>
#include <system_error>

namespace chron {

// "-debug" anywhere in the command line, in any case.
bool CommandLineSelectsDebug(const std::string& command_line);

// The message box text for a failed registration as a background (service) process: the system
// module or its entry point missing (platform::PlatformError::kNoServiceProcessModule,
// kNoServiceProcessEntry: the error's own text), or the registration refused (any other error).
std::string RegistrationFailureText(const std::error_code& error);

// Shows that text in chron95's message box; a refused registration is also reported (0xc1000035).
void ReportRegistrationFailure(const std::error_code& error);

// Program entry of chron95; always returns 0.
int Win95ProgramMain(int argc, char** argv);

}  // namespace chron
