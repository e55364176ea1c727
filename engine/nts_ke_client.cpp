#include "engine/nts_ke_client.h"

#include <span>
#include <vector>

#include "engine/nts_records.h"
#include "platform/tls.h"

namespace chron::nts {
namespace {

NtsKeFailure FailureOf(platform::TlsFailure failure) {
  switch (failure) {
    case platform::TlsFailure::kNone: return NtsKeFailure::kNone;
    case platform::TlsFailure::kConnect: return NtsKeFailure::kConnect;
    case platform::TlsFailure::kHandshake: return NtsKeFailure::kHandshake;
    case platform::TlsFailure::kCertificate: return NtsKeFailure::kCertificate;
    case platform::TlsFailure::kName: return NtsKeFailure::kName;
    case platform::TlsFailure::kIo: return NtsKeFailure::kMalformed;  // no complete response
    case platform::TlsFailure::kNotAvailable: return NtsKeFailure::kNotAvailable;
  }
  return NtsKeFailure::kHandshake;
}

NtsKeOutcome Failed(NtsKeFailure failure, std::string detail) {
  NtsKeOutcome outcome;
  outcome.failure = failure;
  outcome.detail = std::move(detail);
  return outcome;
}

// The outcome of a server's verdict other than kAccept.
NtsKeOutcome Refused(const KeResponseVerdict& verdict) {
  using Kind = KeResponseVerdict::Kind;
  const std::string code = std::to_string(verdict.code);
  switch (verdict.kind) {
    case Kind::kServerError: return Failed(NtsKeFailure::kServerError, "Error " + code);
    case Kind::kServerWarning: return Failed(NtsKeFailure::kServerError, "Warning " + code);
    case Kind::kUnrecognizedCritical: return Failed(NtsKeFailure::kMalformed, "Record " + code);
    case Kind::kProtocolRefused: return Failed(NtsKeFailure::kProtocolRefused, {});
    case Kind::kAlgorithmRefused: return Failed(NtsKeFailure::kAlgorithmRefused, {});
    case Kind::kNoCookies: return Failed(NtsKeFailure::kNoCookies, {});
    case Kind::kMalformed:
    case Kind::kAccept: break;
  }
  return Failed(NtsKeFailure::kMalformed, {});
}

}  // namespace

NtsKeOutcome TlsNtsKeyEstablishment::Establish(const std::string& host, uint16_t port) {
  platform::TlsClientConnection tls;
  std::string detail;
  platform::TlsFailure failure = tls.Connect(host, port, kAlpn, trusted_, deadline_ms_, &detail);
  if (failure != platform::TlsFailure::kNone) return Failed(FailureOf(failure), detail);
  const std::vector<uint8_t> request = BuildKeRequest();
  if ((failure = tls.Write(request, &detail)) != platform::TlsFailure::kNone) {
    return Failed(FailureOf(failure), detail);
  }
  std::vector<uint8_t> response;
  KeParse parse;
  while (parse.status == KeParseStatus::kIncomplete) {
    if ((failure = tls.Read(&response, kMaxKeMessageSize, &detail)) != platform::TlsFailure::kNone) {
      return Failed(FailureOf(failure), detail);
    }
    parse = ParseKeRecords(response);
  }
  if (parse.status == KeParseStatus::kMalformed) return Failed(NtsKeFailure::kMalformed, {});
  KeResponseVerdict verdict = JudgeKeResponse(parse.records);
  if (verdict.kind != KeResponseVerdict::Kind::kAccept) return Refused(verdict);

  NtsKeOutcome outcome;
  NtsSession& session = outcome.session;
  if (!tls.ExportKey(kExporterLabel, ExporterContext(kAeadAesSivCmac256, false), session.keys.c2s) ||
      !tls.ExportKey(kExporterLabel, ExporterContext(kAeadAesSivCmac256, true), session.keys.s2c)) {
    return Failed(NtsKeFailure::kHandshake, "Schlüsselexport abgelehnt");
  }
  for (std::vector<uint8_t>& cookie : verdict.cookies) session.cookies.push_back(std::move(cookie));
  session.ntp_server = verdict.ntp_server.empty() ? host : verdict.ntp_server;
  session.ntp_port = verdict.ntp_port.value_or(123);
  return outcome;
}

}  // namespace chron::nts
