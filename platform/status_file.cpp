#include "platform/status_file.h"

#include "platform/arguments.h"

namespace chron::platform {

std::string StatusFilePath() {
  std::string path = EnvironmentValue("CHRON_STATUS");
  return !path.empty() ? path : DefaultStatusFilePath();
}

bool IsStatusFolderRefusal(int error) {
  return error == kStatusFolderForeignOwner || error == kStatusFolderOpenToOthers || error == kStatusFolderLink;
}

}  // namespace chron::platform
