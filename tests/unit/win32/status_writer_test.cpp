// The status file's writer on Windows: which folders it refuses, the rights of the folder it
// makes, and its temporaries. Wine checks no access and can make neither a junction
// (FSCTL_SET_REPARSE_POINT: ERROR_NOT_SUPPORTED) nor a folder of another owner; it shows a Unix
// symbolic link as a reparse point and another Unix user's folder as owned by S-1-5-7, so under
// Wine (as root) the test makes those with the Unix tools instead.

// <windows.h> (through win32.h) before the headers that build on it.
#include "platform/win32/win32.h"

#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "platform/status_file.h"
#include "platform/win32/file_in.h"
#include "platform/win32/status_folder.h"

namespace chron::platform::win32 {
namespace {

namespace fs = std::filesystem;

std::vector<BYTE> Sid(const wchar_t* text) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidW(text, &sid)) return {};
  std::vector<BYTE> bytes(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
  LocalFree(sid);
  return bytes;
}

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return L"?";
  std::wstring copy = text;
  LocalFree(text);
  return copy;
}

// True under Wine, which shows a Unix symbolic link as a reparse point.
bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// Under Wine: runs the Unix shell command `command` (Wine starts a Unix program given by its Z:
// path, but its handle cannot be waited for) and waits up to 5 s until `done` holds.
template <typename Done>
bool RunUnix(const std::string& command, Done done) {
  std::wstring line = L"/bin/sh -c \"" + std::wstring(command.begin(), command.end()) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int i = 0; i < 100 && !done(); ++i) Sleep(50);
  return done();
}

// On Windows: makes `link` a junction (a mount point) to the folder `target`, as mklink /J does.
bool MakeJunction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  ScopedHandle handle(CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  const std::wstring substitute = L"\\??\\" + target;
  // REPARSE_DATA_BUFFER of a mount point: tag, data length, reserved; then the substitute and
  // print names' offsets and lengths (bytes), and both names, each ending in a null.
  const auto substitute_bytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
  const auto print_bytes = static_cast<WORD>(target.size() * sizeof(wchar_t));
  std::vector<BYTE> buffer(16 + substitute_bytes + 2 + print_bytes + 2);
  auto put32 = [&](size_t at, DWORD value) { std::memcpy(buffer.data() + at, &value, 4); };
  auto put16 = [&](size_t at, WORD value) { std::memcpy(buffer.data() + at, &value, 2); };
  put32(0, IO_REPARSE_TAG_MOUNT_POINT);
  put16(4, static_cast<WORD>(buffer.size() - 8));
  put16(8, 0);
  put16(10, substitute_bytes);
  put16(12, static_cast<WORD>(substitute_bytes + 2));
  put16(14, print_bytes);
  std::memcpy(buffer.data() + 16, substitute.data(), substitute_bytes);
  std::memcpy(buffer.data() + 16 + substitute_bytes + 2, target.data(), print_bytes);
  DWORD returned = 0;
  return handle.valid() && DeviceIoControl(handle.get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                                           static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
}

TEST(StatusWriterTest, NeverWritesInALinkedFolderNorInOneOfAnotherOwner) {
  const bool wine = UnderWine();
  // Under Wine a folder below Z:\tmp, so that the Unix tools know its path.
  const std::string unix_root = "/tmp/chron-status-writer-" + std::to_string(GetCurrentProcessId());
  const fs::path root = wine ? fs::path("Z:" + unix_root) : fs::temp_directory_path() / unix_root.substr(5);
  fs::remove_all(root);
  fs::create_directories(root / "real");
  const fs::path linked = root / "linked";
  const fs::path foreign = root / "foreign";
  const bool link_made = wine ? RunUnix("ln -s " + unix_root + "/real " + unix_root + "/linked",
                                        [&] { return GetFileAttributesW(linked.c_str()) != INVALID_FILE_ATTRIBUTES; })
                              : MakeJunction(linked.wstring(), (root / "real").wstring());
  ASSERT_TRUE(link_made);
  EXPECT_EQ(ReplaceFileContents((linked / "status.json").string(), "record"), PlatformError::kStatusFolderLink);
  EXPECT_FALSE(fs::exists(root / "real" / "status.json")) << "written where the link leads";

  // Another owner: under Wine another Unix user's (as root), on Windows the Users' (with the
  // privilege to give a folder away).
  fs::create_directory(foreign);
  auto foreign_owned = [&] {
    ScopedHandle handle(CreateFileW(foreign.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    OwnerKind kind = OwnerKind::kWriter;
    return handle.valid() && OwnerKindOf(handle.get(), &kind) == 0 && kind == OwnerKind::kOther;
  };
  std::vector<BYTE> users = Sid(L"S-1-5-32-545");
  const bool foreign_made =
      wine ? RunUnix("chown 65534 " + unix_root + "/foreign", foreign_owned)
           : SetNamedSecurityInfoW(const_cast<wchar_t*>(foreign.c_str()), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                   users.data(), nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                 foreign_owned();
  if (foreign_made) {
    EXPECT_EQ(ReplaceFileContents((foreign / "status.json").string(), "record"),
              PlatformError::kStatusFolderForeignOwner);
    EXPECT_FALSE(fs::exists(foreign / "status.json"));
  } else {
    std::printf("[   NOTE   ] no folder of another owner could be made (not root, no privilege): untested\n");
  }
  EXPECT_EQ(ReplaceFileContents((root / "real" / "status.json").string(), "record"), std::error_code());
  if (wine) {
    RunUnix("rm -rf " + unix_root, [&] { return !fs::exists(root); });
  } else {
    RemoveDirectoryW(linked.c_str());  // the junction, not what it leads to
    fs::remove_all(root);
  }
}

TEST(StatusWriterTest, RefusesReparsePointsAndFoldersOfOtherOwners) {
  constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;
  constexpr DWORD kLink = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  struct Case {
    DWORD attributes;
    OwnerKind owner;
    std::error_code expected;
  } cases[] = {
      {kFolder, OwnerKind::kSystem, {}},
      {kFolder, OwnerKind::kAdministrators, {}},
      {kFolder, OwnerKind::kWriter, {}},
      {kFolder, OwnerKind::kOther, PlatformError::kStatusFolderForeignOwner},
      {kLink, OwnerKind::kWriter, PlatformError::kStatusFolderLink},
      {kLink, OwnerKind::kOther, PlatformError::kStatusFolderLink},
      {FILE_ATTRIBUTE_NORMAL, OwnerKind::kWriter, SystemError(ERROR_DIRECTORY)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JudgeStatusFolder(c.attributes, c.owner), c.expected) << c.attributes << " " << static_cast<int>(c.owner);
  }
}

TEST(StatusWriterTest, KnowsTheOwnersItTrusts) {
  const std::vector<BYTE> writer = ProcessUserSid();
  ASSERT_FALSE(writer.empty());
  const std::pair<std::vector<BYTE>, OwnerKind> cases[] = {
      {Sid(L"S-1-5-18"), OwnerKind::kSystem},
      {Sid(L"S-1-5-32-544"), OwnerKind::kAdministrators},
      {writer,
       IsWellKnownSid(const_cast<BYTE*>(writer.data()), WinLocalSystemSid) ? OwnerKind::kSystem : OwnerKind::kWriter},
      {Sid(L"S-1-5-32-545"), OwnerKind::kOther},  // Users
      {Sid(L"S-1-5-19"), OwnerKind::kOther},      // LocalService, when it is not the writer
      {Sid(L"S-1-5-7"), OwnerKind::kOther},       // anonymous: another Unix user's file under Wine
  };
  for (const auto& [sid, kind] : cases) {
    ASSERT_FALSE(sid.empty());
    if (sid == writer && kind == OwnerKind::kOther) continue;
    EXPECT_EQ(KindOfOwner(const_cast<BYTE*>(sid.data()), writer), kind) << SidText(const_cast<BYTE*>(sid.data()));
  }
}

TEST(StatusWriterTest, MakesItsFolderWithProtectedRightsOfItsOwn) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(StatusFolderSddl(L"S-1-5-19").c_str(),
                                                                   SDDL_REVISION_1, &descriptor, nullptr));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "nothing inherited from ProgramData";
  ASSERT_TRUE(present && dacl != nullptr);
  std::vector<std::pair<std::wstring, DWORD>> aces;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, &ace));
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(allowed->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) << "passed on to the file";
    aces.emplace_back(SidText(const_cast<DWORD*>(&allowed->SidStart)), allowed->Mask);
  }
  LocalFree(descriptor);
  constexpr DWORD kModify = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
  const std::vector<std::pair<std::wstring, DWORD>> expected = {
      {L"S-1-5-18", FILE_ALL_ACCESS},
      {L"S-1-5-32-544", FILE_ALL_ACCESS},
      {L"S-1-5-19", kModify},
      {L"S-1-5-32-545", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE},
  };
  EXPECT_EQ(aces, expected);
}

