// The program's arguments and environment values in UTF-8, the encoding of every text of these
// programs. On Windows they are read in UTF-16 (the command line, the environment block), so that
// every character arrives as given, not only those of the ANSI code page; on Linux they are the
// bytes the program was given.
#pragma once

#include <string>
#include <vector>

namespace chron::platform {

// The arguments of the program, the program's own name first. Linux: main's argv as it is.
// Windows: the process's UTF-16 command line, split as the C runtime splits it
// (CommandLineToArgvW); main's argv (ANSI code page, converted) only when that fails.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The value of the environment variable `name` (ASCII); empty when it is not set.
std::string EnvironmentValue(const char* name);

}  // namespace chron::platform
