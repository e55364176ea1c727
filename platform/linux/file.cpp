// Linux implementation of the file facility: paths are bytes, UTF-8 by convention.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/error_text.h"
#include "platform/linux/file_at.h"

namespace chron::platform {
namespace {

using linux_file::Descriptor;

// The file that `path` leads to: the symbolic links of its last component followed (a relative
// link counts from the link's own directory). A path that is no link, or a link to a file not
// yet there, is taken as it is. 0 or the error of a link that cannot be read, or ELOOP.
int FollowLinks(const std::string& path, std::string* target) {
  std::filesystem::path file(path);
  for (int hops = 0; hops < 40; ++hops) {  // the kernel's own limit for nested links
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      *target = file.string();
      return 0;
    }
    std::error_code error;
    const std::filesystem::path link = std::filesystem::read_symlink(file, error);
    if (error) return error.value();
    file = link.is_absolute() ? link : file.parent_path() / link;
  }
  return ELOOP;
}

std::string DirectoryOf(const std::string& file) {
  const std::filesystem::path parent = std::filesystem::path(file).parent_path();
  return parent.empty() ? "." : parent.string();
}

}  // namespace

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

std::error_code ReadRegularFile(const std::string& path, size_t limit, std::string* text, FileFacts* facts) {
  text->clear();
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer, for ever.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return SystemError(errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) return SystemError(errno);
  if (!S_ISREG(info.st_mode)) return PlatformError::kNotRegularFile;
  if (static_cast<unsigned long long>(info.st_size) > limit) return PlatformError::kFileTooLarge;
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
    if (n < 0) return SystemError(errno);
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  if (have > limit) return PlatformError::kFileTooLarge;
  text->resize(have);
  return {};
}

bool IsMissingFileError(const std::error_code& error) {
  return error == SystemError(ENOENT) || error == SystemError(ENOTDIR);
}

std::error_code ReplaceFileAtomically(const std::string& path, std::string_view text, FileSync sync) {
  std::string file;
  if (int error = FollowLinks(path, &file)) return SystemError(error);
  Descriptor dir(::open(DirectoryOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return SystemError(errno);
  return SystemError(linux_file::ReplaceFileAt(dir.get(), std::filesystem::path(file).filename().string(), text, sync,
                                               linux_file::NewFileRights::kCarryOver));
}

std::error_code ReplacePrivateFile(const std::string& path, std::string_view text) {
  std::string file;
  if (int error = FollowLinks(path, &file)) return SystemError(error);
  Descriptor dir(::open(DirectoryOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return SystemError(errno);
  return SystemError(linux_file::ReplaceFileAt(dir.get(), std::filesystem::path(file).filename().string(), text,
                                               FileSync::kDurable, linux_file::NewFileRights::kPrivate));
}

void RemoveLeftTemporaries(const std::string& path) {
  std::string file;
  if (FollowLinks(path, &file) != 0) return;
  Descriptor dir(::open(DirectoryOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) linux_file::RemoveTemporariesAt(dir.get(), std::filesystem::path(file).filename().string(), 0);
}

void FileLock::Release() {
  if (handle_ >= 0) ::close(static_cast<int>(std::exchange(handle_, -1)));  // which releases the flock
}

std::error_code FileLock::Acquire(const std::string& path) {
  Release();
  std::string file;
  if (int error = FollowLinks(path, &file)) return SystemError(error);
  Descriptor lock(::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (lock.get() < 0) return SystemError(errno);
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return SystemError(errno);
  }
  handle_ = lock.release();
  return {};
}

// Where the Debian package puts them (CMAKE_INSTALL_DOCDIR below its prefix /usr).
std::string_view InstalledDocumentsFolder() { return "/usr/share/doc/chron"; }

}  // namespace chron::platform
