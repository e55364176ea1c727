// Linux: replacing a file by its name in an open directory.
#include "platform/linux/file_at.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace chron::platform::linux_file {
namespace {

constexpr std::string_view kNameCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kRandomLength = 6;  // as mkstemp's XXXXXX

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

// True for ".<name>." followed by kRandomLength of kNameCharacters.
bool IsTemporaryOf(std::string_view entry, const std::string& name) {
  if (entry.size() != name.size() + 2 + kRandomLength || entry[0] != '.' || entry.substr(1, name.size()) != name ||
      entry[name.size() + 1] != '.') {
    return false;
  }
  return entry.substr(name.size() + 2).find_first_not_of(kNameCharacters) == std::string_view::npos;
}

// Creates a new temporary of `name` in `dir` for writing: its name in *temporary, the descriptor
// or -1 with errno set. O_EXCL never opens what is there already, a link included.
int CreateTemporaryAt(int dir, const std::string& name, std::string* temporary) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[kRandomLength];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return -1;
    *temporary = "." + name + ".";
    for (unsigned char byte : random) *temporary += kNameCharacters[byte % kNameCharacters.size()];
    const int fd = ::openat(dir, temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

void Descriptor::Close() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

int ReplaceFileAt(int dir, const std::string& name, std::string_view text, FileSync sync, NewFileRights rights) {
  std::string temporary;
  Descriptor out(CreateTemporaryAt(dir, name, &temporary));
  if (out.get() < 0) return errno;

  struct stat old {};
  const bool carry = rights == NewFileRights::kCarryOver &&
                     ::fstatat(dir, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode);
  ::fchmod(out.get(), carry ? (old.st_mode & 07777) : rights == NewFileRights::kPrivate ? 0600 : 0644);
  if (carry && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
    (void)!::fchown(out.get(), old.st_uid, old.st_gid);  // best effort: keep the owner

  int error = WriteAll(out.get(), text);
  if (error == 0 && sync == FileSync::kDurable && ::fsync(out.get()) != 0) error = errno;
  if (::close(out.release()) != 0 && error == 0) error = errno;
  if (error == 0 && ::renameat(dir, temporary.c_str(), dir, name.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlinkat(dir, temporary.c_str(), 0);
    return error;
  }
  if (sync == FileSync::kDurable) ::fsync(dir);  // the rename itself
  return 0;
}

void RemoveTemporariesAt(int dir, const std::string& name, int64_t older_than_s) {
  // fdopendir takes the descriptor it is given: a duplicate, reading from the start.
  const int copy = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (copy < 0) return;
  DIR* listing = ::fdopendir(copy);
  if (listing == nullptr) {
    ::close(copy);
    return;
  }
  const int64_t now = std::time(nullptr);
  while (const dirent* entry = ::readdir(listing)) {
    if (!IsTemporaryOf(entry->d_name, name)) continue;
    struct stat info {};
    if (::fstatat(dir, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
    // Only this user's own: a file of another user with the pattern's name is not a temporary of ours.
    if (info.st_uid != ::geteuid() || now - static_cast<int64_t>(info.st_mtime) < older_than_s) continue;
    ::unlinkat(dir, entry->d_name, 0);
  }
  ::closedir(listing);
}

}  // namespace chron::platform::linux_file
