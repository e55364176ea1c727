// Linux implementation of run-time loading: dlopen with immediate binding, symbols kept local.
#include "platform/shared_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error_text.h"

namespace chron::platform {

std::error_code SharedLibrary::Load(const std::string& path, std::unique_ptr<SharedLibrary>* out,
                                    std::string* error_text) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* text = dlerror();
    if (error_text != nullptr) *error_text = text != nullptr ? text : path;
    return SystemError(ENOENT);
  }
  out->reset(new SharedLibrary(handle));
  return {};
}

SharedLibrary::~SharedLibrary() { dlclose(handle_); }

void* SharedLibrary::Symbol(const char* name) const { return dlsym(handle_, name); }

std::string ExecutableDirectory() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  std::string dir(path);
  return dir.substr(0, dir.find_last_of('/'));
}

bool FileIsReadable(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

}  // namespace chron::platform
