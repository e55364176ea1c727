// Product version as compiled in (the version resource of the programs: 1.1.0.0) and the
// version texts of the banners.
#pragma once

#include <string>

namespace chron {

struct ProductVersion {
  int major = 0;
  int minor = 0;
  int build = 0;
};

ProductVersion ReadProductVersion();
// chronsvc: "%d.%02d", or "%d.%02d.%c" with 'a' for build 1, 'b' for build 2 ...
std::string ServiceVersionText(const ProductVersion& version);
// chron95: the same without the point before the letter ("%d.%02d%c").
std::string Win95VersionText(const ProductVersion& version);
// The two product information lines of the banners (rights notice, updates and support).
extern const char* const kBannerNoticeLines[2];
// Prints a program's start-up banner to standard output: an empty line, "<product> v<version>",
// the two notice lines and an empty line.
void PrintBanner(const char* product, const std::string& version);

}  // namespace chron
