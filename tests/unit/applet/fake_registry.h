// A registry in memory that records every write, and can be told to refuse some.
#pragma once

#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace chron::testing {

class RecordingRegistry : public platform::Registry {
 public:
  struct Write {
    std::string key, name;
    platform::RegType type;
    std::vector<uint8_t> data;
  };

  static std::string Path(std::string_view key, std::string_view name) {
    std::string p(key);
    for (char& ch : p) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    std::string n(name);
    for (char& ch : n) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    while (!p.empty() && p.back() == '\\') p.pop_back();
    return p + "|" + n;
  }

  void Put(std::string_view key, std::string_view name, platform::RegType type, const void* data, uint32_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    values[Path(key, name)] = {std::string(key), std::string(name), type, {bytes, bytes + size}};
  }
  void PutDword(std::string_view key, std::string_view name, uint32_t value) {
    Put(key, name, platform::RegType::kDword, &value, 4);
  }
  void PutString(std::string_view key, std::string_view name, const std::string& text) {
    Put(key, name, platform::RegType::kSz, text.c_str(), static_cast<uint32_t>(text.size() + 1));
  }

  platform::RegStatus OpenKey(std::string_view key) override {
    const std::string prefix = Path(key, "");
    for (const auto& [path, w] : values) {
      if (path.compare(0, prefix.size() - 1, prefix, 0, prefix.size() - 1) == 0) return platform::kRegSuccess;
    }
    return platform::kRegFileNotFound;
  }
  platform::RegStatus QueryValue(std::string_view key, std::string_view name, platform::RegType* type, void* data,
                                 uint32_t* size) override {
    ++queries;
    auto it = values.find(Path(key, name));
    if (it == values.end()) return platform::kRegFileNotFound;
    const Write& v = it->second;
    if (type != nullptr) *type = v.type;
    const uint32_t capacity = size != nullptr ? *size : 0;
    if (size != nullptr) *size = static_cast<uint32_t>(v.data.size());
    if (data != nullptr) {
      if (v.data.size() > capacity) return platform::kRegMoreData;
      std::memcpy(data, v.data.data(), v.data.size());
    }
    return platform::kRegSuccess;
  }
  platform::RegStatus EnumKey(std::string_view, uint32_t, std::string*) override { return platform::kRegNoMoreItems; }
  platform::RegStatus SetValue(std::string_view key, std::string_view name, platform::RegType type, const void* data,
                               uint32_t size) override {
    const auto* bytes = static_cast<const uint8_t*>(data);
    writes.push_back({std::string(key), std::string(name), type, {bytes, bytes + size}});
    if (refuse.count(std::string(name)) != 0) return platform::kRegAccessDenied;
    Put(key, name, type, data, size);
    return platform::kRegSuccess;
  }
  platform::RegStatus CreateKey(std::string_view) override { return platform::kRegSuccess; }

  std::map<std::string, Write> values;
  std::vector<Write> writes;     // every SetValue, refused ones included
  std::set<std::string> refuse;  // value names whose writing fails
  int queries = 0;
};

}  // namespace chron::testing
