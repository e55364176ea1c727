// The status file of the running programs: where it lives, how it is replaced, and whether the
// process that wrote it still runs.
#pragma once

#include <cstdint>
#include <string>

namespace chron::platform {

// The status file's path: the environment variable CHRON_STATUS when set and not empty, else
// the system's place (Linux: /run/chron/status.json, the service's runtime directory; Windows:
// chron\status.json in the common application data folder).
std::string StatusFilePath();

// The system's place of the status file (see StatusFilePath).
std::string DefaultStatusFilePath();

// ReplaceFileContents' refusals of the status file's folder (Linux): negative, so that they never
// meet a system error number. A folder that another user may change would let that user plant a
// link or a file of their own where the writer, often root, writes.
inline constexpr int kStatusFolderForeignOwner = -20;  // owned by neither the writing user nor root
inline constexpr int kStatusFolderOpenToOthers = -21;  // group or others may write, no sticky bit
inline constexpr int kStatusFolderLink = -22;          // the folder's own name is a symbolic link

// True for the refusals above, false for 0 and the system's errors.
bool IsStatusFolderRefusal(int error);
// A refusal's reason, the end of a German sentence whose subject is the folder ("... gehört").
std::string StatusFolderRefusalText(int error);

// Replaces the status file `path` by one holding `text`, atomically, left to the system's cache:
// the record is rewritten often and means nothing after a restart. Creates the file's folder
// (one level, mode 0755) when it is missing. On Linux the file never follows a symbolic link: a
// link at its name is replaced by the file, the folder itself must be no link, and a folder that
// others may change is refused (kStatusFolder...); temporaries that killed writers left there
// are removed once they are a minute old. 0, a refusal or the system's error.
int ReplaceFileContents(const std::string& path, const std::string& text);

// This process's id.
uint32_t CurrentProcessId();

// True while the process `pid` exists (also one of another user).
bool ProcessRunning(uint32_t pid);

}  // namespace chron::platform
