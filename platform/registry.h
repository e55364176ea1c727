// Machine registry (HKEY_LOCAL_MACHINE) with Windows semantics: key paths are
// backslash-separated and compared without regard to case, values keep their type,
// sizes count the terminating zero of texts. Every operation returns a Win32 error
// code as a value (0 = success), on Linux too: these statuses are part of the registry's
// interface, which callers compare with the kReg constants, not errors of the system.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace chron::platform {

using RegStatus = long;
inline constexpr RegStatus kRegSuccess = 0;
inline constexpr RegStatus kRegFileNotFound = 2;  // ERROR_FILE_NOT_FOUND: no such key or value
inline constexpr RegStatus kRegAccessDenied = 5;  // ERROR_ACCESS_DENIED
inline constexpr RegStatus kRegInvalidParameter = 87;
inline constexpr RegStatus kRegMoreData = 234;      // ERROR_MORE_DATA: value larger than the buffer
inline constexpr RegStatus kRegNoMoreItems = 259;   // ERROR_NO_MORE_ITEMS: enumeration index past the end
inline constexpr RegStatus kRegBadHive = 1009;      // ERROR_BADDB: the hive file cannot be parsed
inline constexpr RegStatus kRegWriteFailed = 1021;  // ERROR_CANTWRITE

enum class RegType : uint32_t {
  kNone = 0,
  kSz = 1,        // REG_SZ: text with terminating zero
  kExpandSz = 2,  // REG_EXPAND_SZ: text with %VARIABLE% references, terminating zero
  kBinary = 3,    // REG_BINARY
  kDword = 4,     // REG_DWORD: 4 bytes, little-endian
  kMultiSz = 7,   // REG_MULTI_SZ: texts each with a zero, then one more zero
};

class Registry {
 public:
  virtual ~Registry() = default;

  // Whether `key` (relative to HKEY_LOCAL_MACHINE) exists: kRegSuccess or kRegFileNotFound.
  virtual RegStatus OpenKey(std::string_view key) = 0;

  // Reads value `name` of `key`. On entry *size is the capacity of `data` in bytes; on
  // return it holds the stored size. A value larger than the capacity fails with
  // kRegMoreData and leaves `data` unspecified. `type` and `data` may be null.
  virtual RegStatus QueryValue(std::string_view key, std::string_view name, RegType* type, void* data,
                               uint32_t* size) = 0;

  // Name of the subkey at `index` (stable order), kRegNoMoreItems past the end.
  virtual RegStatus EnumKey(std::string_view key, uint32_t index, std::string* name) = 0;

  // Creates `key` (and its parents) if missing and stores the value.
  virtual RegStatus SetValue(std::string_view key, std::string_view name, RegType type, const void* data,
                             uint32_t size) = 0;

  // Creates `key` (and its parents) if missing.
  virtual RegStatus CreateKey(std::string_view key) = 0;

  // Runs `writes` (calls of SetValue and CreateKey on this registry, on this thread) as one
  // change of the store: no other writer comes between them, and when the store cannot take
  // the change it keeps none of it. Each call inside returns its own result; this returns the
  // result of storing them. A store that cannot group writes lets each stand alone.
  virtual RegStatus WriteTogether(const std::function<void()>& writes) {
    writes();
    return kRegSuccess;
  }
};

// Receives a complaint about the store behind a registry, as a German text naming it: a hive
// file that exists but cannot be read (with the system's error text), or where its syntax is
// wrong (with the line). Each distinct complaint comes once per opened registry.
using RegistryComplaints = std::function<void(const std::string& text)>;

// The machine registry. On Linux the hive file at MachineHivePath(): the file named by the
// environment variable CHRON_HIVE if set, otherwise the default path fixed at build time
// (CHRON_DEFAULT_HIVE); complaints go to `complaints`, or to standard error when none is given.
// On Windows the system registry's HKEY_LOCAL_MACHINE (which has no complaints to make).
std::string MachineHivePath();
std::unique_ptr<Registry> OpenMachineRegistry(RegistryComplaints complaints = nullptr);
// A hive kept in the given file (used by tests and tools). The file is REGEDIT4 text; texts
// are stored as UTF-8 (the Windows registry held code page 1252) and keep every byte. Every
// read re-reads the file; every write takes an exclusive lock, re-reads, applies the change and
// replaces the file atomically. A missing file is an empty hive. A file that cannot be read
// fails every call (kRegAccessDenied when reading is not allowed) and one that cannot be parsed
// fails every call with kRegBadHive and is never overwritten; both are complaints.
std::unique_ptr<Registry> OpenHiveFile(const std::string& path, RegistryComplaints complaints = nullptr);
// A hive kept only in memory (for tests), empty at the start; safe to share between threads.
std::unique_ptr<Registry> OpenMemoryRegistry();

}  // namespace chron::platform
