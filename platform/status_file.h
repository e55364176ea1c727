// The status file of the running programs: where it lives, how it is replaced, and whether the
// process that wrote it still runs.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

#include "platform/error_text.h"

namespace chron::platform {

// The status file's path: the environment variable CHRON_STATUS when set and not empty, else
// the system's place (Linux: /run/chron/status.json, the service's runtime directory; Windows:
// chron\status.json in the common application data folder).
std::string StatusFilePath();

// The system's place of the status file (see StatusFilePath).
std::string DefaultStatusFilePath();

// The file of the NTS server's cookie keys, which must survive a restart: on Linux
// "$STATE_DIRECTORY/nts-server-keys" under systemd's StateDirectory= (the first folder when it
// names several), else /var/lib/chron/nts-server-keys; on Windows nts-server-keys beside the
// status file. The environment variable CHRON_NTS_SERVER_KEYS, when set and not empty, names
// another file.
std::string NtsServerKeysPath();

// ReplaceFileContents' refusals of the status file's folder (PlatformError, error_text.h): a
// folder that another user may change would let that user plant a link or a file of their own
// where the writer, often root or a service's account, writes.
//   kStatusFolderForeignOwner: owned by neither the writing user nor root (Windows: nor SYSTEM
//     nor the Administrators);
//   kStatusFolderOpenToOthers: group or others may write, and there is no sticky bit (Linux);
//   kStatusFolderLink: the folder's own name is a symbolic link (Windows: or another reparse
//     point, a junction).

// True for the refusals above, false for success and the system's errors.
bool IsStatusFolderRefusal(const std::error_code& error);
// A refusal's reason on this system, the end of a German sentence whose subject is the folder
// ("... gehört"): the message() of the refusal's code.
std::string StatusFolderRefusalText(PlatformError refusal);

// Replaces the status file `path` by one holding `text`, atomically, left to the system's cache:
// the record is rewritten often and means nothing after a restart. Creates the file's folder
// (one level) when it is missing: on Linux mode 0755, on Windows with rights of its own
// (SYSTEM and the Administrators full control, the writer modify, the Users read; nothing
// inherited from ProgramData). The file never follows a link: a link at its name is replaced by
// the file, the folder itself must be no link (Windows: no junction either), and a folder that
// others may change is refused (kStatusFolder...; Windows judges the folder's owner only). The
// new file is written under a new random name beside it; temporaries that killed writers left
// there are removed once they are a minute old. No error, a refusal or the system's error.
std::error_code ReplaceFileContents(const std::string& path, const std::string& text);

// This process's id.
uint32_t CurrentProcessId();

// True while the process `pid` exists (also one of another user).
bool ProcessRunning(uint32_t pid);

}  // namespace chron::platform
