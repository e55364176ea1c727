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

std::string StatusFolderRefusalText(int error) {
  switch (error) {
    case kStatusFolderForeignOwner: return "weder dem Benutzer des SNTP Dienstes noch root gehört";
    case kStatusFolderOpenToOthers: return "ohne Sticky-Bit auch für andere Benutzer beschreibbar ist";
    case kStatusFolderLink: return "eine symbolische Verknüpfung ist";
    default: return "nicht verwendbar ist";
  }
}

}  // namespace chron::platform
