// A registry in memory that records every call ("Query <key>\<name>", "Set <key>\<name>",
// "Open <key>", "Create <key>", "Enum <key>") and every write with its type and bytes, and can be
// told to fail writes of chosen values. Put... stores values without recording them.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace chron::testing {

class RecordingRegistry final : public platform::Registry {
 public:
  struct Write {
    std::string key, name;
    platform::RegType type;
    std::vector<uint8_t> data;
  };

  static std::string Join(std::string_view key, std::string_view name) {
    return std::string(key) + "\\" + std::string(name);
  }

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
    const auto* bytes = static_cast<const uint8_t*>(data);
    writes.push_back({std::string(key), std::string(name), type, {bytes, bytes + size}});
    if (failing_values.count(Join(key, name))) return platform::kRegAccessDenied;
    return inner_->SetValue(key, name, type, data, size);
  }
  platform::RegStatus CreateKey(std::string_view key) override {
    calls.push_back("Create " + std::string(key));
    return inner_->CreateKey(key);
  }

  void PutDword(std::string_view key, std::string_view name, uint32_t value) {
    inner_->SetValue(key, name, platform::RegType::kDword, &value, sizeof value);
  }
  void PutString(std::string_view key, std::string_view name, const std::string& text) {
    inner_->SetValue(key, name, platform::RegType::kSz, text.c_str(), static_cast<uint32_t>(text.size() + 1));
  }

  // The value stored now, or nothing when there is none.
  std::optional<Write> Stored(std::string_view key, std::string_view name) {
    Write value{std::string(key), std::string(name), platform::RegType::kNone, {}};
    uint32_t size = 0;
    if (inner_->QueryValue(key, name, &value.type, nullptr, &size) != platform::kRegSuccess) return std::nullopt;
    value.data.resize(size);
    if (inner_->QueryValue(key, name, &value.type, value.data.data(), &size) != platform::kRegSuccess) {
      return std::nullopt;
    }
    return value;
  }

  // Calls whose text starts with `prefix`, in order.
  std::vector<std::string> CallsStartingWith(std::string_view prefix) const {
    std::vector<std::string> result;
    for (const std::string& call : calls)
      if (std::string_view(call).starts_with(prefix)) result.push_back(call);
    return result;
  }

  std::vector<std::string> calls;
  std::vector<Write> writes;             // every SetValue, failed ones included
  std::set<std::string> failing_values;  // "<key>\<name>" whose SetValue fails (access denied)

 private:
  std::unique_ptr<platform::Registry> inner_ = platform::OpenMemoryRegistry();
};

}  // namespace chron::testing
