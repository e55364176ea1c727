// What the portable clock code (platform/clock.cpp) takes from each system: the real clock's
// reading, and the file operations behind the simulated clock's offset file. Error numbers are
// the system's own (errno values on Linux, Win32 error codes on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace chron::platform::clock_system {

// The real system clock in nanoseconds since 1970-01-01 00:00:00 UTC, and the step in which it
// advances (nanoseconds).
int64_t RealNowNanoseconds();
int64_t RealResolutionNanoseconds();

// The system's error numbers for an offset file that holds no offset (EINVAL) and for a step
// beyond the instants a clock can hold (ERANGE).
extern const int kInvalidContent;
extern const int kOutOfRange;

// Reads at most `limit` bytes from the start of the file `path` (UTF-8) into *text. Returns 0
// with *exists false for a missing file, 0 with *exists true after a read, or the error.
int ReadFileStart(const std::string& path, size_t limit, std::string* text, bool* exists);

// A number that changes whenever the file `path` is replaced or rewritten (identity, size and
// modification time); 0 for a missing file. 0 or the error.
int FileIdentity(const std::string& path, uint64_t* identity);

}  // namespace chron::platform::clock_system
