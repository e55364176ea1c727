#include "platform/status_file.h"

#include <cstdlib>

namespace chron::platform {

std::string StatusFilePath() {
  const char* path = std::getenv("CHRON_STATUS");
  return path != nullptr && path[0] != '\0' ? std::string(path) : DefaultStatusFilePath();
}

}  // namespace chron::platform
