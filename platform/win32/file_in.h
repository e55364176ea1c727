// Windows: replacing a file by its name in a folder, the core of ReplaceFileAtomically and of the
// status file's writer; and whom a file belongs to. Only Win32 specific code includes it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/win32/win32.h"

namespace chron::platform::win32 {

// Who owns a file or folder, as the writers judge it.
enum class OwnerKind {
  kSystem,          // LocalSystem (S-1-5-18)
  kAdministrators,  // the Administrators group (S-1-5-32-544): LocalSystem's default owner
  kWriter,          // the user of this process's token (the service's account)
  kOther,           // anyone else: a user who made it first
};

// The user of this process's token (a SID, as bytes); empty when the token cannot be read.
std::vector<BYTE> ProcessUserSid();

// Whom `owner` is, `writer` being the writing account's SID (ProcessUserSid; may be empty).
OwnerKind KindOfOwner(PSID owner, const std::vector<BYTE>& writer);

// The owner of the open `handle` (opened with READ_CONTROL) judged by KindOfOwner: 0 and *kind,
// or the system's error.
int OwnerKindOf(HANDLE handle, OwnerKind* kind);

// A new name for a temporary of the file `name`: ".<name>." and six random letters or digits
// (about 35 bits from the system's random generator), the pattern Linux uses too. Empty when the
// system gives no random bytes.
std::wstring NewTemporaryName(std::wstring_view name);

// True for the names NewTemporaryName makes for `name`.
bool IsTemporaryOf(std::wstring_view entry, std::wstring_view name);

// Replaces the file `folder` + `name` (`folder` empty or ending in a separator) by one holding
// `text`. The new file is created under a new random name beside it (CREATE_NEW: never a file
// or link that is there already, another name when one is) and moved over the old one with
// MoveFileExW: a symbolic link at `name` is replaced, not followed. kDurable flushes the file
// and moves it write-through. 0 or the system's error; nothing is left behind after a failure.
int ReplaceFileIn(const std::wstring& folder, const std::wstring& name, std::string_view text, FileSync sync);

// Removes the temporaries of `name` (IsTemporaryOf) from `folder` that are plain files owned by
// the writer, SYSTEM or the Administrators, last written `older_than_s` seconds ago or earlier.
// 0 (all of them) only where every writer of the file holds its lock and so does the caller.
void RemoveTemporariesIn(const std::wstring& folder, const std::wstring& name, int64_t older_than_s);

}  // namespace chron::platform::win32
