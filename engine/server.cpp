#include "engine/server.h"

#include <array>
#include <optional>
#include <utility>
#include <vector>
#include <shared_mutex>
#include <string>
#include <system_error>

#include "engine/nts_fields.h"
#include "engine/outgoing.h"
#include "engine/shutdown_wait.h"
#include "messages/report.h"

namespace chron {

namespace {

constexpr std::errc kSigningFailed = std::errc::invalid_argument;

// Converts a built message to network order and sends its 48 bytes, or 68 with the key
// identifier and MAC of `key`; no error, or the error.
std::error_code SendMessage(platform::UdpSocket& socket, NtpMessage* message, const platform::SocketAddress& to,
                            const SymmetricKey* key) {
  NtpToNetworkOrder(message);
  std::array<uint8_t, kNtpMessageWithAuthSize> bytes;
  NtpToBytes(*message, bytes.data());
  if (key != nullptr && !SignMessage(*key, bytes.data())) return std::make_error_code(kSigningFailed);
  size_t sent = 0;
  return socket.SendTo(bytes.data(), key != nullptr ? kNtpMessageWithAuthSize : kNtpMessageSize, to, &sent);
}

void ReportSendError(const std::error_code& error) {
  ReportMessage(msg::kWinsockError, {std::string("SNTP-Server"), std::string("sendto"), int64_t{error.value()}});
}

}  // namespace

void ServerReply(const ServerContext& ctx, ReceiveState& state, platform::UdpSocket& socket, const NtpMessage& request,
                 const NtpTimestamp& arrival, const platform::SocketAddress& from, const SymmetricKey* key) {
  const bool debug = DebugMode();
  if (debug) {
    Trace("SNTP-Server: NTP Anforderung von %s empfangen.\n", platform::AddressText(from).c_str());
  }
  // Transmit is read last, so that Receive..Transmit covers our processing.
  const NtpTimestamp reference = NtpNow(ctx.clock);
  NtpMessage reply = BuildReply(request, arrival, reference);
  if (state.replies.collecting) {  // sent with the other replies of this pass, stamped then
    state.replies.Add(socket, reply, from, key);
    return;
  }
  SetTransmitTime(&reply, NtpNow(ctx.clock));

  const std::error_code error = SendMessage(socket, &reply, from, key);
  if (!error) ctx.status.CountAnswered();
  if (error) {
    if (state.reports.Allow(msg::kWinsockError.id)) ReportSendError(error);
  } else if (debug) {
    Trace("SNTP-Server: NTP Antwort an %s verschickt.\n", platform::AddressText(from).c_str());
  }
}

void ServerNtsReply(const ServerContext& ctx, ReceiveState& state, platform::UdpSocket& socket,
                    std::span<const uint8_t> bytes, const NtpMessage& request, const NtpTimestamp& arrival,
                    const platform::SocketAddress& from) {
  using Kind = nts::NtsRequestCheck::Kind;
  const bool debug = DebugMode();
  nts::NtsRequestCheck check;
  std::vector<std::vector<uint8_t>> cookies;
  ctx.nts_keys->With([&](const nts::ServerKeyRing& ring) {
    check = nts::CheckNtsRequest(bytes, ring);
    if (check.kind != Kind::kAuthentic) return;
    for (size_t i = 0; i < check.cookies && ring.current; ++i) {
      std::optional<std::vector<uint8_t>> cookie = nts::SealCookie(*ring.current, check.keys);
      if (!cookie) break;
      cookies.push_back(std::move(*cookie));
    }
  });
  // Without a current key or a working crypto provider there is nothing to answer with.
  if (check.kind == Kind::kDrop || (check.kind == Kind::kAuthentic && cookies.size() != check.cookies)) {
    ctx.status.CountNtsRefused();
    ctx.status.CountDrop(DropReason::kNtsNotAuthentic);
    if (debug) {
      Trace("SNTP-Server: NTP Anforderung von %s wird ignoriert, keine gültige NTS Anforderung.\n",
            platform::AddressText(from).c_str());
    }
    return;
  }
  NtpMessage reply = BuildReply(request, arrival, NtpNow(ctx.clock));
  SetTransmitTime(&reply, NtpNow(ctx.clock));
  NtpToNetworkOrder(&reply);
  std::array<uint8_t, kNtpMessageSize> header;
  NtpToBytes(reply, header.data());
  std::optional<std::vector<uint8_t>> answer;
  if (check.kind == Kind::kAuthentic) {
    answer = nts::BuildNtsReply(header, check.uid, check.keys, cookies);
  } else {
    answer = nts::BuildNtsNak(header, check.uid);
  }
  std::error_code error = std::make_error_code(kSigningFailed);
  size_t sent = 0;
  if (answer) error = socket.SendTo(answer->data(), answer->size(), from, &sent);
  if (error) {
    ctx.status.CountNtsRefused();
    if (state.reports.Allow(msg::kWinsockError.id)) ReportSendError(error);
    return;
  }
  if (check.kind == Kind::kAuthentic) {
    ctx.status.CountAnswered();
    ctx.status.CountNtsAnswered();
  } else {
    ctx.status.CountNtsRefused();
  }
  if (debug) {
    Trace("SNTP-Server: NTP Antwort %san %s verschickt.\n", check.kind == Kind::kAuthentic ? "mit NTS " : "NTS NAK ",
          platform::AddressText(from).c_str());
  }
}

void BroadcastThread(const ServerContext& ctx) {
  ctx.stop.start.Wait(platform::kInfinite);
  const int64_t interval_ms = int64_t{ctx.config.server_broadcast_interval} * 1000;
  // A lost address fails every pass until it returns or its row is gone.
  ReportLimit send_reports;
  for (;;) {
    // The receive loop may change the table when the system's addresses change.
    std::shared_lock table_lock(ctx.sockets.adapters_mutex);
    platform::SocketAddress destination;
    destination.family = platform::kAfInet;
    destination.port = platform::HostToNetwork16(kNtpPort);
    destination.address = 0xFFFFFFFFu;  // 255.255.255.255, the same in either byte order

    for (AdapterEntry& entry : ctx.sockets.adapters) {
      if (!entry.in_use || !entry.socket) continue;
      // With a key file every broadcast is signed; without a usable key none is sent.
      const SymmetricKey* key = ctx.auth.required ? ctx.auth.Own() : nullptr;
      if (ctx.auth.required && key == nullptr) {
        if (DebugMode()) {
          Trace("SNTP-Server: NTP Broadcast auf Netzwerkadapter %s (%s) nicht verschickt, kein gültiger Schlüssel.\n",
                entry.name.c_str(), platform::DottedAddress(entry.address.address).c_str());
        }
        continue;
      }
      NtpMessage broadcast = BuildBroadcast(NtpNow(ctx.clock));
      SetTransmitTime(&broadcast, NtpNow(ctx.clock));

      const std::error_code error = SendMessage(*entry.socket, &broadcast, destination, key);
      if (!error) ctx.status.CountBroadcast();
      if (error) {
        if (send_reports.Allow(msg::kWinsockError.id)) ReportSendError(error);
      } else if (DebugMode()) {
        Trace("SNTP-Server: NTP Broadcast auf Netzwerkadapter %s (%s) verschickt.\n", entry.name.c_str(),
              platform::DottedAddress(entry.address.address).c_str());
      }
    }

    table_lock.unlock();
    if (WaitForShutdown(ctx.stop.shutdown, interval_ms)) {
      send_reports.Flush();
      ReportMessage(msg::kBroadcastStopped);
      return;
    }
  }
}

}  // namespace chron
