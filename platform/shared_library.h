// Loading a shared library at run time and finding its exports (LoadLibrary/GetProcAddress).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace chron::platform {

class SharedLibrary {
 public:
  // Loads `path`: no error and *out, or the error with the loader's text in *error_text.
  static std::error_code Load(const std::string& path, std::unique_ptr<SharedLibrary>* out, std::string* error_text);
  ~SharedLibrary();  // unloads
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The address of export `name`, or null.
  void* Symbol(const char* name) const;

 private:
  explicit SharedLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

// The directory of the running program ("." when it cannot be found).
std::string ExecutableDirectory();
// Whether `path` names a file this process may read.
bool FileIsReadable(const std::string& path);

}  // namespace chron::platform
