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

namespace chron::platform {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// 0 or the error of the failed write.
int WriteAll(int fd, std::string_view text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

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

int ReplaceFileAtomically(const std::string& path, std::string_view text, FileSync sync) {
  std::string file;
  if (int error = FollowLinks(path, &file)) return error;
  const std::string directory = DirectoryOf(file);
  std::string temporary = directory + "/." + std::filesystem::path(file).filename().string() + ".XXXXXX";
  Descriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
  if (out.get() < 0) return errno;

  struct stat old {};
  const bool existed = ::stat(file.c_str(), &old) == 0;
  ::fchmod(out.get(), existed ? (old.st_mode & 07777) : 0644);
  if (existed && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
    (void)!::fchown(out.get(), old.st_uid, old.st_gid);  // best effort: keep the owner

  int error = WriteAll(out.get(), text);
  if (error == 0 && sync == FileSync::kDurable && ::fsync(out.get()) != 0) error = errno;
  if (::close(out.release()) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), file.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return error;
  }
  if (sync == FileSync::kDurable) {
    Descriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());  // the rename itself
  }
  return 0;
}

void FileLock::Release() {
  if (handle_ >= 0) ::close(static_cast<int>(std::exchange(handle_, -1)));  // which releases the flock
}

int FileLock::Acquire(const std::string& path) {
  Release();
  std::string file;
  if (int error = FollowLinks(path, &file)) return error;
  Descriptor lock(::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (lock.get() < 0) return errno;
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return errno;
  }
  handle_ = lock.release();
  return 0;
}

}  // namespace chron::platform
