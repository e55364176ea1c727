// Linux: the status file in the service's runtime directory (systemd's RuntimeDirectory=chron).
#include "platform/status_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/error_text.h"
#include "platform/file.h"
#include "platform/linux/file_at.h"

namespace chron::platform {

std::string DefaultStatusFilePath() { return "/run/chron/status.json"; }

std::string NtsServerKeysPath() {
  const char* own = std::getenv("CHRON_NTS_SERVER_KEYS");
  if (own != nullptr && *own != '\0') return own;
  const char* state = std::getenv("STATE_DIRECTORY");  // "dir[:dir...]"
  const std::string folder = state != nullptr && *state != '\0'
                                 ? std::string(state).substr(0, std::string(state).find(':'))
                                 : std::string("/var/lib/chron");
  return folder + "/nts-server-keys";
}

namespace {

// A writer renames its temporary within milliseconds; one a minute old was left by a killed one.
constexpr int64_t kLeftTemporaryAgeS = 60;

// Opens the folder `folder` without following a link at its own name, creating it (0755, whatever
// the umask) when it is missing; judges whom it lets change its entries. The descriptor in *dir,
// and no error, a refusal or the system's error.
std::error_code OpenStatusFolder(const std::string& folder, linux_file::Descriptor* dir) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  dir->Reset(::open(folder.c_str(), kFlags));
  bool created = false;
  if (dir->get() < 0 && errno == ENOENT) {
    if (::mkdir(folder.c_str(), 0755) == 0) {
      created = true;
    } else if (errno != EEXIST) {
      return SystemError(errno);
    }
    dir->Reset(::open(folder.c_str(), kFlags));
  }
  if (dir->get() < 0) {
    const int error = errno;
    struct stat link {};
    // O_NOFOLLOW meets a link at the last name with ELOOP, O_DIRECTORY one to a file with ENOTDIR.
    if ((error == ELOOP || error == ENOTDIR) && ::lstat(folder.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      return PlatformError::kStatusFolderLink;
    }
    return SystemError(error);
  }
  struct stat info {};
  if (::fstat(dir->get(), &info) != 0) return SystemError(errno);
  if (created && (info.st_mode & 07777) != 0755) ::fchmod(dir->get(), 0755);  // readable by chronstat's users
  if (info.st_uid != ::geteuid() && info.st_uid != 0) return PlatformError::kStatusFolderForeignOwner;
  // The sticky bit (as /tmp has it) keeps others from renaming or removing what this user made.
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0) {
    return PlatformError::kStatusFolderOpenToOthers;
  }
  return {};
}

}  // namespace

std::string StatusFolderRefusalText(PlatformError refusal) {
  switch (refusal) {
    case PlatformError::kStatusFolderForeignOwner: return "weder dem Benutzer des SNTP Dienstes noch root gehört";
    case PlatformError::kStatusFolderOpenToOthers: return "ohne Sticky-Bit auch für andere Benutzer beschreibbar ist";
    case PlatformError::kStatusFolderLink: return "eine symbolische Verknüpfung ist";
    default: return "nicht verwendbar ist";
  }
}

std::error_code ReplaceFileContents(const std::string& path, const std::string& text) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return SystemError(EISDIR);
  linux_file::Descriptor dir(-1);
  if (std::error_code error = OpenStatusFolder(folder, &dir)) return error;
  linux_file::RemoveTemporariesAt(dir.get(), name, kLeftTemporaryAgeS);
  // A record of the moment, on a memory file system: left to the cache.
  return SystemError(
      linux_file::ReplaceFileAt(dir.get(), name, text, FileSync::kCached, linux_file::NewFileRights::kOwn));
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool ProcessRunning(uint32_t pid) {
  if (pid == 0 || pid > 0x7FFFFFFFu) return false;
  // Signal 0 checks existence only; EPERM: it exists but belongs to another user.
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace chron::platform
