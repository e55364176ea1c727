// Linux implementation of the registry: the hive as a REGEDIT4 file (only POSIX file code here).
//
// Readers open and read the file without a lock: writers never change the file in place but
// rename a complete new file over it, so a reader sees the old or the new hive. Writers take
// an exclusive flock on "<hive>.lock" beside it, re-read the hive under the lock and apply
// their change to what they read, so concurrent writers never lose each other's values. A hive
// path that is a symbolic link stays one: writes replace the file it points to.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "platform/file.h"
#include "platform/reg_file.h"
#include "platform/registry.h"

namespace chron::platform {
namespace {

RegStatus WriteError(int error) {
  return (error == EACCES || error == EPERM || error == EROFS) ? kRegAccessDenied : kRegWriteFailed;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The file that a write replaces: `path` with the symbolic links of its last component
// followed (a relative link counts from the link's own directory), so that a hive kept
// elsewhere behind a link stays linked. A path that is no link, or a link to a file not yet
// there, is taken as it is. False with errno set when a link cannot be read or links loop.
bool ResolveLinks(const std::string& path, std::string* target) {
  std::filesystem::path file(path);
  for (int hops = 0; hops < 40; ++hops) {  // the kernel's own limit for nested links
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      *target = file.string();
      return true;
    }
    std::error_code error;
    std::filesystem::path link = std::filesystem::read_symlink(file, error);
    if (error) {
      errno = error.value();
      return false;
    }
    file = link.is_absolute() ? link : file.parent_path() / link;
  }
  errno = ELOOP;
  return false;
}

class FileRegistry final : public Registry {
 public:
  FileRegistry(std::string path, RegistryComplaints complaints)
      : path_(std::move(path)), complaints_(std::move(complaints)) {
    if (!complaints_) complaints_ = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
  }

  RegStatus OpenKey(std::string_view key) override {
    std::shared_ptr<const HiveTree> tree;
    RegStatus status = Snapshot(&tree);
    return status != kRegSuccess ? status : tree->OpenKey(key);
  }
  RegStatus QueryValue(std::string_view key, std::string_view name, RegType* type, void* data,
                       uint32_t* size) override {
    std::shared_ptr<const HiveTree> tree;
    RegStatus status = Snapshot(&tree);
    return status != kRegSuccess ? status : tree->QueryValue(key, name, type, data, size);
  }
  RegStatus EnumKey(std::string_view key, uint32_t index, std::string* name) override {
    std::shared_ptr<const HiveTree> tree;
    RegStatus status = Snapshot(&tree);
    return status != kRegSuccess ? status : tree->EnumKey(key, index, name);
  }
  RegStatus SetValue(std::string_view key, std::string_view name, RegType type, const void* data,
                     uint32_t size) override {
    return Modify([&](HiveTree& tree) { return tree.SetValue(key, name, type, data, size); });
  }
  RegStatus CreateKey(std::string_view key) override {
    return Modify([&](HiveTree& tree) { return tree.CreateKey(key); });
  }
  RegStatus WriteTogether(const std::function<void()>& writes) override;

 private:
  // The hive as it is in the file now. The parsed tree is kept while the file is unchanged
  // (same inode, size and modification time): a writer always renames a new file into place,
  // and an editor that rewrites it in place changes its time. Reading many keys at start-up
  // then parses the file once.
  RegStatus Snapshot(std::shared_ptr<const HiveTree>* tree) const;
  RegStatus Load(HiveTree* tree) const;
  // A change of the file under way: the file it replaces, the lock held beside it, and the
  // hive as read under that lock with the changes made so far.
  struct Update {
    std::string file;
    std::unique_ptr<FileDescriptor> lock;
    HiveTree tree;
    RegStatus status = kRegSuccess;  // of beginning the update: every change fails with it
    bool changed = false;
  };
  RegStatus Begin(Update* update) const;
  RegStatus Modify(const std::function<RegStatus(HiveTree&)>& change);
  RegStatus Replace(const std::string& file, const std::string& text) const;
  // Each distinct complaint once: the services read the hive value by value and would
  // otherwise repeat it a dozen times.
  void Complain(const std::string& text) const;

