// Linux: arguments and environment are taken as the bytes they are (UTF-8 by convention).
#include "platform/arguments.h"

#include <cstdlib>

namespace chron::platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv, argv + argc}; }

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace chron::platform
