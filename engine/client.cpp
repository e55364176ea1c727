#include "engine/client.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/client_math.h"
#include "engine/drop_reason.h"
#include "engine/exchange.h"
#include "engine/nts_client.h"
#include "engine/outgoing.h"
#include "engine/request_adapter.h"
#include "engine/clock_discipline.h"
#include "engine/shutdown_wait.h"
#include "engine/time_source.h"
#include "messages/report.h"
#include "platform/clock.h"

namespace chron {

namespace {

constexpr int64_t kNanosecondsPerSecond = 1'000'000'000;

unsigned long long Hex(const NtpTimestamp& t) { return TimestampToUint64(t); }

void TraceTimestamp(const char* label, const NtpTimestamp& t) {
  Trace("SNTP-Client: %s: %s\t%llX\n", label, FormatTimestamp(t).c_str(), Hex(t));
}

// Linux hears its own broadcasts: one sent from any address of this host is no time source.
// The adapter table alone does not know them all: a wildcard row (0.0.0.0) sends from the
// addresses of its interfaces.
bool IsOwnAddress(const ClientContext& ctx, uint32_t address) {
  for (const AdapterEntry& entry : ctx.sockets.adapters) {
    if (entry.in_use && entry.address.address == address) return true;
  }
  return ctx.sockets.host_addresses.IsOwn(ctx.network, address);
}

// The socket the latest request went out through, whose address the replies come to.
platform::UdpSocket* RequestSocket(const ClientContext& ctx) {
  const int row = ctx.state.request_adapter.load();
  if (row == kIpv6Request) return ctx.sockets.ipv6_socket.get();
  return ctx.sockets.adapters[static_cast<size_t>(row)].socket.get();
}

// T1 of a reply to the request in `originate`: the request's departure as the system stamped it
// where it has one for it, otherwise the clock's reading the request carried. The reading comes
// before the whole send path through the system, which takes tens of microseconds more for a
// request after a second of idleness than for the reply the server sends at once, and SNTP
// halves that difference into the offset.
uint64_t RequestT1(const ClientContext& ctx, const NtpTimestamp& originate, const NtpTimestamp& t4) {
  platform::UdpSocket* socket = RequestSocket(ctx);
  const std::optional<int64_t> stamp = socket != nullptr ? socket->LatestDeparture() : std::nullopt;
  std::optional<uint64_t> departure;
  if (stamp) departure = TimestampToUint64(NtpFromNanoseconds(ctx.clock.FromSystemTime(*stamp)));
  // The random bits below the clock's resolution may lift the Transmit Timestamp above its reading.
  const int64_t resolution = std::clamp<int64_t>(ctx.clock.ResolutionNanoseconds(), 1, kNanosecondsPerSecond);
  const uint64_t slack = (static_cast<uint64_t>(resolution) << 32) / kNanosecondsPerSecond + 1;
  return RequestDeparture(TimestampToUint64(originate), departure, TimestampToUint64(t4), slack);
}

// The request's bytes, with NTS's fields (and no MAC: NTS authenticates it), or room for the own
// key's MAC with a key file, or plain; `transmit` its Transmit Timestamp. None, traced, when it
// cannot be sent: with a key file but no usable key no reply could be accepted, with NTS no
// cookie is at hand.
std::optional<std::vector<uint8_t>> RequestBytes(const ClientContext& ctx, const platform::SocketAddress& server,
                                                 const SymmetricKey* key, uint64_t* transmit) {
  // The Transmit Timestamp: the clock's reading with random bits below its resolution.
  NtpMessage request = BuildRequest(NtpNowWithRandomLowBits(ctx.clock));
  const bool nts = ctx.config.client_nts != 0;
  if (ctx.auth.required && !nts && key == nullptr) {
    Trace("SNTP-Client: NTP Anfrage an %s nicht verschickt, kein gültiger Schlüssel.\n",
          platform::AddressText(server).c_str());
    return std::nullopt;
  }
  *transmit = TimestampToUint64(request.transmit_time);
  NtpToNetworkOrder(&request);
  std::vector<uint8_t> bytes(kNtpMessageWithAuthSize);
  NtpToBytes(request, bytes.data());
  bytes.resize(key != nullptr ? kNtpMessageWithAuthSize : kNtpMessageSize);
  if (!nts) return bytes;
  std::optional<std::vector<uint8_t>> sealed = NtsSealRequest(ctx, bytes);
  if (!sealed) {
    Trace("SNTP-Client: NTP Anfrage an %s nicht verschickt, kein NTS Cookie.\n", platform::AddressText(server).c_str());
  }
  return sealed;
}

// Sends a request's bytes through the adapter that leads to `server` and reports the outcome.
void SendRequestBytes(const ClientContext& ctx, const platform::SocketAddress& server,
                      const std::vector<uint8_t>& bytes) {
  // The receive loop may change the table when the system's addresses change.
  std::shared_lock table_lock(ctx.sockets.adapters_mutex);
  // Traced when the choice moves away from the first adapter or changes again, so a host
  // with one address traces nothing new.
  // An IPv6 request leaves through the IPv6 socket, from the address the routing table picks.
  const int row = server.family == platform::kAfInet6
                      ? kIpv6Request
                      : RequestAdapter(ctx.sockets.adapters, ctx.network, server.address);
  if (ctx.state.request_adapter.exchange(row) != row && row != kIpv6Request && DebugMode()) {
    const AdapterEntry& entry = ctx.sockets.adapters[static_cast<size_t>(row)];
    Trace("SNTP-Client: NTP Anfrage an %s über Netzwerkadapter %s (%s).\n", platform::AddressText(server).c_str(),
          entry.name.c_str(), platform::DottedAddress(entry.address.address).c_str());
  }
  platform::UdpSocket* socket = RequestSocket(ctx);
  size_t sent = 0;
  const std::error_code error = socket ? socket->SendToStamped(bytes.data(), bytes.size(), server, &sent)
                                       : std::make_error_code(std::errc::bad_file_descriptor);
  table_lock.unlock();
  if (error) {
    // A lost address fails every poll until it returns.
    if (ctx.state.reports.Allow(msg::kWinsockError.id)) {
      ReportMessage(msg::kWinsockError, {std::string("SNTP-Client"), std::string("sendto()"), int64_t{error.value()}});
    }
  } else if (sent == 0) {
    Trace("SNTP-Client: Verbindung wurde vom SNTP-Server beendet.\n");
  } else {
    ctx.status.RequestSent(ctx.clock.NowNanoseconds(), platform::AddressText(server));
    if (DebugMode()) {
      Trace("SNTP-Client: NTP Anfrage an %s geschickt.\n", platform::AddressText(server).c_str());
    }
  }
}

// Builds and sends one request; the wait for the next cycle follows in every case.
void SendRequest(const ClientContext& ctx, const platform::SocketAddress& server) {
  const SymmetricKey* key = ctx.auth.required && ctx.config.client_nts == 0 ? ctx.auth.Own() : nullptr;
  uint64_t transmit = 0;
  std::optional<std::vector<uint8_t>> bytes = RequestBytes(ctx, server, key, &transmit);
  if (!bytes) return;
  ctx.state.pending_request.Record(transmit, server);
  if (key != nullptr && !SignMessage(*key, bytes->data())) {
    ReportMessage(msg::kWinsockError, {std::string("SNTP-Client"), std::string("sendto()"), int64_t{EINVAL}});
    return;
  }
  SendRequestBytes(ctx, server, *bytes);
}

// The checks a sample passes before its time is used; a refused one is traced with the reason.
bool UsableSample(const ClientContext& ctx, const NtpMessage& m, uint64_t t1, const NtpTimestamp& t4, bool broadcast,
                  const std::string& sender) {
  const SampleFacts facts = SampleFactsOf(m, t1, t4, broadcast);
  const int64_t resolution =
      std::clamp<int64_t>(ctx.clock.ResolutionNanoseconds(), 1, kNanosecondsPerSecond) * 4295 / 1000;  // 2^-32 s
  const SampleFault fault = CheckSample(facts, resolution);
  if (fault == SampleFault::kNone) return true;
  ctx.status.CountDrop(DropReasonOf(fault));
  if (!DebugMode()) return false;
  const char* kind = broadcast ? "Broadcast" : "Antwort";
  const char* who = sender.c_str();
  switch (fault) {
    case SampleFault::kVersion:
      Trace("SNTP-Client: NTP %s von %s ungültig, Version %u !\n", kind, who, facts.version);
      break;
    case SampleFault::kStratum:
      Trace("SNTP-Client: NTP %s von %s wird ignoriert, Stratum %u (Server nicht synchron) !\n", kind, who,
            facts.stratum);
      break;
    case SampleFault::kZeroReceive:
      Trace("SNTP-Client: NTP %s von %s ungültig, \"Receive Timestamp\" ist 0 !\n", kind, who);
      break;
    case SampleFault::kTransmitBeforeReceive:
      Trace("SNTP-Client: NTP %s von %s ungültig, \"Transmit Timestamp\" liegt vor \"Receive Timestamp\" !\n", kind,
            who);
      break;
    case SampleFault::kReferenceAfterTransmit:
      Trace("SNTP-Client: NTP %s von %s ungültig, \"Reference Timestamp\" liegt nach \"Transmit Timestamp\" !\n", kind,
            who);
      break;
    case SampleFault::kRootDistance: {
      // 16.16 seconds widened to 2^-32 s for the display.
      const int64_t distance = (int64_t{facts.root_delay} / 2 + facts.root_dispersion) << 16;
      Trace("SNTP-Client: NTP %s von %s wird ignoriert, Wurzeldistanz %s Sekunden (erlaubt unter 1.500) !\n", kind, who,
            SignedSecondsText(ToDisplaySeconds(distance)).c_str());
      break;
    }
    case SampleFault::kImpossibleDelay:
      Trace("SNTP-Client: NTP %s von %s ungültig, Zeitverzögerung %s Sekunden ist unmöglich !\n", kind, who,
            SignedSecondsText(ToDisplaySeconds(RoundTripDelay(facts.t1, facts.t2, facts.t3, facts.t4))).c_str());
      break;
    case SampleFault::kNone: break;
  }
  return false;
}

// With a key file, a broadcast is taken only when it is later than the last one taken: a copy
// of an older one sent again still carries a valid MAC and would set the clock back by its age.
// Passed after every other check, so that only broadcasts taken count (broadcast_replay.h).
bool FreshBroadcast(const ClientContext& ctx, const NtpMessage& m, const std::string& sender) {
  // Only a MAC of the own key passes the receive loop.
  const SymmetricKey* key = ctx.auth.Own();
  const int64_t arrival_ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
  switch (
      ctx.state.broadcast_replay.Judge(key != nullptr ? key->id : 0, TimestampToUint64(m.transmit_time), arrival_ns)) {
    case ReplayVerdict::kTaken: return true;
    case ReplayVerdict::kNewTimeLine:
      Trace(
          "SNTP-Client: NTP Broadcast von %s angenommen, die Broadcasts folgen seit %d Intervallen einer früheren "
          "Zeit.\n",
          sender.c_str(), BroadcastReplay::kLineLength - 1);
      return true;
    case ReplayVerdict::kReplayed: break;
  }
  ctx.status.CountDrop(DropReason::kReplayed);
  Trace(
      "SNTP-Client: NTP Broadcast von %s ungültig, \"Transmit Timestamp\" liegt nicht nach dem des zuletzt "
      "angenommenen Broadcasts !\n",
      sender.c_str());
  return false;
}

// The status record's account of a sample with its offset and delay in 2^-32 s, taken now.
LastSample SampleOf(const ClientContext& ctx, const NtpMessage& m, int64_t offset, int64_t delay) {
  LastSample sample;
  sample.time_ns = ctx.clock.NowNanoseconds();
  sample.offset_s = static_cast<double>(offset) / 4294967296.0;
  sample.delay_s = static_cast<double>(delay) / 4294967296.0;
  sample.stratum = GetStratum(m);
  const uint32_t id = GetReferenceId(m);
  if (sample.stratum == 1) {
    // Four ASCII characters naming the reference clock, padded with zeros.
    for (int shift = 24; shift >= 0; shift -= 8) {
      const char c = static_cast<char>(id >> shift);
      if (c == '\0') break;
      sample.refid += c >= 0x20 && c < 0x7F ? c : '.';
    }
  } else {
    sample.refid = platform::DottedAddress(platform::HostToNetwork32(id));
  }
  // Only a message signed with the own key passes the checks when a key file is in force.
  const SymmetricKey* key = ctx.auth.required ? ctx.auth.Own() : nullptr;
  if (key != nullptr) sample.key_id = key->id;
  return sample;
}

// A reply or broadcast as it arrived, and who sent it (the text only in debug mode).
struct Arrival {
  const NtpMessage& m;
  const NtpTimestamp& t4;
  const platform::SocketAddress& from;
  const std::string& sender;
  bool broadcast;
  const char* kind() const { return broadcast ? "Broadcast" : "Antwort"; }
};

void TraceRefusal(Refusal refusal, const Arrival& a, uint32_t travel) {
  if (!DebugMode()) return;
  const char* who = a.sender.c_str();
  switch (refusal) {
    case Refusal::kOwnBroadcast: Trace("SNTP-Client: NTP Broadcast von %s ignoriert, eigene Adresse.\n", who); break;
    case Refusal::kServerUnsynchronised:
      Trace("SNTP-Client: NTP Broadcast/Antwort von %s wird ignoriert, Serverzeit läuft nicht synchron !\n", who);
      break;
    case Refusal::kZeroTransmit:
      Trace("SNTP-Client: NTP %s von %s ungültig, \"Transmit Timestamp\" ist 0 !\n", a.kind(), who);
      break;
    case Refusal::kWrongOriginate:
      Trace("SNTP-Client: NTP Antwort von %s ungültig, \"Originate Timestamp\" ist ungültig !\n", who);
      break;
    case Refusal::kWrongSender:
      Trace("SNTP-Client: NTP Antwort von %s (Port %u) ungültig, Absender ist nicht der angefragte Server !\n", who,
            static_cast<unsigned>(platform::NetworkToHost16(a.from.port)));
      break;
    case Refusal::kTooLongUnderway:
      Trace("SNTP-Client: NTP Antwort von %s ungültig, Antwort war %d Sekunden unterwegs !\n", who,
            static_cast<int32_t>(travel));
      break;
    case Refusal::kKissOfDeath: {
      // The Reference Identifier holds the kiss code as four ASCII characters.
      char code[5] = {};
      for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>(GetReferenceId(a.m) >> (24 - 8 * i));
        code[i] = c >= 0x20 && c < 0x7F ? c : '.';
      }
      Trace("SNTP-Client: NTP %s von %s wird ignoriert, Stratum 0 (Kiss-o'-Death \"%s\") !\n", a.kind(), who, code);
      break;
    }
    case Refusal::kNone: break;
  }
}

// What became of a sample's offset: 1 when the clock was set, and the status record's word for
// the correction (null when the discipline set the sample aside).
struct Correction {
  int result = 0;
  const char* kind = kCorrectionRefused;
};

// The status record's word for what the discipline did; null for a sample set aside.
const char* CorrectionWord(Applied::Kind kind) {
  switch (kind) {
    case Applied::Kind::kSlewed: return kCorrectionSlewed;
    case Applied::Kind::kStepped: return kCorrectionStepped;
    case Applied::Kind::kFailed: return kCorrectionFailed;
    case Applied::Kind::kSetAside: break;
  }
  return nullptr;
}

// Applies `offset` (2^-32 s) unless the deviation limit forbids it: to the discipline where it
// runs, else as a step of the clock.
Correction Correct(const ClientContext& ctx, const Arrival& a, int64_t offset, int64_t delay_ns) {
  Correction done;
  const DisplaySeconds shown = ToDisplaySeconds(offset);
  if (ExceedsDeviationLimit(shown, ctx.config.client_max_diff_second_active != 0, ctx.config.client_max_diff_second)) {
    ctx.status.CountDrop(DropReason::kDeviationLimit);
    ReportMessage(msg::kDeviationRefused,
                  {int64_t{shown.seconds}, int64_t{shown.milliseconds}, int64_t{ctx.config.client_max_diff_second}});
  } else if (ctx.state.discipline != nullptr) {
    const Applied applied = ctx.state.discipline->Apply(
        LoopSample{NtpUnitsToNanoseconds(offset), delay_ns, ctx.clock.NowNanoseconds()}, a.kind(), a.sender);
    done.result = applied.ClockSet() ? 1 : 0;
    done.kind = CorrectionWord(applied.kind);
    if (applied.kind == Applied::Kind::kSetAside) ctx.status.CountDrop(applied.drop);
  } else {
    // The step is the computed offset itself, applied atomically: reading the clock,
    // adding and setting whole milliseconds would lose up to 1 ms per synchronisation.
    const NtpTimestamp target =
        TimestampFromUint64(TimestampToUint64(NtpNow(ctx.clock)) + static_cast<uint64_t>(offset));
    const std::error_code error = ctx.clock.StepBy(NtpUnitsToNanoseconds(offset));
    done.kind = error ? kCorrectionFailed : kCorrectionStepped;
    if (!error) {
      done.result = 1;
    } else {
      ReportMessage(msg::kSetClockFailed, {int64_t{error.value()}});
    }
    if (DebugMode()) TraceTimestamp("SYSTIME", target);
  }
  return done;
}

void TraceExchange(const Arrival& a, const DisplaySeconds& offset, const DisplaySeconds& delay) {
  if (!DebugMode()) return;
  TraceTimestamp("T1(org)", a.m.originate_time);
  TraceTimestamp("T2(rec)", a.m.receive_time);
  TraceTimestamp("T3(xmt)", a.m.transmit_time);
  TraceTimestamp("T4(dst)", a.t4);
  TraceTimestamp("  (ref)", a.m.reference_time);
  Trace("SNTP-Client: Zeitabweichung zu %s beträgt %s Sekunden\n", a.sender.c_str(), SignedSecondsText(offset).c_str());
  Trace("SNTP-Client: Zeitverzögerung durch Netzwerk: %s Sekunden\n", SignedSecondsText(delay).c_str());
}

// Uses a sample that passed every check: computes offset and delay, corrects the clock, traces
// the exchange and records the sample. Returns 1 when the clock was set.
int TakeSample(const ClientContext& ctx, const Arrival& a, uint64_t t1) {
  const platform::RealtimePriority priority;
  const uint64_t t2 = TimestampToUint64(a.m.receive_time);
  const uint64_t t3 = TimestampToUint64(a.m.transmit_time);
  const uint64_t t4 = TimestampToUint64(a.t4);
  const int64_t delay_units = a.broadcast ? 0 : RoundTripDelay(t1, t2, t3, t4);
  int64_t offset = ClockOffset(t1, t2, t3, t4, a.broadcast);
  if (ctx.state.discipline != nullptr && !a.broadcast) {
    ctx.state.discipline->NoteReply(NtpUnitsToNanoseconds(delay_units), NtpUnitsToNanoseconds(offset),
                                    ctx.clock.NowNanoseconds());
  } else if (ctx.state.discipline != nullptr) {
    offset += NanosecondsToNtpUnits(ctx.state.discipline->BroadcastDelayNs());
  }
  const Correction done = Correct(ctx, a, offset, a.broadcast ? -1 : NtpUnitsToNanoseconds(delay_units));
  TraceExchange(a, ToDisplaySeconds(offset), ToDisplaySeconds(delay_units));
  if (done.kind != nullptr) {
    ctx.status.SampleTaken(
        SampleOf(ctx, a.m, offset, delay_units), platform::AddressText(a.from), done.kind,
        ctx.state.discipline ? std::optional<double>(ctx.state.discipline->FrequencyPpm()) : std::nullopt);
  }
  if (done.result == 1 && ctx.config.client_run_once != 0 && !ctx.roles.server_active && ctx.stop.request_stop) {
    ctx.stop.request_stop();
  }
  return done.result;
}

}  // namespace

