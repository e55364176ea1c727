// Opening a file by its path as the system's own programs name it: UTF-8 text everywhere (on
// Windows converted to UTF-16 for the wide API, so that any path opens, not only those of the
// ANSI code page).
#pragma once

#include <cstdio>
#include <string>

namespace chron::platform {

// std::fopen of the UTF-8 path `path` with `mode` ("rb", "wb", ...): the stream, or null with
// errno set.
std::FILE* OpenFile(const std::string& path, const char* mode);

}  // namespace chron::platform
