#include "platform/status_file.h"

#include "platform/arguments.h"

namespace chron::platform {

std::string StatusFilePath() {
  std::string path = EnvironmentValue("CHRON_STATUS");
  return !path.empty() ? path : DefaultStatusFilePath();
}

bool IsStatusFolderRefusal(const std::error_code& error) {
  return error == PlatformError::kStatusFolderForeignOwner || error == PlatformError::kStatusFolderOpenToOthers ||
         error == PlatformError::kStatusFolderLink;
}

}  // namespace chron::platform
