// Windows: replacing a file by its name in a folder, and whom a file belongs to.
#include "platform/win32/file_in.h"

#include <aclapi.h>
#include <bcrypt.h>

namespace chron::platform::win32 {
namespace {

constexpr std::wstring_view kNameCharacters = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kRandomLength = 6;  // as Linux's temporaries (mkstemp's XXXXXX)

// FILETIME counts 100 ns.
constexpr int64_t kFileTimeTicksPerSecond = 10'000'000;

int64_t Ticks(const FILETIME& time) {
  return static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

// Creates a new temporary of `name` in `folder` for writing: its name in *temporary, the handle
// or INVALID_HANDLE_VALUE with the last error set.
HANDLE CreateTemporaryIn(const std::wstring& folder, const std::wstring& name, std::wstring* temporary) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temporary = NewTemporaryName(name);
    if (temporary->empty()) return INVALID_HANDLE_VALUE;
    const HANDLE file = CreateFileW((folder + *temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

std::vector<BYTE> ProcessUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  ScopedHandle owned(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return {};
  const PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  const auto* bytes = static_cast<const BYTE*>(user);
  return std::vector<BYTE>(bytes, bytes + GetLengthSid(user));
}

OwnerKind KindOfOwner(PSID owner, const std::vector<BYTE>& writer) {
  if (owner == nullptr || !IsValidSid(owner)) return OwnerKind::kOther;
  if (IsWellKnownSid(owner, WinLocalSystemSid)) return OwnerKind::kSystem;
  if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) return OwnerKind::kAdministrators;
  // EqualSid does not change the SIDs it compares; its parameters are not const.
  if (!writer.empty() && EqualSid(owner, const_cast<BYTE*>(writer.data()))) return OwnerKind::kWriter;
  return OwnerKind::kOther;
}

int OwnerKindOf(HANDLE handle, OwnerKind* kind) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                      nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return static_cast<int>(error);
  *kind = KindOfOwner(owner, ProcessUserSid());
  LocalFree(descriptor);
  return 0;
}

std::wstring NewTemporaryName(std::wstring_view name) {
  unsigned char random[kRandomLength];
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    SetLastError(ERROR_GEN_FAILURE);
    return {};
  }
  std::wstring temporary = L"." + std::wstring(name) + L".";
  for (unsigned char byte : random) temporary += kNameCharacters[byte % kNameCharacters.size()];
  return temporary;
}

bool IsTemporaryOf(std::wstring_view entry, std::wstring_view name) {
  if (entry.size() != name.size() + 2 + kRandomLength || entry[0] != L'.' || entry.substr(1, name.size()) != name ||
      entry[name.size() + 1] != L'.') {
    return false;
  }
  return entry.substr(name.size() + 2).find_first_not_of(kNameCharacters) == std::wstring_view::npos;
}

int ReplaceFileIn(const std::wstring& folder, const std::wstring& name, std::string_view text, FileSync sync) {
  std::wstring temporary;
  DWORD error = 0;
  {
    ScopedHandle file(CreateTemporaryIn(folder, name, &temporary));
    if (!file.valid()) return static_cast<int>(GetLastError());
    DWORD written = 0;
    if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
      error = GetLastError();
    } else if (written != text.size()) {
      error = ERROR_WRITE_FAULT;
    } else if (sync == FileSync::kDurable && !FlushFileBuffers(file.get())) {
      error = GetLastError();
    }
  }
  const std::wstring from = folder + temporary;
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | (sync == FileSync::kDurable ? MOVEFILE_WRITE_THROUGH : 0);
  if (error == 0 && !MoveFileExW(from.c_str(), (folder + name).c_str(), flags)) error = GetLastError();
  if (error != 0) DeleteFileW(from.c_str());
  return static_cast<int>(error);
}

void RemoveTemporariesIn(const std::wstring& folder, const std::wstring& name, int64_t older_than_s) {
  FILETIME now_time{};
  GetSystemTimeAsFileTime(&now_time);
  const int64_t now = Ticks(now_time);
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((folder + L"." + name + L".*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    // The pattern also meets short (8.3) names: the long name must be a temporary's.
    if (!IsTemporaryOf(found.cFileName, name) ||
        (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        now - Ticks(found.ftLastWriteTime) < older_than_s * kFileTimeTicksPerSecond) {
      continue;
    }
    // Judged and removed through one handle: a file another user put there in the meantime is
    // not the one removed. The link itself, never what it leads to.
    ScopedHandle file(CreateFileW((folder + found.cFileName).c_str(), DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    OwnerKind owner = OwnerKind::kOther;
    if (!file.valid() || !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        OwnerKindOf(file.get(), &owner) != 0 || owner == OwnerKind::kOther) {
      continue;
    }
    FILE_DISPOSITION_INFO remove{TRUE};
    SetFileInformationByHandle(file.get(), FileDispositionInfo, &remove, sizeof remove);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace chron::platform::win32