  std::string path_;
  RegistryComplaints complaints_;
  // One change of this registry at a time; the thread running WriteTogether holds it and
  // its writes join update_.
  std::recursive_mutex update_mutex_;
  Update* update_ = nullptr;
  mutable std::mutex complained_mutex_;
  mutable std::set<std::string> complained_;
  struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    bool operator==(const FileIdentity& o) const {
      return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
             modified.tv_nsec == o.modified.tv_nsec;
    }
  };
  mutable std::mutex cache_mutex_;
  mutable FileIdentity cached_identity_;
  mutable std::shared_ptr<const HiveTree> cached_tree_;
};

RegStatus FileRegistry::Snapshot(std::shared_ptr<const HiveTree>* tree) const {
  struct stat info {};
  if (::stat(path_.c_str(), &info) == 0) {
    FileIdentity identity{info.st_dev, info.st_ino, info.st_size, info.st_mtim};
    {
      std::lock_guard lock(cache_mutex_);
      if (cached_tree_ && identity == cached_identity_) {
        *tree = cached_tree_;
        return kRegSuccess;
      }
    }
    auto fresh = std::make_shared<HiveTree>();
    RegStatus status = Load(fresh.get());
    if (status != kRegSuccess) return status;
    // Keep it only if the file did not change while it was read.
    struct stat after {};
    if (::stat(path_.c_str(), &after) == 0 &&
        FileIdentity{after.st_dev, after.st_ino, after.st_size, after.st_mtim} == identity) {
      std::lock_guard lock(cache_mutex_);
      cached_identity_ = identity;
      cached_tree_ = fresh;
    }
    *tree = std::move(fresh);
    return kRegSuccess;
  }
  auto fresh = std::make_shared<HiveTree>();
  RegStatus status = Load(fresh.get());
  *tree = std::move(fresh);
  return status;
}

RegStatus FileRegistry::Load(HiveTree* tree) const {
  std::string text;
  const int read_error = ReadRegularFile(path_, kLargestHiveFile, &text);
  if (read_error != 0) {
    if (IsMissingFileError(read_error)) return kRegSuccess;  // no file: empty hive
    Complain(path_ + ": Registrierungsdatei nicht lesbar: " + FileErrorText(read_error, kLargestHiveFile));
    return (read_error == EACCES || read_error == EPERM) ? kRegAccessDenied : kRegBadHive;
  }
  int line = 0;
  std::string error;
  if (!tree->Parse(text, &line, &error)) {
    Complain(path_ + ":" + std::to_string(line) + ": Fehler in der Registrierungsdatei: " + error);
    return kRegBadHive;
  }
  return kRegSuccess;
}

void FileRegistry::Complain(const std::string& text) const {
  {
    std::lock_guard lock(complained_mutex_);
    if (!complained_.insert(text).second) return;
  }
  complaints_(text);
}

// Writers lock "<file>.lock" beside the file they replace (beside the link's target for a
// linked hive), so that writers through the link and to the file itself exclude each other.
RegStatus FileRegistry::Begin(Update* update) const {
  if (!ResolveLinks(path_, &update->file)) return WriteError(errno);
  std::filesystem::path directory = std::filesystem::path(update->file).parent_path();
  if (directory.empty()) directory = ".";
  std::error_code ignored;
  std::filesystem::create_directories(directory, ignored);  // a fresh machine has no /etc/chron

  std::string lock_path = update->file + ".lock";
  update->lock = std::make_unique<FileDescriptor>(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (update->lock->get() < 0) return WriteError(errno);
  while (::flock(update->lock->get(), LOCK_EX) != 0) {
    if (errno != EINTR) return kRegWriteFailed;
  }
  // Replacing the file needs only the directory's write right; refuse as Windows would when
  // the hive itself is read-only for us.
  if (::faccessat(AT_FDCWD, update->file.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) return WriteError(errno);
  return Load(&update->tree);  // the lock ends when the update ends
}

RegStatus FileRegistry::Modify(const std::function<RegStatus(HiveTree&)>& change) {
  std::lock_guard guard(update_mutex_);
  if (update_ != nullptr) {  // inside WriteTogether on this thread
    if (update_->status != kRegSuccess) return update_->status;
    RegStatus status = change(update_->tree);
    update_->changed = update_->changed || status == kRegSuccess;
    return status;
  }
  Update update;
  if (RegStatus status = Begin(&update); status != kRegSuccess) return status;
  if (RegStatus status = change(update.tree); status != kRegSuccess) return status;
  return Replace(update.file, update.tree.Serialize());
}

RegStatus FileRegistry::WriteTogether(const std::function<void()>& writes) {
  std::lock_guard guard(update_mutex_);
  if (update_ != nullptr) {  // joins the change under way
    writes();
    return kRegSuccess;
  }
  Update update;
  update.status = Begin(&update);
  update_ = &update;
  writes();
  update_ = nullptr;
  if (update.status != kRegSuccess) return update.status;
  return update.changed ? Replace(update.file, update.tree.Serialize()) : kRegSuccess;
}

// Writes `text` to a temporary file in the directory of `file` and renames it over `file`.
RegStatus FileRegistry::Replace(const std::string& file, const std::string& text) const {
  std::filesystem::path hive(file);
  std::string directory = hive.parent_path().empty() ? "." : hive.parent_path().string();
  std::string temp = directory + "/." + hive.filename().string() + ".XXXXXX";
  FileDescriptor out(::mkstemp(temp.data()));
  if (out.get() < 0) return WriteError(errno);

  struct stat old {};
  bool existed = ::stat(file.c_str(), &old) == 0;
  ::fchmod(out.get(), existed ? (old.st_mode & 07777) : 0644);
  if (existed && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
    (void)!::fchown(out.get(), old.st_uid, old.st_gid);  // best effort: keep the owner

  bool written = WriteAll(out.get(), text) && ::fsync(out.get()) == 0;
  int error = errno;
  if (::close(out.release()) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written || ::rename(temp.c_str(), file.c_str()) != 0) {
    if (written) error = errno;
    ::unlink(temp.c_str());
    return WriteError(error);
  }
  FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());  // make the rename itself durable
  return kRegSuccess;
}

}  // namespace

// On Linux the machine registry is the hive file.
std::unique_ptr<Registry> OpenMachineRegistry(RegistryComplaints complaints) {
  return OpenHiveFile(MachineHivePath(), std::move(complaints));
}

std::unique_ptr<Registry> OpenHiveFile(const std::string& path, RegistryComplaints complaints) {
  return std::make_unique<FileRegistry>(path, std::move(complaints));
}

}  // namespace chron::platform
