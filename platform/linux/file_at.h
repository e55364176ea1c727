// Linux: replacing a file by its name in an open directory, the core of ReplaceFileAtomically.
// Working on the directory's descriptor lets a caller judge the directory first and then write in
// the very directory it judged, whatever happens to the path meanwhile.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/file.h"

namespace chron::platform::linux_file {

// An open descriptor, closed when the object ends.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }

 private:
  void Close();
  int fd_;
};

// What the new file's owner and permission bits are.
enum class NewFileRights {
  kCarryOver,  // those of the regular file it replaces (the owner where the caller may give it); 0644 for a new one
  kOwn,        // 0644, owned by the writer: whatever the name held before is not trusted
  kPrivate,    // 0600, owned by the writer: a secret only the writer may read
};

// Replaces the entry `name` of the directory `dir` by a regular file holding `text`. The new file
// is written under a random name ".<name>.XXXXXX" beside it, created exclusively (never through a
// link planted at that name), and renamed over `name` within `dir`: a symbolic link at `name` is
// replaced, not followed. kDurable flushes the file before the rename and the directory after it.
// 0 or the system's error; nothing is left behind after a failure.
int ReplaceFileAt(int dir, const std::string& name, std::string_view text, FileSync sync, NewFileRights rights);

// Removes the temporaries of `name` (".<name>.XXXXXX", as ReplaceFileAt names them) from `dir` that
// are regular files of this user, last changed `older_than_s` seconds ago or earlier: those of
// writers that ended before they could rename or remove them. 0 (all of them) only where every
// writer of the file holds its lock while it writes and the caller holds that lock too.
void RemoveTemporariesAt(int dir, const std::string& name, int64_t older_than_s);

}  // namespace chron::platform::linux_file
