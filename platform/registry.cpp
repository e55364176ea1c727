// Portable part of the registry: where a machine hive file lives, and the hive in memory.
#include "platform/registry.h"

#include <mutex>

#include "platform/arguments.h"
#include "platform/reg_file.h"

namespace chron::platform {
namespace {

class MemoryRegistry final : public Registry {
 public:
  RegStatus OpenKey(std::string_view key) override {
    std::lock_guard lock(mutex_);
    return tree_.OpenKey(key);
  }
  RegStatus QueryValue(std::string_view key, std::string_view name, RegType* type, void* data,
                       uint32_t* size) override {
    std::lock_guard lock(mutex_);
    return tree_.QueryValue(key, name, type, data, size);
  }
  RegStatus EnumKey(std::string_view key, uint32_t index, std::string* name) override {
    std::lock_guard lock(mutex_);
    return tree_.EnumKey(key, index, name);
  }
  RegStatus SetValue(std::string_view key, std::string_view name, RegType type, const void* data,
                     uint32_t size) override {
    std::lock_guard lock(mutex_);
    return tree_.SetValue(key, name, type, data, size);
  }
  RegStatus CreateKey(std::string_view key) override {
    std::lock_guard lock(mutex_);
    return tree_.CreateKey(key);
  }

 private:
  std::mutex mutex_;
  HiveTree tree_;
};

}  // namespace

std::string MachineHivePath() {
  std::string path = EnvironmentValue("CHRON_HIVE");
  return !path.empty() ? path : CHRON_DEFAULT_HIVE;
}

std::unique_ptr<Registry> OpenMemoryRegistry() { return std::make_unique<MemoryRegistry>(); }

}  // namespace chron::platform
