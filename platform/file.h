// Files by their paths as the system's own programs name them: UTF-8 text everywhere (on Windows
// converted to UTF-16 for the wide API, so that any path opens, not only those of the ANSI code
// page). Opening and reading; replacing a file as a whole, and the lock of its writers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/error_text.h"

namespace chron::platform {

// std::fopen of the UTF-8 path `path` with `mode` ("rb", "wb", ...): the stream, or null with
// errno set.
std::FILE* OpenFile(const std::string& path, const char* mode);

// What ReadRegularFile tells about the file besides its bytes.
struct FileFacts {
  // Users other than the owner may read or write it (group or other permission bits on Linux;
  // Windows' access lists are not judged: always false there).
  bool shared = false;
  std::string mode;  // the permission bits as octal text ("0644"); empty where there are none
};

// Reads the whole of the regular file `path` (UTF-8) into *text, at most `limit` bytes. Never
// waits for a writer: a FIFO or a device is refused with PlatformError::kNotRegularFile without
// being read. Returns no error, kNotRegularFile, PlatformError::kFileTooLarge, or the system's
// error (errno on Linux, Win32 codes on Windows; a missing file is ENOENT / ERROR_FILE_NOT_FOUND).
// `facts` may be null.
std::error_code ReadRegularFile(const std::string& path, size_t limit, std::string* text, FileFacts* facts = nullptr);

// True for the system's errors that mean "there is no such file" (also a missing directory).
bool IsMissingFileError(const std::error_code& error);

// A text for an error of ReadRegularFile with the limit it was given: the own failures in words
// (kFileTooLarge with the limit), any other the system's text ("Fehler N" where it has none).
std::string FileErrorText(const std::error_code& error, size_t limit);

// Whether ReplaceFileAtomically waits until the new content is on the disk.
enum class FileSync {
  kDurable,  // the data and the replacement itself survive a crash of the machine
  kCached,   // left to the system's cache: for a file of tests, rewritten many times a second
};

// Replaces the file `path` by one holding `text`, atomically: a reader sees the old content or
// the new one, never a part. The new file is written beside the file it replaces and moved over
// it; kDurable flushes the file before the move and makes the move durable (Linux: fsync of the
// file and of its directory; Windows: FlushFileBuffers and a write-through move). A `path` that
// is a symbolic link stays one: the file it leads to is replaced (Linux). The replaced file's
// permission bits (and, where the caller may give it, its owner) carry over; a new file gets
// 0644 (Linux). Returns no error or the system's error; nothing is left behind after a failure.
std::error_code ReplaceFileAtomically(const std::string& path, std::string_view text,
                                      FileSync sync = FileSync::kDurable);

// As ReplaceFileAtomically (kDurable), but the new file is the writer's alone whatever the
// replaced one was: on Linux mode 0600 and owned by the writer; on Windows the rights of its
// folder. For secrets such as the server's cookie keys.
std::error_code ReplacePrivateFile(const std::string& path, std::string_view text);

// Removes the temporary files that ReplaceFileAtomically leaves beside the file `path` when its
// writer is killed before it could move or remove them. Call it only under the FileLock of
// `path`, and only for a file that every writer replaces under that lock: a temporary of a
// writer still at work would go too.
void RemoveLeftTemporaries(const std::string& path);

// The exclusive lock of the writers of the file `path`, held from Acquire until the object ends:
// every process and thread that locks the same file waits for it. Since writers replace the file
// instead of changing it, the lock is on "<file>.lock" beside it (beside a symbolic link's target,
// so that writers through the link and to the file itself exclude each other), created when
// missing (not its directory) and left in place.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { Release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  // Waits for the lock (releasing one held before). No error, or the system's error with no lock
  // held.
  std::error_code Acquire(const std::string& path);

 private:
  void Release();
  intptr_t handle_ = -1;  // the open lock file: a descriptor on Linux, a HANDLE on Windows
};

// The folder where the packages install the documents (docs/ and, on Linux, the README), as the
// applet's Information page names it: the .deb's /usr/share/doc/chron, the MSI's docs folder
// below Program Files\SNTP.
std::string_view InstalledDocumentsFolder();

}  // namespace chron::platform
