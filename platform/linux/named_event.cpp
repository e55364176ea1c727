// Linux implementation of the named event: a file under /dev/shm named after the event and the
// inode of the caller's network namespace, holding one 32-bit state word in shared memory.
// Set and Wait use a process-shared futex on that word. Every handle holds a shared flock on the
// file; the opener that can take an exclusive lock knows that no other handle exists and
// re-initialises the word, so state left by a crashed holder is never seen. The last handle to
// close removes the file; an opener that locked a file which has since been removed starts again.
#include "platform/named_event.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "platform/error_text.h"

namespace chron::platform {
namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free);
constexpr off_t kStateSize = sizeof(uint32_t);
constexpr uint32_t kSignalled = 1;
// Sets that find the event not signalled add this to the word (generation count in bits 1-31).
constexpr uint32_t kGeneration = 2;

// "/dev/shm/<name>.<network namespace inode>"; '/' in the name becomes '_'.
int EventPath(std::string_view name, std::string* path) {
  if (name.empty() || name.find('\0') != std::string_view::npos) return EINVAL;
  struct stat namespace_info {};
  if (stat("/proc/self/ns/net", &namespace_info) != 0) return errno;
  std::string file(name);
  for (char& c : file) {
    if (c == '/') c = '_';
  }
  *path = "/dev/shm/" + file + "." + std::to_string(namespace_info.st_ino);
  return 0;
}

// Opens the file without O_CREAT first: with fs.protected_regular an O_CREAT open of another
// user's file in the sticky /dev/shm fails even for root. Anyone may put something else at the
// name: a symbolic link is not followed (ELOOP), a directory cannot be opened (EISDIR), and
// anything else that is no regular file (FIFO, socket) is opened without waiting and refused
// with EEXIST.
int OpenOrCreate(const std::string& path, int* handle) {
  constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
  for (int attempt = 0; attempt < 100; ++attempt) {
    int fd = open(path.c_str(), kFlags);
    if (fd < 0 && errno == ENOENT) {
      fd = open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
      if (fd < 0 && errno == EEXIST) continue;
      // Mode 0666 whatever the umask, so that any user can set an event that root created.
      if (fd >= 0) (void)fchmod(fd, 0666);
    }
    if (fd < 0) return errno;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      close(fd);
      return EEXIST;
    }
    *handle = fd;
    return 0;
  }
  return EEXIST;
}

// An exclusive lock is held only for moments, by a first opener initialising the word or a last
// closer removing the file. One held longer is someone keeping the event from being opened:
// give up after this many milliseconds rather than hang.
constexpr int kLockWaitMs = 2000;

int SharedLockWithin(int handle) {
  for (int waited = 0;; ++waited) {
    if (flock(handle, LOCK_SH | LOCK_NB) == 0) return 0;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return errno;
    if (waited >= kLockWaitMs) return ETIMEDOUT;
    usleep(1000);
  }
}

// True when `path` still names the file open on `handle` (it was not removed by a last closer).
bool StillNamed(int handle, const std::string& path) {
  struct stat open_file {
  }, named{};
  return fstat(handle, &open_file) == 0 && stat(path.c_str(), &named) == 0 && open_file.st_dev == named.st_dev &&
         open_file.st_ino == named.st_ino;
}

long Futex(std::atomic<uint32_t>* word, int operation, uint32_t value, const timespec* deadline) {
  return syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), operation, value, deadline, nullptr,
                 FUTEX_BITSET_MATCH_ANY);
}

}  // namespace

