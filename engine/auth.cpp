#include "engine/auth.h"

#include <algorithm>
#include <string>
#include <system_error>

#include "engine/ntp_message.h"
#include "engine/contexts.h"
#include "messages/report.h"
#include "platform/error_text.h"

namespace chron {
namespace {

uint32_t ReadKeyId(const uint8_t* bytes) {
  const uint8_t* p = bytes + kKeyIdOffset;
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// Why a message was refused, for the trace.
std::string VerdictText(MacVerdict verdict, uint32_t key_id, bool usable) {
  if (!usable) return "kein gültiger Schlüssel";
  switch (verdict) {
    case MacVerdict::kMissing: return "ohne Authentifizierung";
    case MacVerdict::kUnknownKey: return "Schlüssel " + std::to_string(key_id) + " unbekannt";
    case MacVerdict::kBadMac: return "MAC mit Schlüssel " + std::to_string(key_id) + " ungültig";
    case MacVerdict::kValid: break;
  }
  return {};
}

}  // namespace

const SymmetricKey* Authentication::Find(uint32_t id) const {
  for (const SymmetricKey& key : keys) {
    if (key.id == id) return &key;
  }
  return nullptr;
}

Authentication LoadAuthentication(const Configuration& config) {
  Authentication auth;
  const std::string& path = config.key_file;
  if (path.empty() && !config.key_file_too_long) return auth;
  auth.required = true;
  if (config.key_file_too_long) {
    ReportMessage(msg::kKeyFileUnreadable, {std::string("KeyFile"), std::string("der Pfad ist zu lang")});
    return auth;
  }
  std::string text;
  platform::FileFacts facts;
  const std::error_code error = ReadKeyFileText(path, &text, &facts);
  if (error) {
    // The system's errors in its own words; a FIFO, a device or an oversized file in ours.
    const std::string reason = error.category() == platform::PlatformCategory()
                                   ? platform::FileErrorText(error, kLargestKeyFile)
                                   : std::string(SystemErrorText(error));
    ReportMessage(msg::kKeyFileUnreadable, {path, reason});
    return auth;
  }
  if (facts.shared) ReportMessage(msg::kKeyFileShared, {path, facts.mode});
  KeyFileContents contents = ParseKeyFile(text);
  if (!contents.error_text.empty()) {
    if (contents.error_line == 0) {
      ReportMessage(msg::kKeyFileUnreadable, {path, contents.error_text});
    } else {
      ReportMessage(msg::kKeyFileMalformed, {path, int64_t{contents.error_line}, contents.error_text});
    }
    return auth;
  }
  // A key the provider refuses (MD5 switched off by a FIPS policy, say) is a fault of its line.
  for (const SymmetricKey& key : contents.keys) {
    uint8_t probe[kNtpMessageWithAuthSize] = {};
    if (!SignMessage(key, probe)) {
      ReportMessage(msg::kKeyFileMalformed,
                    {path, int64_t{key.line}, std::string("der Kryptoanbieter lehnt den Schlüssel ab")});
      return auth;
    }
  }
  auth.keys = std::move(contents.keys);
  const SymmetricKey& own = auth.keys.front();
  ReportMessage(msg::kAuthenticationOn, {int64_t{own.id}, std::string(AlgorithmName(own.algorithm)), path});
  return auth;
}

bool SignMessage(const SymmetricKey& key, uint8_t* bytes) {
  platform::Mac mac;
  if (platform::ComputeMac(key.algorithm, key.secret.data(), key.secret.size(), bytes, kNtpMessageSize, &mac)) {
    return false;
  }
  uint8_t* id = bytes + kKeyIdOffset;
  id[0] = static_cast<uint8_t>(key.id >> 24);
  id[1] = static_cast<uint8_t>(key.id >> 16);
  id[2] = static_cast<uint8_t>(key.id >> 8);
  id[3] = static_cast<uint8_t>(key.id);
  std::copy(mac.begin(), mac.end(), bytes + kMacOffset);
  return true;
}

MacVerdict CheckMac(const Authentication& auth, const uint8_t* bytes, size_t size, bool own_key_only,
                    const SymmetricKey** key) {
  *key = nullptr;
  if (size != kNtpMessageWithAuthSize) return MacVerdict::kMissing;
  const uint32_t id = ReadKeyId(bytes);
  const SymmetricKey* candidate = own_key_only ? auth.Own() : auth.Find(id);
  if (candidate == nullptr || candidate->id != id) return MacVerdict::kUnknownKey;
  platform::Mac mac;
  if (platform::ComputeMac(candidate->algorithm, candidate->secret.data(), candidate->secret.size(), bytes,
                           kNtpMessageSize, &mac) ||
      !platform::EqualInConstantTime(mac.data(), bytes + kMacOffset, platform::kMacSize)) {
    return MacVerdict::kBadMac;
  }
  *key = candidate;
  return MacVerdict::kValid;
}

bool AdmitRequest(const Authentication& auth, StatusBoard& status, const uint8_t* bytes, size_t size,
                  const platform::SocketAddress& from, const SymmetricKey** key) {
  *key = nullptr;
  // An unsigned request is answered unsigned: the client decides whether it needs a MAC.
  if (!auth.required || size != kNtpMessageWithAuthSize) return true;
  const MacVerdict verdict = CheckMac(auth, bytes, size, false, key);
  if (verdict == MacVerdict::kValid) return true;
  status.CountDrop(verdict == MacVerdict::kUnknownKey ? DropReason::kUnknownKey : DropReason::kBadMac);
  if (DebugMode()) {
    Trace("SNTP-Server: NTP Anforderung von %s wird ignoriert, %s.\n", platform::AddressText(from).c_str(),
          VerdictText(verdict, ReadKeyId(bytes), auth.Own() != nullptr).c_str());
  }
  return false;
}

bool AdmitTimeMessage(const Authentication& auth, StatusBoard& status, const uint8_t* bytes, size_t size, unsigned mode,
                      const platform::SocketAddress& from) {
  if (!auth.required) return true;
  const SymmetricKey* key = nullptr;
  const MacVerdict verdict = CheckMac(auth, bytes, size, true, &key);
  if (verdict == MacVerdict::kValid) return true;
  status.CountDrop(verdict == MacVerdict::kUnknownKey ? DropReason::kUnknownKey : DropReason::kBadMac);
  if (DebugMode()) {
    const uint32_t id = size == kNtpMessageWithAuthSize ? ReadKeyId(bytes) : 0;
    Trace("SNTP-Client: NTP %s von %s wird ignoriert, %s.\n", mode == kModeServer ? "Antwort" : "Broadcast",
          platform::AddressText(from).c_str(), VerdictText(verdict, id, auth.Own() != nullptr).c_str());
  }
  return false;
}

}  // namespace chron
