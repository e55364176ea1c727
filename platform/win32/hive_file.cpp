// Win32: a hive kept in a REGEDIT4 file (OpenHiveFile), for tests and tools; the machine
// registry itself is the system's (registry.cpp). Same contract as on Linux: every read parses
// the file, every write takes an exclusive lock on "<hive>.lock", re-reads, applies the change
// and replaces the file in one move, so readers see the old or the new hive.
#include <cstdio>
#include <functional>
#include <string>

#include "platform/file.h"
#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/win32/win32.h"

namespace chron::platform {
namespace {

RegStatus WriteError(const std::error_code& error) {
  const bool denied = error == SystemError(ERROR_ACCESS_DENIED) || error == SystemError(ERROR_WRITE_PROTECT);
  return denied ? kRegAccessDenied : kRegWriteFailed;
}

class WindowsHiveFile final : public Registry {
 public:
  explicit WindowsHiveFile(std::string path) : path_(std::move(path)) {}

  RegStatus OpenKey(std::string_view key) override {
    HiveTree tree;
    RegStatus status = Load(&tree);
    return status != kRegSuccess ? status : tree.OpenKey(key);
  }
  RegStatus QueryValue(std::string_view key, std::string_view name, RegType* type, void* data,
                       uint32_t* size) override {
    HiveTree tree;
    RegStatus status = Load(&tree);
    return status != kRegSuccess ? status : tree.QueryValue(key, name, type, data, size);
  }
  RegStatus EnumKey(std::string_view key, uint32_t index, std::string* name) override {
    HiveTree tree;
    RegStatus status = Load(&tree);
    return status != kRegSuccess ? status : tree.EnumKey(key, index, name);
  }
  RegStatus SetValue(std::string_view key, std::string_view name, RegType type, const void* data,
                     uint32_t size) override {
    return Modify([&](HiveTree& tree) { return tree.SetValue(key, name, type, data, size); });
  }
  RegStatus CreateKey(std::string_view key) override {
    return Modify([&](HiveTree& tree) { return tree.CreateKey(key); });
  }

 private:
  RegStatus Load(HiveTree* tree) const {
    std::string text;
    const std::error_code read_error = ReadRegularFile(path_, kLargestHiveFile, &text);
    if (read_error) {
      if (IsMissingFileError(read_error)) return kRegSuccess;  // empty hive
      std::fprintf(stderr, "%s: Registrierungsdatei nicht lesbar: %s\n", path_.c_str(),
                   FileErrorText(read_error, kLargestHiveFile).c_str());
      return read_error == SystemError(ERROR_ACCESS_DENIED) ? kRegAccessDenied : kRegBadHive;
    }
    int line = 0;
    std::string error;
    if (!tree->Parse(text, &line, &error)) {
      std::fprintf(stderr, "%s:%d: Fehler in der Registrierungsdatei: %s\n", path_.c_str(), line, error.c_str());
      return kRegBadHive;
    }
    return kRegSuccess;
  }

  RegStatus Modify(const std::function<RegStatus(HiveTree&)>& change) const {
    FileLock lock;
    if (std::error_code error = lock.Acquire(path_)) return WriteError(error);
    HiveTree tree;
    RegStatus status = Load(&tree);
    if (status == kRegSuccess) status = change(tree);
    if (status != kRegSuccess) return status;
    const std::error_code error = ReplaceFileAtomically(path_, tree.Serialize());
    return error ? WriteError(error) : kRegSuccess;
  }

  std::string path_;
};

}  // namespace

std::unique_ptr<Registry> OpenHiveFile(const std::string& path, RegistryComplaints) {
  return std::make_unique<WindowsHiveFile>(path);
}

}  // namespace chron::platform