namespace {

// Opens the file, takes the lock and maps the word. *first: no other handle existed, so the word
// was re-initialised to not signalled. Returns 0, or EAGAIN when the file was removed by a last
// closer meanwhile (nothing is left open then), or another error.
int OpenLocked(const std::string& path, int* handle, bool* first, std::atomic<uint32_t>** state) {
  if (int error = OpenOrCreate(path, handle)) return error;
  const int fd = *handle;
  auto fail = [fd](int error) {
    close(fd);
    return error;
  };
  // No lock held by anyone else: this is the only handle, the event is new. Otherwise wait for a
  // shared lock; an exclusive holder is a first opener still initialising the word, or the last
  // closer removing the file.
  *first = flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (!*first) {
    if (errno != EWOULDBLOCK) return fail(errno);
    if (int error = SharedLockWithin(fd)) return fail(error);
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) return fail(errno);
  // Growing the file fills it with zeros (not signalled); harmless under a shared lock too.
  if (info.st_size < kStateSize && ftruncate(fd, kStateSize) != 0) return fail(errno);
  void* view = mmap(nullptr, kStateSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) return fail(errno);
  *state = static_cast<std::atomic<uint32_t>*>(view);
  int error = 0;
  if (*first) {
    (*state)->store(0, std::memory_order_release);
    // flock does not promise an atomic downgrade: another first opener may initialise again in
    // between (harmless, nobody can have set the event yet), or a handle opened and closed in
    // between may remove the file, which the check below notices.
    error = SharedLockWithin(fd);
  }
  // Holding a shared lock on a file that is still named: nobody can remove it any more.
  if (error == 0 && !StillNamed(fd, path)) error = EAGAIN;
  if (error != 0) {
    munmap(view, kStateSize);
    return fail(error);
  }
  return 0;
}

}  // namespace

std::error_code NamedEvent::Create(std::string_view name, std::unique_ptr<NamedEvent>* out, bool* opened_existing) {
  out->reset();
  std::string path;
  if (int error = EventPath(name, &path)) return SystemError(error);
  int handle = -1;
  bool first = false;
  std::atomic<uint32_t>* state = nullptr;
  int error = EAGAIN;
  for (int attempt = 0; attempt < 100 && error == EAGAIN; ++attempt) {
    error = OpenLocked(path, &handle, &first, &state);
  }
  if (error != 0) return SystemError(error);
  if (opened_existing != nullptr) *opened_existing = !first;
  out->reset(new NamedEvent(handle, state, std::move(path), static_cast<int>(getpid())));
  return {};
}

std::string NamedEvent::Location(std::string_view name) {
  std::string path;
  return EventPath(name, &path) == 0 ? path : std::string();
}

NamedEvent::~NamedEvent() {
  munmap(state_, kStateSize);
  // An exclusive lock means no other handle exists: remove the name while holding it, so that an
  // opener waiting for its lock sees the removal. A child forked from the owner shares the lock
  // and must not take it over. Removal may fail (another user's file in sticky /dev/shm); the
  // next first opener re-initialises the file then.
  if (static_cast<int>(getpid()) == owner_ && flock(handle_, LOCK_EX | LOCK_NB) == 0 && StillNamed(handle_, path_)) {
    unlink(path_.c_str());
  }
  close(handle_);  // releases the lock
}

std::error_code NamedEvent::Set() {
  uint32_t word = state_->load(std::memory_order_relaxed);
  while ((word & kSignalled) == 0 &&
         !state_->compare_exchange_weak(word, (word + kGeneration) | kSignalled, std::memory_order_acq_rel)) {
  }
  Futex(state_, FUTEX_WAKE, INT_MAX, nullptr);
  return {};
}

std::error_code NamedEvent::Reset() {
  state_->fetch_and(~kSignalled, std::memory_order_acq_rel);
  return {};
}

WaitResult NamedEvent::Wait(int64_t timeout_ms) {
  const uint32_t start = state_->load(std::memory_order_acquire);
  if ((start & kSignalled) != 0) return WaitResult::kSignalled;
  if (timeout_ms == 0) return WaitResult::kTimeout;
  timespec deadline{};
  const bool limited = timeout_ms > 0;
  if (limited) {
    // FUTEX_WAIT_BITSET takes an absolute CLOCK_MONOTONIC deadline, so wake-ups cost no time.
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(timeout_ms / 1000);
    deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
  }
  // A changed generation means a Set happened while we waited, even if a Reset has cleared the
  // signalled bit again since.
  auto released = [start](uint32_t word) { return word != start; };
  for (;;) {
    // Sleeps only while the word is still the one seen at the start.
    if (Futex(state_, FUTEX_WAIT_BITSET, start, limited ? &deadline : nullptr) != 0) {
      if (errno == ETIMEDOUT) {
        return released(state_->load(std::memory_order_acquire)) ? WaitResult::kSignalled : WaitResult::kTimeout;
      }
      if (errno != EAGAIN && errno != EINTR) return WaitResult::kFailed;
    }
    if (released(state_->load(std::memory_order_acquire))) return WaitResult::kSignalled;
  }
}

}  // namespace chron::platform