bool ResolveTimeServer(const ClientContext& ctx, platform::SocketAddress* out) {
  const std::string& name = ctx.config.client_time_source;
  uint32_t address = platform::ParseDottedAddress(name);
  if (address == platform::kInaddrNone && ctx.sockets.ipv6_socket) return ResolveAnyTimeServer(ctx, out);
  if (address == platform::kInaddrNone) {
    if (const std::error_code error = ctx.network.ResolveHost(name, &address)) {
      ReportMessage(msg::kResolveFailed, {name, error.message()});
      return false;
    }
  }
  out->family = platform::kAfInet;
  out->port = platform::HostToNetwork16(kNtpPort);
  out->address = address;
  return true;
}

void ClientPollThread(const ClientContext& ctx) {
  ctx.stop.start.Wait(platform::kInfinite);
  const int64_t interval_ms = int64_t{ctx.config.client_poll_interval} * 1000;
  if (ctx.config.client_nts != 0) ctx.status.NtsClient(false, 0);
  for (;;) {
    platform::SocketAddress server;
    // With NTS the request goes where NTS-KE named, and only with a session.
    if (ctx.config.client_nts != 0 ? NtsPrepare(ctx, &server) : ResolveTimeServer(ctx, &server)) {
      SendRequest(ctx, server);
    }
    // Also after a failed or empty send: a persisting failure repeats once per interval.
    if (WaitForShutdown(ctx.stop.shutdown, interval_ms)) {
      ReportMessage(msg::kServiceStopped);
      return;
    }
  }
}

