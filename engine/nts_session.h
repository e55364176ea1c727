// What NTS Key Establishment gives the poll client, and the seams between the TLS drivers and
// the NTP path: the client asks an NtsKeyEstablishment for a session, the NTP server opens and
// seals cookies with the ring an NtsServerKeys holds (the NTS-KE server rotates it).
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "engine/nts_cookie.h"

namespace chron::nts {

// The keys and cookies of one NTS-KE exchange, and where NTP with them goes.
struct NtsSession {
  SessionKeys keys;
  std::deque<std::vector<uint8_t>> cookies;  // each used once, oldest first
  std::string ntp_server;                    // the NTS-KE server's host when it named none
  uint16_t ntp_port = 123;
};

enum class NtsKeFailure {
  kNone,
  kConnect,           // no TCP connection to the NTS-KE server (name, route, refused, deadline)
  kHandshake,         // TLS failed, or no TLS 1.3, or no ALPN ntske/1
  kCertificate,       // the chain does not verify against the trusted certificates, or expired
  kName,              // the certificate is not for the server's name
  kProtocolRefused,   // the server speaks no NTPv4
  kAlgorithmRefused,  // the server takes no AEAD_AES_SIV_CMAC_256
  kServerError,       // an Error record (detail: its code), or a Warning not understood
  kMalformed,         // a response that breaks the record rules, or none before the deadline
  kNoCookies,         // a response without cookies
  kNotAvailable,      // this build has no TLS
};

struct NtsKeOutcome {
  NtsKeFailure failure = NtsKeFailure::kNone;
  std::string detail;  // for the report: the library's words, the error code, the record type
  NtsSession session;  // when failure is kNone
};

// The client's way to a session: the TLS driver in the service, a fake in tests.
class NtsKeyEstablishment {
 public:
  virtual ~NtsKeyEstablishment() = default;
  // Blocks at most for the driver's deadline.
  virtual NtsKeOutcome Establish(const std::string& host, uint16_t port) = 0;
};

// The server's cookie keys, read by the receive loop for every NTS request and replaced by the
// NTS-KE server when it rotates them.
class NtsServerKeys {
 public:
  template <typename F>
  auto With(F&& use) const {
    std::shared_lock lock(mutex_);
    return use(ring_);
  }
  void Set(const ServerKeyRing& ring) {
    std::unique_lock lock(mutex_);
    ring_ = ring;
  }

 private:
  mutable std::shared_mutex mutex_;
  ServerKeyRing ring_;
};

}  // namespace chron::nts
