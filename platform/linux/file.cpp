// Linux implementation of opening and reading files: paths are bytes, UTF-8 by convention.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace chron::platform {

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

int ReadRegularFile(const std::string& path, size_t limit, std::string* text, FileFacts* facts) {
  text->clear();
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer, for ever.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) return errno;
  if (!S_ISREG(info.st_mode)) return kNotRegularFile;
  if (static_cast<unsigned long long>(info.st_size) > limit) return kFileTooLarge;
  if (facts != nullptr) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    facts->mode = mode;
    facts->shared = (info.st_mode & (S_IRWXG | S_IRWXO) & ~(S_IXGRP | S_IXOTH)) != 0;
  }
  // The file may grow while it is read: one byte beyond the limit tells.
  text->resize(limit + 1);
  size_t have = 0;
  while (have < text->size()) {
    const ssize_t n = ::read(fd, text->data() + have, text->size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  if (have > limit) return kFileTooLarge;
  text->resize(have);
  return 0;
}

bool IsMissingFileError(int error) { return error == ENOENT || error == ENOTDIR; }

}  // namespace chron::platform
