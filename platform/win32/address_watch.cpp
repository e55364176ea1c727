// Win32: the watch over the system's IPv4 addresses and interfaces (address_watch.h).
#include "platform/win32/address_watch.h"

#include <utility>
#include <vector>

#include "platform/win32/win32.h"

namespace chron::platform::win32 {
namespace {

// NotifyUnicastIpAddressChange and NotifyIpInterfaceChange of the IP helper library (Windows
// Vista and later), looked up at run time so that the programs still load where it lacks them.
// Their callbacks receive a row and a notification type, which are not looked at here.
using ChangeCallback = void(WINAPI*)(void* context, void* row, int type);
using NotifyChange = DWORD(WINAPI*)(USHORT family, ChangeCallback callback, void* context, BOOLEAN initial,
                                    HANDLE* handle);
using CancelNotify = DWORD(WINAPI*)(HANDLE handle);

class IpHelperWatch : public AddressWatch {
 public:
  explicit IpHelperWatch(std::function<void()> changed) : changed_(std::move(changed)) {}
  ~IpHelperWatch() override {
    // Returns once no callback runs any more.
    for (HANDLE handle : handles_) cancel_(handle);
    if (library_ != nullptr) FreeLibrary(library_);
  }

  // True when at least one kind of change is watched.
  bool Start() {
    library_ = LoadLibraryA("iphlpapi.dll");
    if (library_ == nullptr) return false;
    cancel_ = reinterpret_cast<CancelNotify>(Entry("CancelMibChangeNotify2"));
    if (cancel_ == nullptr) return false;
    for (const char* name : {"NotifyUnicastIpAddressChange", "NotifyIpInterfaceChange"}) {
      auto notify = reinterpret_cast<NotifyChange>(Entry(name));
      HANDLE handle = nullptr;
      if (notify != nullptr && notify(AF_INET, &Changed, this, FALSE, &handle) == NO_ERROR && handle != nullptr) {
        handles_.push_back(handle);
      }
    }
    return !handles_.empty();
  }

 private:
  // Through void*, as GetProcAddress's FARPROC is no function type of its own.
  void* Entry(const char* name) const { return reinterpret_cast<void*>(GetProcAddress(library_, name)); }

  static void WINAPI Changed(void* context, void* /*row*/, int /*type*/) {
    static_cast<IpHelperWatch*>(context)->changed_();
  }

  std::function<void()> changed_;
  HMODULE library_ = nullptr;
  CancelNotify cancel_ = nullptr;
  std::vector<HANDLE> handles_;
};

}  // namespace

std::unique_ptr<AddressWatch> WatchIpHelper(const std::function<void()>& changed) {
  auto watch = std::make_unique<IpHelperWatch>(changed);
  if (!watch->Start()) return nullptr;
  return watch;
}

}  // namespace chron::platform::win32
