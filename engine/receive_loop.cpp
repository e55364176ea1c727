#include "engine/receive_loop.h"

#include <array>
#include <chrono>
#include <system_error>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "engine/auth.h"
#include "engine/client.h"
#include "engine/ntp_message.h"
#include "engine/nts_client.h"
#include "engine/server.h"
#include "engine/shutdown_wait.h"
#include "messages/report.h"

namespace chron {

namespace {

// Up to 64 distinct in-use sockets in table order, as the wait watches them, and the IPv6 socket.
std::vector<platform::UdpSocket*> WatchedSockets(const ReceiveContext& ctx) {
  std::vector<platform::UdpSocket*> sockets;
  for (const AdapterEntry& entry : ctx.sockets.adapters) {
    if (!entry.in_use || !entry.socket) continue;
    platform::UdpSocket* socket = entry.socket.get();
    bool known = false;
    for (platform::UdpSocket* s : sockets) known = known || s == socket;
    if (!known && sockets.size() < static_cast<size_t>(kMaxAdapters)) sockets.push_back(socket);
  }
  if (ctx.sockets.ipv6_socket) sockets.push_back(ctx.sockets.ipv6_socket.get());
  return sockets;
}

// Datagrams taken from one socket in one pass of the loop.
constexpr size_t kMostPerPass = 32;

// A kernel stamp older than this cannot belong to a datagram that merely waited in the queue:
// the clock was stepped in between (for instance by a reply handled from the same batch).
constexpr int64_t kMaxQueueingNs = 1'000'000'000;

// T4 of a datagram: the system's arrival stamp moved onto the service's clock, or, where the
// system gave none or the clock has been stepped since (the stamp is later than now or implausibly
// old), the clock read now, directly after the read.
NtpTimestamp ArrivalTime(platform::Clock& clock, const std::optional<int64_t>& stamp) {
  const int64_t now = clock.NowNanoseconds();
  if (stamp) {
    const int64_t arrival = clock.FromSystemTime(*stamp);
    if (arrival <= now && now - arrival <= kMaxQueueingNs) return NtpFromNanoseconds(arrival);
  }
  return NtpFromNanoseconds(now);
}

// WakeReceiveLoop with stop.mutex held.
void WakeLocked(StopControl& stop, Sockets& sockets) {
  if (!stop.may_wake) return;
  for (AdapterEntry& entry : sockets.adapters) {
    if (!entry.in_use) continue;
    if (entry.socket) {
      size_t sent = 0;
      const std::error_code error = entry.socket->SendTo("", 0, entry.address, &sent);
      if (error) ReportMessage(msg::kShutdownPacketFailed, {int64_t{error.value()}});
    }
    break;  // only the first entry's own socket
  }
  if (stop.loop_waiter != nullptr) stop.loop_waiter->Wake();
}

// After a change of the system's addresses: the table is brought up to date and the wait
// watches its sockets from now on. A stop that came meanwhile woke the old waiter: the new one
// is woken as well.
void FollowAddresses(const ReceiveContext& ctx, std::vector<platform::UdpSocket*>* sockets,
                     std::unique_ptr<platform::SocketWaiter>* waiter) {
  ctx.sockets.follow_addresses();
  ctx.status.AdaptersChanged();
  *sockets = WatchedSockets(ctx);
  std::unique_ptr<platform::SocketWaiter> next = ctx.network.CreateWaiter(*sockets);
  std::lock_guard lock(ctx.stop.mutex);
  ctx.stop.loop_waiter = next.get();
  waiter->swap(next);
  if (ctx.stop.shutdown.Wait(0)) WakeLocked(ctx.stop, ctx.sockets);
}

// A datagram of a known length as read: its bytes, the message in host order, T4 and its origin.
struct Datagram {
  const uint8_t* bytes;
  size_t size;
  const NtpMessage& message;
  const NtpTimestamp& arrival;
  const platform::ReceivedFrom& origin;
};

// Sends the Kiss-o'-Death RATE to a request over its source's limit; at once, as its Transmit
// Timestamp is the request's, not one for the batch to set.
void SendRateKiss(const ReceiveContext& ctx, ReceiveState& state, platform::UdpSocket& socket, const Datagram& d) {
  NtpMessage kiss = RateKiss(d.message, ctx.protection.rate.interval);
  NtpToNetworkOrder(&kiss);
  std::array<uint8_t, kNtpMessageSize> bytes;
  NtpToBytes(kiss, bytes.data());
  size_t sent = 0;
  const std::error_code error = socket.SendTo(bytes.data(), bytes.size(), d.origin.source, &sent);
  if (!error) {
    ctx.status.CountKiss();
    if (DebugMode()) {
      Trace("SNTP-Server: NTP Kiss-o'-Death RATE an %s verschickt.\n", platform::AddressText(d.origin.source).c_str());
    }
  } else if (state.reports.Allow(msg::kWinsockError.id)) {
    ReportMessage(msg::kWinsockError, {std::string("SNTP-Server"), std::string("sendto"), int64_t{error.value()}});
  }
}

// An admitted request as the rate limit decides: the time, a Kiss-o'-Death, or nothing.
void AnswerWithinLimits(const ReceiveContext& ctx, ReceiveState& state, platform::UdpSocket& socket, const Datagram& d,
                        const SymmetricKey* key) {
  RateVerdict verdict = RateVerdict::kAnswer;
  if (state.limiter.Active()) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    verdict = state.limiter.Decide(d.origin.source, std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
  }
  if (verdict == RateVerdict::kAnswer && d.size > kNtpMessageWithAuthSize) {
    ServerNtsReply(ctx.server, state, socket, {d.bytes, d.size}, d.message, d.arrival, d.origin.source);
  } else if (verdict == RateVerdict::kAnswer) {
    ServerReply(ctx.server, state, socket, d.message, d.arrival, d.origin.source, key);
  } else if (verdict == RateVerdict::kKiss) {
    SendRateKiss(ctx, state, socket, d);
  } else {
    const bool ceiling = verdict == RateVerdict::kDropCeiling;
    ctx.status.CountDrop(ceiling ? DropReason::kRateCeiling : DropReason::kRateLimited);
    if (DebugMode()) {
      Trace("SNTP-Network: NTP Nachricht: %s von %s wird ignoriert, %s.\n", ModeText(kModeClient),
            platform::AddressText(d.origin.source).c_str(),
            ceiling ? "Obergrenze der Antworten je Sekunde erreicht" : "Absender fragt zu oft");
    }
  }
}

// Drops a datagram whose sender the lists refuse, with its trace.
void RefuseByList(const ReceiveContext& ctx, unsigned mode, const platform::SocketAddress& from) {
  ctx.status.CountDrop(DropReason::kRefusedByList);
  if (DebugMode()) {
    Trace("SNTP-Network: NTP Nachricht: %s von %s wird ignoriert, Absender nicht zugelassen.\n", ModeText(mode),
          platform::AddressText(from).c_str());
  }
}

// A request while the server runs: answered unless its source or version rules it out, the
// lists or the authentication refuse it, or the rate limit holds it back.
void HandleRequest(const ReceiveContext& ctx, ReceiveState& state, platform::UdpSocket& socket, const Datagram& d) {
  const platform::SocketAddress& from = d.origin.source;
  const unsigned version = GetVersionNumber(d.message);
  const SymmetricKey* key = nullptr;
  if (!IsAnswerableSource(ctx.sockets.host_addresses, ctx.network, from)) {
    ctx.status.CountDrop(DropReason::kBadSource);
    if (DebugMode()) {
      Trace("SNTP-Network: NTP Nachricht: %s von %s (Port %u) wird ignoriert, Absenderadresse ungültig.\n",
            ModeText(kModeClient), platform::AddressText(from).c_str(),
            static_cast<unsigned>(platform::NetworkToHost16(from.port)));
    }
  } else if (version < 1 || version > 4) {
    // The reply repeats the request's version: none is made for a version that does not exist.
    ctx.status.CountDrop(DropReason::kUnknownVersion);
    if (DebugMode()) {
      Trace("SNTP-Network: NTP Nachricht: %s von %s wird ignoriert, Version %u unbekannt.\n", ModeText(kModeClient),
            platform::AddressText(from).c_str(), version);
    }
  } else if (!ctx.protection.server.Admits(from)) {
    RefuseByList(ctx, kModeClient, from);
  } else if (AdmitRequest(ctx.server.auth, ctx.status, d.bytes, d.size, from, &key)) {
    AnswerWithinLimits(ctx, state, socket, d, key);
  }
}

// Hands the datagram to the part that takes its mode. False when no active part takes it.
bool Dispatch(const ReceiveContext& ctx, ReceiveState& state, platform::UdpSocket& socket, const Datagram& d) {
  const platform::SocketAddress& from = d.origin.source;
  const unsigned mode = GetMode(d.message);
  switch (mode) {
    case kModeClient:
      if (!ctx.roles.server_active) return false;
      HandleRequest(ctx, state, socket, d);
      return true;
    case kModeServer:
      if (!ctx.roles.client_active) return false;
      // With NTS only NTS authenticates replies; the key file still signs what the server sends.
      if (ctx.client.config.client_nts != 0) {
        NtsHandleReply(ctx.client, d.bytes, d.size, d.message, d.arrival, from);
      } else if (AdmitTimeMessage(ctx.client.auth, ctx.status, d.bytes, d.size, mode, from))
        ClientHandleMessage(ctx.client, d.message, d.arrival, from);
      return true;
    case kModeBroadcast:
      if (!ctx.roles.client_accepts_broadcasts) return false;
      // Sent straight to this host it is a forgery: a server broadcasts to everyone.
      if (!d.origin.broadcast) {
        ctx.status.CountDrop(DropReason::kNotBroadcast);
        if (DebugMode()) {
          Trace("SNTP-Network: NTP Nachricht: %s von %s wird ignoriert, nicht als Broadcast empfangen.\n",
                ModeText(mode), platform::AddressText(from).c_str());
        }
      } else if (!ctx.protection.TakesBroadcastFrom(from)) {
        RefuseByList(ctx, mode, from);
      } else if (AdmitTimeMessage(ctx.client.auth, ctx.status, d.bytes, d.size, mode, from)) {
        ClientHandleMessage(ctx.client, d.message, d.arrival, from);
      }
      return true;
    default: return false;
  }
}

}  // namespace

void WakeReceiveLoop(StopControl& stop, Sockets& sockets) {
  std::lock_guard lock(stop.mutex);
  WakeLocked(stop, sockets);
}

void ReceiveOne(const ReceiveContext& ctx, ReceiveState& state, platform::UdpSocket& socket) {
  // Room for the longest datagram of interest, so that a longer one (extension fields, NTS) is
  // told by its length like any other unknown format instead of failing the read.
  std::array<uint8_t, kReceiveBufferSize> buffer{};
  size_t received = 0;
  platform::ReceivedFrom origin;
  std::optional<int64_t> stamp;
  const std::error_code error = socket.ReceiveFrom(buffer.data(), buffer.size(), &received, &origin, &stamp);
  // T4: nothing may come between the read and the clock.
  const NtpTimestamp arrival = ArrivalTime(ctx.clock, stamp);
  NtpMessage message;
  NtpFromBytes(buffer.data(), &message);
  NtpToHostOrder(&message);

  // A datagram longer than the buffer is not this host's error: it goes on to be ignored by its
  // length below.
  if (error && !origin.truncated) {
    if (state.reports.Allow(msg::kWinsockError.id)) {
      ReportMessage(msg::kWinsockError,
                    {std::string("SNTP-Network"), std::string("recvfrom()"), int64_t{error.value()}});
    }
    return;
  }
  if (received == 0) return;  // the wake-up datagram of a stop request
  // A broadcast arrives once per socket of its interface: the copies after the first go unseen.
  if (origin.broadcast &&
      state.broadcast_copies.Repeated(origin.source, buffer.data(), received, std::chrono::steady_clock::now())) {
    return;
  }

  const platform::SocketAddress& from = origin.source;
  const unsigned mode = GetMode(message);
  const bool debug = DebugMode();
  if (debug) {
    Trace("SNTP-Network: NTP Nachricht %d mit %d Bytes von %s erhalten.\n", static_cast<int>(mode),
          static_cast<int>(received), platform::AddressText(from).c_str());
  }
  // Longer ones carry extension fields: NTS's, where NTS is on for their direction.
  const bool nts = (mode == kModeClient && ctx.server.nts_keys != nullptr) ||
                   (mode == kModeServer && ctx.client.config.client_nts != 0);
  const bool extended = nts && received > kNtpMessageWithAuthSize && received % 4 == 0 && !origin.truncated;
  if (received != kNtpMessageSize && received != kNtpMessageWithAuthSize && !extended) {
    ctx.status.CountDrop(DropReason::kMalformed);
    if (debug) {
      Trace("SNTP-Network: NTP Nachricht (%d/%d) von %s ignoriert, Format unbekannt.\n", static_cast<int>(mode),
            static_cast<int>(received), platform::AddressText(from).c_str());
    }
    return;
  }
  if (Dispatch(ctx, state, socket, Datagram{buffer.data(), received, message, arrival, origin})) return;
  ctx.status.CountDrop(DropReason::kUnexpectedMode);
  if (debug) {
    Trace("SNTP-Network: NTP Nachricht: %s von %s wird ignoriert.\n", ModeText(mode),
          platform::AddressText(from).c_str());
  }
}

const char* ModeText(unsigned mode) {
  static constexpr const char* kTexts[8] = {
      "0 (reserved)", "1 (symmetric active)", "2 (symmetric passive)", "3 (client)",
      "4 (server)",   "5 (broadcast)",        "6 (control msg)",       "7 (private use)",
  };
  return kTexts[mode & 7];
}

namespace {

// The watch's thread only marks the change and ends the current wait; the loop's thread follows
// it. None where the addresses are not followed.
std::unique_ptr<platform::AddressWatch> WatchAddresses(const ReceiveContext& ctx) {
  if (!ctx.sockets.follow_addresses) return nullptr;
  return ctx.network.WatchAddresses([&ctx] {
    ctx.sockets.addresses_changed = true;
    std::lock_guard lock(ctx.stop.mutex);
    if (ctx.stop.loop_waiter != nullptr) ctx.stop.loop_waiter->Nudge();
  });
}

// The datagrams a socket has already fetched are taken in the same pass (up to a bound, so that
// no socket starves the others), and the replies to them go out together at its end. In debug
// mode each reply goes out at once, so that the trace shows each exchange whole.
void ReceivePass(const ReceiveContext& ctx, ReceiveState& state, const std::vector<platform::UdpSocket*>& sockets,
                 const std::vector<bool>& readable) {
  state.replies.collecting = !DebugMode();
  for (size_t i = 0; i < sockets.size() && i < readable.size(); ++i) {
    if (!readable[i]) continue;
    size_t taken = 0;
    do {
      ReceiveOne(ctx, state, *sockets[i]);
    } while (sockets[i]->Fetched() > 0 && ++taken < kMostPerPass);
  }
  state.replies.collecting = false;
  ctx.status.CountAnswered(state.replies.Send(ctx.clock, state.reports));
  ctx.status.RateTable(state.limiter.Used(), state.limiter.Capacity());
}

}  // namespace

void ReceiveLoop(const ReceiveContext& ctx) {
  ReceiveState state;
  if (ctx.roles.server_active) {
    // The ceiling alone has no table to key.
    state.limiter =
        RateLimiter(ctx.protection.rate, ctx.protection.rate.per_source ? RandomRateHashKey() : RateHashKey{});
  }
  if (ctx.server.nts_keys != nullptr && ctx.roles.server_active) ctx.status.NtsServing();
  ReportMessage(msg::kServiceReady);

  // The sockets change only with the system's addresses: one waiter until then, so a pass costs
  // nothing per socket that is not readable.
  std::vector<platform::UdpSocket*> sockets = WatchedSockets(ctx);
  std::unique_ptr<platform::SocketWaiter> waiter = ctx.network.CreateWaiter(sockets);
  std::vector<bool> readable(sockets.size(), false);
  {
    std::lock_guard lock(ctx.stop.mutex);
    ctx.stop.may_wake = true;
    ctx.stop.loop_waiter = waiter.get();
    // A stop requested during start-up could not wake anything yet.
    if (ctx.stop.shutdown.Wait(0)) WakeLocked(ctx.stop, ctx.sockets);
  }
  std::unique_ptr<platform::AddressWatch> watch = WatchAddresses(ctx);
  ctx.stop.start.Set();

  bool leave = false;
  while (!leave) {
    const std::error_code wait_error =
        waiter ? waiter->Wait(&readable) : std::make_error_code(std::errc::bad_file_descriptor);
    if (wait_error) {
      ReportMessage(msg::kWinsockError,
                    {std::string("SNTP-Network"), std::string("select()"), int64_t{wait_error.value()}});
      // A persisting failure must neither spin nor keep a stop from ending the loop.
      if (WaitForShutdown(ctx.stop.shutdown, kFailureBackoffMs)) {
        ReportMessage(msg::kServiceStopped);
        leave = true;
      }
      continue;
    }
    ReceivePass(ctx, state, sockets, readable);
    if (ctx.sockets.addresses_changed.exchange(false)) FollowAddresses(ctx, &sockets, &waiter);
    if (ctx.stop.shutdown.Wait(0)) {
      ReportMessage(msg::kServiceStopped);
      leave = true;
    }
  }
  watch.reset();  // no change is followed after the loop
  state.reports.Flush();

  {
    std::lock_guard lock(ctx.stop.mutex);
    ctx.stop.loop_waiter = nullptr;  // destroyed on return; a later stop still sends its datagram
  }
  if (ctx.stop.release_instance) ctx.stop.release_instance();
}

}  // namespace chron
