// A hive held in memory, and its text form in the REGEDIT4 `.reg` format. Only portable
// code: no file access here (the Linux file handling is in platform/linux/registry.cpp).
//
// Texts are stored as the bytes the caller gives: UTF-8 in this system, where the Windows
// registry of the original platform held code page 1252. The file keeps every byte.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace chron::platform {

// Key paths are relative to HKEY_LOCAL_MACHINE, components separated by one backslash;
// "" is HKEY_LOCAL_MACHINE itself. Key and value names compare without regard to ASCII case
// (bytes above 0x7f compare exactly) and keep the spelling with which they were first written.
class HiveTree {
 public:
  HiveTree();
  ~HiveTree();
  HiveTree(HiveTree&&) noexcept;
  HiveTree& operator=(HiveTree&&) noexcept;

  // The same contracts as the Registry operations of the same names.
  RegStatus OpenKey(std::string_view key) const;
  RegStatus QueryValue(std::string_view key, std::string_view name, RegType* type, void* data,
                       uint32_t* size) const;
  RegStatus EnumKey(std::string_view key, uint32_t index, std::string* name) const;
  RegStatus SetValue(std::string_view key, std::string_view name, RegType type, const void* data,
                     uint32_t size);
  RegStatus CreateKey(std::string_view key);

  // REGEDIT4 text: header, then one section per key (parents before children, subkeys in
  // enumeration order), values in the order they were first written.
  std::string Serialize() const;

  // Replaces the content with the hive in `text`. On a syntax error returns false, leaves the
  // tree empty and sets the 1-based line number and a description (German).
  bool Parse(std::string_view text, int* error_line, std::string* error);

 private:
  struct Value {
    std::string name;
    RegType type;
    std::vector<uint8_t> data;
  };
  struct Key {
    std::string name;
    std::vector<Value> values;
    std::map<std::string, std::unique_ptr<Key>> subkeys;  // by case-folded name: stable order
  };

  const Key* Find(std::string_view key) const;
  Key* FindOrCreate(std::string_view key);
  static void SerializeKey(const Key& key, const std::string& path, std::string* out);

  std::unique_ptr<Key> root_;
};

}  // namespace chron::platform
