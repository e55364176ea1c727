// The poll client's NTS-KE over TLS 1.3: one connection per Establish, everything within the
// deadline, the certificate checked against the trusted certificates and the host's name.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "engine/nts_session.h"

namespace chron::nts {

inline constexpr int64_t kKeClientDeadlineMs = 10000;

class TlsNtsKeyEstablishment : public NtsKeyEstablishment {
 public:
  // `trusted_certificates`: a PEM file of the certificates to trust; empty: the system's.
  explicit TlsNtsKeyEstablishment(std::string trusted_certificates, int64_t deadline_ms = kKeClientDeadlineMs)
      : trusted_(std::move(trusted_certificates)), deadline_ms_(deadline_ms) {}
  NtsKeOutcome Establish(const std::string& host, uint16_t port) override;

 private:
  std::string trusted_;
  int64_t deadline_ms_;
};

}  // namespace chron::nts
