// Win32 implementation of the registry: HKEY_LOCAL_MACHINE through the wide registry API
// (RegOpenKeyExW, RegQueryValueExW, RegEnumKeyExW, RegCreateKeyExW, RegSetValueExW).
//
// The callers speak UTF-8 and count text sizes in UTF-8 bytes with the terminating zero, as the
// hive file does; texts (REG_SZ, REG_MULTI_SZ) are converted at this boundary, so umlauts are
// stored as the system's own characters whatever the ANSI code page is.
#include <cstring>
#include <vector>

#include "platform/registry.h"
#include "platform/win32/win32.h"

namespace chron::platform {
namespace {

class ScopedKey {
 public:
  ScopedKey() = default;
  ~ScopedKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Stored UTF-16 text data (terminators included) as UTF-8 bytes with the same terminators.
std::vector<uint8_t> TextToUtf8(const std::vector<uint8_t>& stored) {
  std::wstring wide(stored.size() / sizeof(wchar_t), L'\0');
  if (!wide.empty()) std::memcpy(wide.data(), stored.data(), wide.size() * sizeof(wchar_t));
  const std::string narrow = win32::Narrow(wide);
  return {narrow.begin(), narrow.end()};
}

std::vector<uint8_t> TextFromUtf8(const void* data, uint32_t size) {
  const std::wstring wide = win32::Widen({static_cast<const char*>(data), size});
  std::vector<uint8_t> stored(wide.size() * sizeof(wchar_t));
  if (!stored.empty()) std::memcpy(stored.data(), wide.data(), stored.size());
  return stored;
}

// The 64-bit view of the registry in every build: a 32-bit program on 64-bit Windows would
// otherwise be redirected to SOFTWARE\WOW6432Node and read other settings than the 64-bit
// programs (the service, the applet). 32-bit Windows ignores the flag.
constexpr REGSAM kView = KEY_WOW64_64KEY;

class SystemRegistry final : public Registry {
 public:
  RegStatus OpenKey(std::string_view key) override {
    ScopedKey handle;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, win32::Widen(key).c_str(), 0, KEY_READ | kView, handle.out());
  }

  RegStatus QueryValue(std::string_view key, std::string_view name, RegType* type, void* data,
                       uint32_t* size) override {
    ScopedKey handle;
    LONG status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, win32::Widen(key).c_str(), 0, KEY_QUERY_VALUE | kView, handle.out());
    if (status != ERROR_SUCCESS) return status;
    const std::wstring value_name = win32::Widen(name);
    DWORD stored_type = REG_NONE;
    std::vector<uint8_t> stored(256);
    for (;;) {
      DWORD stored_size = static_cast<DWORD>(stored.size());
      status = RegQueryValueExW(handle.get(), value_name.c_str(), nullptr, &stored_type, stored.data(), &stored_size);
      if (status == ERROR_MORE_DATA) {
        stored.resize(stored_size);
        continue;
      }
      if (status != ERROR_SUCCESS) return status;
      stored.resize(stored_size);
      break;
    }
    if (IsText(stored_type)) stored = TextToUtf8(stored);
    if (type != nullptr) *type = static_cast<RegType>(stored_type);
    const uint32_t capacity = *size;
    *size = static_cast<uint32_t>(stored.size());
    if (data == nullptr) return kRegSuccess;
    if (stored.size() > capacity) return kRegMoreData;
    if (!stored.empty()) std::memcpy(data, stored.data(), stored.size());
    return kRegSuccess;
  }

  RegStatus EnumKey(std::string_view key, uint32_t index, std::string* name) override {
    ScopedKey handle;
    LONG status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, win32::Widen(key).c_str(), 0, KEY_ENUMERATE_SUB_KEYS | kView, handle.out());
    if (status != ERROR_SUCCESS) return status;
    wchar_t buffer[256];  // key names have at most 255 characters
    DWORD length = 256;
    status = RegEnumKeyExW(handle.get(), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) return status;
    *name = win32::Narrow({buffer, length});
    return kRegSuccess;
  }

  RegStatus SetValue(std::string_view key, std::string_view name, RegType type, const void* data,
                     uint32_t size) override {
    ScopedKey handle;
    LONG status = Create(key, KEY_SET_VALUE, &handle);
    if (status != ERROR_SUCCESS) return status;
    const DWORD stored_type = static_cast<DWORD>(type);
    std::vector<uint8_t> stored;
    if (IsText(stored_type)) {
      stored = TextFromUtf8(data, size);
    } else if (size > 0) {
      stored.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    }
    return RegSetValueExW(handle.get(), win32::Widen(name).c_str(), 0, stored_type, stored.data(),
                          static_cast<DWORD>(stored.size()));
  }

  RegStatus CreateKey(std::string_view key) override {
    ScopedKey handle;
    return Create(key, KEY_READ, &handle);
  }

 private:
  static LONG Create(std::string_view key, REGSAM access, ScopedKey* handle) {
    // Class empty, options 0: a non-volatile key; no security attributes.
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, win32::Widen(key).c_str(), 0, nullptr, 0, access | kView, nullptr,
                           handle->out(), nullptr);
  }
};

}  // namespace

std::unique_ptr<Registry> OpenMachineRegistry(RegistryComplaints) { return std::make_unique<SystemRegistry>(); }

}  // namespace chron::platform
