// Opening and reading a file by its path as the system's own programs name it: UTF-8 text
// everywhere (on Windows converted to UTF-16 for the wide API, so that any path opens, not only
// those of the ANSI code page).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace chron::platform {

// std::fopen of the UTF-8 path `path` with `mode` ("rb", "wb", ...): the stream, or null with
// errno set.
std::FILE* OpenFile(const std::string& path, const char* mode);

// ReadRegularFile's own failures. Negative, so that they never meet a system error number.
inline constexpr int kNotRegularFile = -1;  // a FIFO, a device, a directory, ...
inline constexpr int kFileTooLarge = -2;    // more bytes than the caller's limit

// What ReadRegularFile tells about the file besides its bytes.
struct FileFacts {
  // Users other than the owner may read or write it (group or other permission bits on Linux;
  // Windows' access lists are not judged: always false there).
  bool shared = false;
  std::string mode;  // the permission bits as octal text ("0644"); empty where there are none
};

// Reads the whole of the regular file `path` (UTF-8) into *text, at most `limit` bytes. Never
// waits for a writer: a FIFO or a device is refused with kNotRegularFile without being read.
// Returns 0, kNotRegularFile, kFileTooLarge, or the system's error (errno on Linux, Win32 codes
// on Windows; a missing file is ENOENT / ERROR_FILE_NOT_FOUND). `facts` may be null.
int ReadRegularFile(const std::string& path, size_t limit, std::string* text, FileFacts* facts = nullptr);

// True for the system's errors that mean "there is no such file" (also a missing directory).
bool IsMissingFileError(int error);

// A text for an error of ReadRegularFile with the limit it was given: the two own failures in
// words, any other the system's text.
std::string FileErrorText(int error, size_t limit);

}  // namespace chron::platform
