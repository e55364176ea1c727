#include "engine/nts_key_store.h"

#include <optional>
#include <string>
#include <system_error>

#include "messages/report.h"
#include "platform/file.h"

namespace chron::nts {
namespace {

constexpr size_t kLargestKeyStore = 4096;  // bytes; two keys take about 200

// Rotates `ring` and writes it; false when no new key could be made.
bool RotateAndWrite(const std::string& path, int64_t now, ServerKeyRing* ring) {
  const std::optional<ServerKey> fresh = NewServerKey(*ring, now);
  if (!fresh) return false;
  ring->Rotate(*fresh);
  if (const std::error_code error = platform::ReplacePrivateFile(path, FormatServerKeys(*ring))) {
    ReportMessage(msg::kNtsServerKeysNotWritable, {path, error.message()});
  }
  return true;
}

}  // namespace

ServerKeyRing LoadServerKeys(const std::string& path, int64_t now) {
  std::string text;
  ServerKeyRing ring;
  const std::error_code error = platform::ReadRegularFile(path, kLargestKeyStore, &text);
  if (!error) {
    if (std::optional<ServerKeyRing> parsed = ParseServerKeys(text)) {
      ring = *parsed;
    } else {
      ReportMessage(msg::kNtsServerKeysBroken, {path, std::string("kein gültiger Schlüsselring")});
    }
  } else if (!platform::IsMissingFileError(error)) {
    ReportMessage(msg::kNtsServerKeysBroken, {path, platform::FileErrorText(error, kLargestKeyStore)});
  }
  if (ring.RotationDue(now)) RotateAndWrite(path, now, &ring);
  return ring;
}

bool RotateServerKeysIfDue(const std::string& path, int64_t now, NtsServerKeys* keys) {
  ServerKeyRing ring = keys->With([](const ServerKeyRing& current) { return current; });
  if (!ring.RotationDue(now) || !RotateAndWrite(path, now, &ring)) return false;
  keys->Set(ring);
  return true;
}

}  // namespace chron::nts
