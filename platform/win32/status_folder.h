// Windows: how the status file's writer judges and makes the status file's folder. Only Win32
// specific code includes it.
#pragma once

#include <string>
#include <system_error>

#include "platform/win32/file_in.h"
#include "platform/win32/win32.h"

namespace chron::platform::win32 {

// The verdict on the status file's folder from its attributes (those of the folder itself, a
// link not followed) and its owner: no error, PlatformError::kStatusFolderLink for a reparse point
// (a symbolic link or a junction, which would lead the writer elsewhere), ERROR_DIRECTORY for no
// folder, kStatusFolderForeignOwner for one that a user made first, who may then plant files in it.
std::error_code JudgeStatusFolder(DWORD attributes, OwnerKind owner);

// The security descriptor (SDDL) of a status folder the writer makes itself: protected from
// what ProgramData passes on (which lets every user create files there); SYSTEM and the
// Administrators full control, the writing account `writer_sid` (a SID string) modify, the
// Users read, all passed on to the files in it.
std::wstring StatusFolderSddl(const std::wstring& writer_sid);

}  // namespace chron::platform::win32
