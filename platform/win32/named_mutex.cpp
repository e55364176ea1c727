// Win32 implementation of the named mutex: CreateMutexW, owned by the creator, with a security
// descriptor whose DACL is present and null (every account of the machine may open it, so a
// service and a user's program see the same mutex). Named in the global namespace (Global\), which
// every session shares: the service runs in session 0 and a program started by a user in a session
// of its own, where a plain name would name another mutex. Creating a mutex there needs no
// privilege (only file mappings and symbolic links do). The kernel releases an abandoned mutex when
// its owner ends.
#include "platform/error_text.h"
#include "platform/named_mutex.h"
#include "platform/win32/win32.h"

namespace chron::platform {

std::error_code NamedMutex::Create(std::string_view name, std::unique_ptr<NamedMutex>* out, bool* already_exists) {
  out->reset();
  *already_exists = false;
  SECURITY_DESCRIPTOR descriptor{};
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
    return SystemError(static_cast<int>(GetLastError()));
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, TRUE};
  HANDLE handle = CreateMutexW(&attributes, TRUE, (L"Global\\" + win32::Widen(name)).c_str());
  if (handle == nullptr) return SystemError(static_cast<int>(GetLastError()));
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // Another instance holds it; this handle does not own it and is not kept.
    CloseHandle(handle);
    *already_exists = true;
    return {};
  }
  out->reset(new NamedMutex(win32::HandleToInt(handle)));
  return {};
}

NamedMutex::~NamedMutex() {
  HANDLE handle = win32::IntToHandle(handle_);
  ReleaseMutex(handle);
  CloseHandle(handle);
}

}  // namespace chron::platform
