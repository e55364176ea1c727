// The poll client's side of Network Time Security (Client\NTS = 1): it gets keys and cookies from
// the NTS-KE server at Client\TimeSource, sends each request with a fresh Unique Identifier and
// one cookie, and takes only replies whose identifier and authenticator check. There is no
// fallback: while NTS-KE fails, no request is sent and no time taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "config/configuration.h"
#include "engine/nts_fields.h"
#include "engine/nts_session.h"
#include "platform/address.h"

namespace chron {

struct ClientContext;
struct NtpMessage;
struct NtpTimestamp;

// The TCP port of NTS-KE (RFC 8915 section 4).
inline constexpr uint16_t kNtsKePort = 4460;
// The cookies a client keeps (RFC 8915 section 5.7 asks for eight).
inline constexpr size_t kNtsCookiesKept = 8;

// The session and the identifier of the outstanding request: the poll thread sends, the receive
// thread takes replies, both under `mutex`.
struct NtsClientState {
  std::mutex mutex;
  std::optional<nts::NtsSession> session;
  std::optional<nts::UniqueId> pending_uid;
};

// At start: reports the NTS values set that this build cannot use when `tls_available` is false
// (a client with Client\NTS then takes no time), and that a broadcast client cannot take NTS
// (Client\NTS with Client\Broadcast: it takes no broadcasts).
void ReportNtsSettings(const Configuration& config, bool tls_available);

// Before a poll: a session with a cookie, made by NTS-KE where there is none (a failure reported
// with the report limit), and the address NTP with it goes to. False: no request this poll.
bool NtsPrepare(const ClientContext& ctx, platform::SocketAddress* server);

// The request whose 48-byte `header` (network order) is given, with a fresh identifier (kept as
// the pending one), the oldest cookie and placeholders to bring the cookies back to eight. None
// when there is no session or the crypto provider failed.
std::optional<std::vector<uint8_t>> NtsSealRequest(const ClientContext& ctx, std::span<const uint8_t> header);

// A Mode-4 reply of `size` bytes while Client\NTS is on: authentic ones go on to the usual checks
// (ClientHandleMessage) and refill the cookies, an NTS NAK ends the session, everything else is
// dropped as nts_not_authentic. Returns 1 when the clock was set.
int NtsHandleReply(const ClientContext& ctx, const uint8_t* bytes, size_t size, const NtpMessage& m,
                   const NtpTimestamp& t4, const platform::SocketAddress& from);

}  // namespace chron
