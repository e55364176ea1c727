// Named mutex that keeps a second instance of a program from running on one machine.
#pragma once

#include <memory>
#include <string_view>
#include <system_error>

namespace chron::platform {

// The mutex exists for as long as its handle does; the operating system frees it when the
// owning process ends in any way, so an abandoned mutex never blocks the next start.
// A "machine" is the network namespace: a test host in a namespace of its own has its own mutexes.
class NamedMutex {
 public:
  // Creates the mutex owned by the caller. No error and *out set when it was free. When another
  // handle (any process) owns it, no error with *already_exists = true and *out empty, as
  // CreateMutex does with ERROR_ALREADY_EXISTS. Any other failure returns the system's error (an
  // errno value on Linux, e.g. ENAMETOOLONG; a Win32 code on Windows) with *out empty.
  static std::error_code Create(std::string_view name, std::unique_ptr<NamedMutex>* out, bool* already_exists);

  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

 private:
  explicit NamedMutex(int handle) : handle_(handle) {}
  int handle_;
};

}  // namespace chron::platform
