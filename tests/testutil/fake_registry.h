// A registry in memory that records every call ("Query <key>\<name>", "Set <key>\<name>",
// "Open <key>", "Create <key>", "Enum <key>") and can be told to fail writes of chosen values.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace chron::testing {

class RecordingRegistry final : public platform::Registry {
 public:
  platform::RegStatus OpenKey(std::string_view key) override {
    calls.push_back("Open " + std::string(key));
    return inner_->OpenKey(key);
  }
  platform::RegStatus QueryValue(std::string_view key, std::string_view name, platform::RegType* type, void* data,
                                 uint32_t* size) override {
    calls.push_back("Query " + Join(key, name));
    return inner_->QueryValue(key, name, type, data, size);
  }
  platform::RegStatus EnumKey(std::string_view key, uint32_t index, std::string* name) override {
    calls.push_back("Enum " + std::string(key));
    return inner_->EnumKey(key, index, name);
  }
  platform::RegStatus SetValue(std::string_view key, std::string_view name, platform::RegType type, const void* data,
                               uint32_t size) override {
    calls.push_back("Set " + Join(key, name));
    if (failing_values.count(Join(key, name))) return platform::kRegAccessDenied;
    return inner_->SetValue(key, name, type, data, size);
  }
  platform::RegStatus CreateKey(std::string_view key) override {
    calls.push_back("Create " + std::string(key));
    return inner_->CreateKey(key);
  }

  // Calls whose text starts with `prefix`, in order.
  std::vector<std::string> CallsStartingWith(std::string_view prefix) const {
    std::vector<std::string> result;
    for (const std::string& call : calls)
      if (std::string_view(call).starts_with(prefix)) result.push_back(call);
    return result;
  }

  std::vector<std::string> calls;
  std::set<std::string> failing_values;  // "<key>\<name>" whose SetValue fails (access denied)

 private:
  static std::string Join(std::string_view key, std::string_view name) {
    return std::string(key) + "\\" + std::string(name);
  }
  std::unique_ptr<platform::Registry> inner_ = platform::OpenMemoryRegistry();
};

}  // namespace chron::testing
