#include "service/version.h"

#include <cstdio>

namespace chron {

const char* const kBannerNoticeLines[2] = {
    "Copyright (c) 2026 Die Entwickler des SNTP Zeitdienstes. Alle Rechte vorbehalten.",
    "Aktualisierungen und Unterstützung: siehe README.md des Projekts.",
};

ProductVersion ReadProductVersion() {
  return {CHRON_VERSION_MAJOR, CHRON_VERSION_MINOR, CHRON_VERSION_BUILD};
}

std::string ServiceVersionText(const ProductVersion& v) {
  char text[64];
  if (v.build != 0) {
    std::snprintf(text, sizeof text, "%d.%02d.%c", v.major, v.minor, 0x60 + v.build);
  } else {
    std::snprintf(text, sizeof text, "%d.%02d", v.major, v.minor);
  }
  return text;
}

std::string Win95VersionText(const ProductVersion& v) {
  char text[64];
  if (v.build != 0) {
    std::snprintf(text, sizeof text, "%d.%02d%c", v.major, v.minor, 0x60 + v.build);
  } else {
    std::snprintf(text, sizeof text, "%d.%02d", v.major, v.minor);
  }
  return text;
}

}  // namespace chron
