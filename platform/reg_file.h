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
// As in the Windows registry, a key name has at most 255 characters (UTF-8 sequences count
// as one) and keys lie at most 512 levels below HKEY_LOCAL_MACHINE; longer names and deeper
// paths fail with kRegInvalidParameter, and a hive text holding one does not parse.
// A larger hive file is refused as a whole (a device such as /dev/zero would never end).
inline constexpr size_t kLargestHiveFile = size_t{16} << 20;  // bytes
inline constexpr size_t kMaxKeyNameCharacters = 255;
inline constexpr size_t kMaxKeyLevels = 512;

class HiveTree {
 public:
  HiveTree();
  ~HiveTree();
  HiveTree(HiveTree&&) noexcept;
  HiveTree& operator=(HiveTree&&) noexcept;

  // The same contracts as the Registry operations of the same names.
  RegStatus OpenKey(std::string_view key) const;
  RegStatus QueryValue(std::string_view key, std::string_view name, RegType* type, void* data, uint32_t* size) const;
  RegStatus EnumKey(std::string_view key, uint32_t index, std::string* name) const;
  RegStatus SetValue(std::string_view key, std::string_view name, RegType type, const void* data, uint32_t size);
  RegStatus CreateKey(std::string_view key);

  // REGEDIT4 text: header, then one section per key that holds values or has no subkeys
  // (parents before children, subkeys in enumeration order), values in the order they were
  // first written. A key that holds only subkeys is implied by their sections.
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
    std::vector<Value> values;                            // in the order first written
    std::map<std::string, size_t> value_index;            // case-folded name -> position
    std::map<std::string, std::unique_ptr<Key>> subkeys;  // by case-folded name: stable order
  };

  const Key* Find(std::string_view key) const;
  // The key, created with its parents if missing; nullptr with a description (German) when
  // the path is not a valid key name.
  Key* FindOrCreate(std::string_view key, const char** error = nullptr);
  static void Store(Key* key, std::string name, RegType type, std::vector<uint8_t> data);

  std::unique_ptr<Key> root_;
};

}  // namespace chron::platform