int ClientHandleMessage(const ClientContext& ctx, const NtpMessage& m, const NtpTimestamp& t4,
                        const platform::SocketAddress& from) {
  const bool broadcast = GetMode(m) != kModeServer;
  // Only the trace needs the text; the common path does not build it.
  const std::string sender = DebugMode() ? platform::AddressText(from) : std::string();
  Trace("SNTP-Client: NTP %s von %s erhalten.\n", broadcast ? "Broadcast" : "Antwort", sender.c_str());
  const Arrival arrival{m, t4, from, sender, broadcast};
  uint32_t travel = 0;
  const bool own_sender = broadcast && IsOwnAddress(ctx, from.address);
  const Refusal refusal = CheckArrival({m, t4, from, broadcast}, own_sender, ctx.state.pending_request, &travel);
  if (refusal != Refusal::kNone) {
    ctx.status.CountDrop(DropReasonOf(refusal));
    TraceRefusal(refusal, arrival, travel);
    return 0;
  }
  // The Originate Timestamp matched the request; the arithmetic takes its better T1.
  const uint64_t t1 = broadcast ? TimestampToUint64(m.originate_time) : RequestT1(ctx, m.originate_time, t4);
  if (!UsableSample(ctx, m, t1, t4, broadcast, sender)) return 0;
  if (broadcast && ctx.auth.required && !FreshBroadcast(ctx, m, sender)) return 0;
  const int result = TakeSample(ctx, arrival, t1);
  // A disciplined broadcast client measures its delay to the broadcaster now and then, after
  // this broadcast's correction: a reply measured across a step would repeat it.
  if (broadcast && ctx.state.discipline != nullptr && ctx.state.discipline->CalibrationDue()) SendRequest(ctx, from);
  return result;
}

}  // namespace chron
