#include "engine/nts_client.h"

#include <string>
#include <system_error>
#include <utility>

#include "engine/client.h"
#include "engine/contexts.h"
#include "engine/ntp_message.h"
#include "engine/time_source.h"
#include "messages/report.h"

namespace chron {
namespace {

// Reports a failed NTS-KE in words. A failure goes out once until NTS-KE has worked again or
// fails otherwise, and through the poll thread's report limit.
void ReportKeFailure(const ClientContext& ctx, const nts::NtsKeOutcome& outcome) {
  using F = nts::NtsKeFailure;
  const std::string& host = ctx.config.client_time_source;
  const std::string& detail = outcome.detail;
  uint32_t id = msg::kNtsKeResponseInvalid.id;
  switch (outcome.failure) {
    case F::kConnect: id = msg::kNtsKeConnectFailed.id; break;
    case F::kHandshake: id = msg::kNtsKeHandshakeFailed.id; break;
    case F::kCertificate: id = msg::kNtsKeCertificateRefused.id; break;
    case F::kName: id = msg::kNtsKeNameMismatch.id; break;
    case F::kProtocolRefused:
    case F::kAlgorithmRefused: id = msg::kNtsKeRefused.id; break;
    case F::kNotAvailable: id = msg::kNtsNotAvailable.id; break;
    default: break;
  }
  if (!ctx.state.reports.Allow(id)) return;
  switch (outcome.failure) {
    case F::kConnect: ReportMessage(msg::kNtsKeConnectFailed, {host, int64_t{kNtsKePort}, detail}); break;
    case F::kHandshake: ReportMessage(msg::kNtsKeHandshakeFailed, {host, detail}); break;
    case F::kCertificate: ReportMessage(msg::kNtsKeCertificateRefused, {host, detail}); break;
    case F::kName: ReportMessage(msg::kNtsKeNameMismatch, {host}); break;
    case F::kProtocolRefused: ReportMessage(msg::kNtsKeRefused, {host, "NTPv4"}); break;
    case F::kAlgorithmRefused: ReportMessage(msg::kNtsKeRefused, {host, "AEAD_AES_SIV_CMAC_256"}); break;
    case F::kNotAvailable: ReportMessage(msg::kNtsNotAvailable, {"Client\\NTS"}); break;
    case F::kServerError:
      ReportMessage(msg::kNtsKeResponseInvalid, {host, "der Server meldet den Fehler " + detail});
      break;
    case F::kNoCookies: ReportMessage(msg::kNtsKeResponseInvalid, {host, "sie enthält keine Cookies"}); break;
    case F::kMalformed:
    case F::kNone:
      ReportMessage(msg::kNtsKeResponseInvalid, {host, detail.empty() ? std::string("Datensätze fehlerhaft") : detail});
      break;
  }
}

// The address of the session's NTP server, found as Client\TimeSource is: a dotted IPv4 address
// as it stands, a name or IPv6 address through the system's resolver.
bool ResolveNtpServer(const ClientContext& ctx, const nts::NtsSession& session, platform::SocketAddress* out) {
  const std::string& name = session.ntp_server.empty() ? ctx.config.client_time_source : session.ntp_server;
  uint32_t address = platform::ParseDottedAddress(name);
  std::error_code error;
  if (address == platform::kInaddrNone && ctx.sockets.ipv6_socket) {
    error = ctx.network.ResolveAny(WithoutBrackets(name), out);
  } else {
    if (address == platform::kInaddrNone) error = ctx.network.ResolveHost(name, &address);
    out->family = platform::kAfInet;
    out->address = address;
  }
  if (error) {
    ReportMessage(msg::kResolveFailed, {name, error.message()});
    return false;
  }
  out->port = platform::HostToNetwork16(session.ntp_port);
  return true;
}

}  // namespace

void ReportNtsSettings(const Configuration& config, bool tls_available) {
  if (config.client_active != 0 && config.client_nts != 0 && config.client_broadcast != 0) {
    ReportMessage(msg::kNtsNoBroadcasts);
  }
  if (tls_available) return;
  std::string set;
  const auto name = [&](bool present, const char* value) {
    if (present) set += (set.empty() ? "" : ", ") + std::string(value);
  };
  name(config.client_nts != 0, "Client\\NTS");
  name(!config.nts_trusted_certificates.empty(), "NtsTrustedCertificates");
  name(!config.nts_server_certificate.empty(), "NtsServerCertificate");
  name(!config.nts_server_key.empty(), "NtsServerKey");
  if (!set.empty()) ReportMessage(msg::kNtsNotAvailable, {set});
}

bool NtsPrepare(const ClientContext& ctx, platform::SocketAddress* server) {
  NtsClientState& nts = ctx.state.nts;
  std::unique_lock lock(nts.mutex);
  if (!nts.session || nts.session->cookies.empty()) {
    nts.session.reset();
    nts.pending_uid.reset();
    lock.unlock();
    // Without a driver (no TLS in this build) a client with NTS takes no time; the start has
    // reported that (ReportNtsSettings).
    nts::NtsKeOutcome outcome;
    outcome.failure = nts::NtsKeFailure::kNotAvailable;
    if (ctx.nts_ke != nullptr) outcome = ctx.nts_ke->Establish(ctx.config.client_time_source, kNtsKePort);
    if (outcome.failure == nts::NtsKeFailure::kNone && outcome.session.cookies.empty()) {
      outcome.failure = nts::NtsKeFailure::kNoCookies;
    }
    if (outcome.failure != nts::NtsKeFailure::kNone) {
      const bool repeated =
          ctx.state.nts_failure.exchange(static_cast<int>(outcome.failure)) == static_cast<int>(outcome.failure);
      if (!repeated && ctx.nts_ke != nullptr) ReportKeFailure(ctx, outcome);
      ctx.status.NtsClient(false, 0);
      return false;
    }
    ctx.state.nts_failure.store(static_cast<int>(nts::NtsKeFailure::kNone));
    lock.lock();
    nts.session = std::move(outcome.session);
  }
  const nts::NtsSession session = *nts.session;
  lock.unlock();
  return ResolveNtpServer(ctx, session, server);
}

std::optional<std::vector<uint8_t>> NtsSealRequest(const ClientContext& ctx, std::span<const uint8_t> header) {
  NtsClientState& nts = ctx.state.nts;
  std::lock_guard lock(nts.mutex);
  if (!nts.session || nts.session->cookies.empty()) return std::nullopt;
  const std::optional<nts::UniqueId> uid = nts::NewUniqueId();
  if (!uid) return std::nullopt;
  std::deque<std::vector<uint8_t>>& cookies = nts.session->cookies;
  const size_t left = cookies.size() - 1;
  const size_t placeholders = left < kNtsCookiesKept - 1 ? kNtsCookiesKept - 1 - left : 0;
  std::optional<std::vector<uint8_t>> request =
      nts::BuildNtsRequest(header, *uid, cookies.front(), placeholders, nts.session->keys);
  if (!request) return std::nullopt;
  // The cookie goes with this request: a second use would let an observer link the two.
  cookies.pop_front();
  nts.pending_uid = *uid;
  return request;
}

int NtsHandleReply(const ClientContext& ctx, const uint8_t* bytes, size_t size, const NtpMessage& m,
                   const NtpTimestamp& t4, const platform::SocketAddress& from) {
  NtsClientState& nts = ctx.state.nts;
  nts::NtsReplyCheck check;
  uint32_t cookies = 0;
  {
    std::lock_guard lock(nts.mutex);
    if (nts.session && nts.pending_uid) check = nts::CheckNtsReply({bytes, size}, *nts.pending_uid, nts.session->keys);
    if (check.kind == nts::NtsReplyCheck::Kind::kNak) {
      // The server no longer opens our cookies: the next poll does NTS-KE again.
      nts.session.reset();
      nts.pending_uid.reset();
    } else if (check.kind == nts::NtsReplyCheck::Kind::kAuthentic) {
      for (std::vector<uint8_t>& cookie : check.cookies) {
        if (nts.session->cookies.size() < kNtsCookiesKept) nts.session->cookies.push_back(std::move(cookie));
      }
      nts.pending_uid.reset();  // a copy of the reply finds nothing outstanding
      cookies = static_cast<uint32_t>(nts.session->cookies.size());
    }
  }
  if (check.kind == nts::NtsReplyCheck::Kind::kAuthentic) {
    const int result = ClientHandleMessage(ctx, m, t4, from);
    ctx.status.NtsClient(true, cookies);
    return result;
  }
  const bool nak = check.kind == nts::NtsReplyCheck::Kind::kNak;
  ctx.status.CountDrop(nak ? DropReason::kStratum0 : DropReason::kNtsNotAuthentic);
  if (nak) ctx.status.NtsClient(false, 0);
  if (DebugMode()) {
    const char* why =
        nak ? "NTS NAK (Kiss-o'-Death \"NTSN\"), neuer Schlüsselaustausch folgt" : "nicht mit NTS authentifiziert";
    Trace("SNTP-Client: NTP Antwort von %s wird ignoriert, %s.\n", platform::AddressText(from).c_str(), why);
  }
  return 0;
}

}  // namespace chron
