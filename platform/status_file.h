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

// Replaces the file `path` by one holding `text` (ReplaceFileAtomically, left to the system's cache: the
// record is rewritten often and means nothing after a restart). Creates the file's directory
// when it is missing (one level). 0 or the system's error.
int ReplaceFileContents(const std::string& path, const std::string& text);

// This process's id.
uint32_t CurrentProcessId();

// True while the process `pid` exists (also one of another user).
bool ProcessRunning(uint32_t pid);

}  // namespace chron::platform