// The names of the files made in the folder watched by `watch` (opened for overlapped reads)
// while `act` runs, in their order.
template <typename Act>
std::vector<std::wstring> NamesAdded(HANDLE watch, Act act) {
  alignas(DWORD) BYTE buffer[16384];
  OVERLAPPED overlapped{};
  ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  overlapped.hEvent = event.get();
  auto listen = [&] {
    return ReadDirectoryChangesW(watch, buffer, sizeof buffer, FALSE, FILE_NOTIFY_CHANGE_FILE_NAME, nullptr,
                                 &overlapped, nullptr);
  };
  std::vector<std::wstring> names;
  if (!listen()) return names;
  act();
  // Changes between two reads wait in the handle's own buffer; none for half a second ends it.
  while (WaitForSingleObject(event.get(), 500) == WAIT_OBJECT_0) {
    DWORD size = 0;
    if (!GetOverlappedResult(watch, &overlapped, &size, FALSE) || size == 0) break;
    for (DWORD at = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer + at);
      if (entry->Action == FILE_ACTION_ADDED)
        names.emplace_back(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (entry->NextEntryOffset == 0) break;
      at += entry->NextEntryOffset;
    }
    ResetEvent(event.get());
    if (!listen()) break;
  }
  CancelIoEx(watch, &overlapped);
  DWORD ignored = 0;
  GetOverlappedResult(watch, &overlapped, &ignored, TRUE);
  return names;
}

TEST(StatusWriterTest, EachWriteUsesANewTemporaryAndLeavesNoneBehind) {
  const fs::path dir = fs::temp_directory_path() / ("chron-status-names-" + std::to_string(GetCurrentProcessId()));
  fs::remove_all(dir);
  const std::string path = (dir / "status.json").string();
  ASSERT_EQ(ReplaceFileContents(path, "first"), std::error_code());
  ScopedHandle watch(CreateFileW(dir.c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
  ASSERT_TRUE(watch.valid());
  const std::vector<std::wstring> added = NamesAdded(watch.get(), [&] {
    EXPECT_EQ(ReplaceFileContents(path, "second"), std::error_code());
    EXPECT_EQ(ReplaceFileContents(path, "third"), std::error_code());
  });
  ASSERT_EQ(added.size(), 2u);
  EXPECT_NE(added[0], added[1]);
  for (const std::wstring& name : added) EXPECT_TRUE(IsTemporaryOf(name, L"status.json")) << name;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace chron::platform::win32
