#include "service/version.h"

#include <cstdio>

#include "platform/console.h"

namespace chron {

const char* const kBannerNoticeLines[2] = {
    "Copyright (c) 2026 Die Entwickler des SNTP Zeitdienstes. Alle Rechte vorbehalten.",
    "Aktualisierungen und Unterstützung: siehe README.md des Projekts.",
};

ProductVersion ReadProductVersion() { return {CHRON_VERSION_MAJOR, CHRON_VERSION_MINOR, CHRON_VERSION_BUILD}; }

namespace {

// "%d.%02d", followed by the build as a letter ('a' for 1) after `separator` when it is set.
std::string VersionText(const ProductVersion& v, const char* separator) {
  char text[64];
  if (v.build != 0) {
    std::snprintf(text, sizeof text, "%d.%02d%s%c", v.major, v.minor, separator, 0x60 + v.build);
  } else {
    std::snprintf(text, sizeof text, "%d.%02d", v.major, v.minor);
  }
  return text;
}

}  // namespace

std::string ServiceVersionText(const ProductVersion& v) { return VersionText(v, "."); }

std::string Win95VersionText(const ProductVersion& v) { return VersionText(v, ""); }

void PrintBanner(const char* product, const std::string& version) {
  platform::PrintText(stdout, "\n%s v%s\n%s\n%s\n\n", product, version.c_str(), kBannerNoticeLines[0],
                      kBannerNoticeLines[1]);
  std::fflush(stdout);
}

}  // namespace chron
