// Linux implementation of opening a file: paths are bytes, UTF-8 by convention.
#include "platform/file.h"

namespace chron::platform {

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

}  // namespace chron::platform
