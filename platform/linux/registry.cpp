// Linux implementation of the registry: the hive as a REGEDIT4 file (only POSIX file code here).
//
// Readers open and read the file without a lock: writers never change the file in place but
// rename a complete new file over it, so a reader sees the old or the new hive. Writers take
// an exclusive flock on "<hive>.lock" beside it, re-read the hive under the lock and apply
// their change to what they read, so concurrent writers never lose each other's values. A hive
// path that is a symbolic link stays one: writes replace the file it points to.
#include <fcntl.h>
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

RegStatus WriteError(const std::error_code& error) {
  const bool denied = error == SystemError(EACCES) || error == SystemError(EPERM) || error == SystemError(EROFS);
  return denied ? kRegAccessDenied : kRegWriteFailed;
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
  // A change of the file under way: the lock of its writers, and the hive as read under that
  // lock with the changes made so far.
  struct Update {
    FileLock lock;
    HiveTree tree;
    RegStatus status = kRegSuccess;  // of beginning the update: every change fails with it
    bool changed = false;
  };
  RegStatus Begin(Update* update) const;
  RegStatus Modify(const std::function<RegStatus(HiveTree&)>& change);
  RegStatus Replace(const std::string& text) const;
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
  const std::error_code read_error = ReadRegularFile(path_, kLargestHiveFile, &text);
  if (read_error) {
    if (IsMissingFileError(read_error)) return kRegSuccess;  // no file: empty hive
    Complain(path_ + ": Registrierungsdatei nicht lesbar: " + FileErrorText(read_error, kLargestHiveFile));
    return (read_error == SystemError(EACCES) || read_error == SystemError(EPERM)) ? kRegAccessDenied : kRegBadHive;
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

RegStatus FileRegistry::Begin(Update* update) const {
  std::filesystem::path directory = std::filesystem::path(path_).parent_path();
  std::error_code ignored;
  if (!directory.empty()) std::filesystem::create_directories(directory, ignored);  // a fresh machine has no /etc/chron
  if (std::error_code error = update->lock.Acquire(path_)) return WriteError(error);
  // Replacing the file needs only the directory's write right; refuse as Windows would when
  // the hive (the file a link leads to) itself is read-only for us.
  if (::faccessat(AT_FDCWD, path_.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT)
    return WriteError(SystemError(errno));
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
  return Replace(update.tree.Serialize());
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
  return update.changed ? Replace(update.tree.Serialize()) : kRegSuccess;
}

RegStatus FileRegistry::Replace(const std::string& text) const {
  const std::error_code error = ReplaceFileAtomically(path_, text);
  return error ? WriteError(error) : kRegSuccess;
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
