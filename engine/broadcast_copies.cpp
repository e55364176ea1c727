#include "engine/broadcast_copies.h"

#include <algorithm>

namespace chron {

namespace {

// Copies of one broadcast arrive back to back; a burst of more distinct broadcasts than this
// within the window only lets an old copy through again.
constexpr size_t kRemembered = 64;

}  // namespace

bool BroadcastCopies::Repeated(const platform::SocketAddress& from, const uint8_t* bytes, size_t size, TimePoint now) {
  if (size > kLongest) return false;
  for (const Seen& entry : seen_) {
    if (entry.address == from.address && entry.port == from.port && entry.size == size &&
        std::equal(bytes, bytes + size, entry.bytes.begin()) && now - entry.at <= window) {
      return true;
    }
  }
  Seen entry{from.address, from.port, size, {}, now};
  std::copy(bytes, bytes + size, entry.bytes.begin());
  if (seen_.size() < kRemembered) {
    seen_.push_back(entry);
  } else {
    seen_[next_] = entry;
    next_ = (next_ + 1) % kRemembered;
  }
  return false;
}

}  // namespace chron
