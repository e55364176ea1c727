#include "engine/nts_ke_server.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <utility>
#include <vector>

#include "engine/nts_key_store.h"
#include "engine/nts_records.h"
#include "messages/report.h"

namespace chron::nts {
namespace {

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

struct NtsKeServer::Connection {
  enum class Phase { kHandshake, kRequest, kResponse } phase = Phase::kHandshake;
  std::unique_ptr<platform::TlsServerConnection> tls;
  int64_t deadline_ms = 0;  // steady clock
  bool want_write = false;
  std::vector<uint8_t> request;
  std::vector<uint8_t> response;
  size_t sent = 0;
  bool accepted = false;  // the response carries cookies: a session served once it is sent
};

NtsKeServer::NtsKeServer(NtsServerKeys& keys, platform::Clock& clock, std::function<void()> served)
    : keys_(keys), clock_(clock), served_(std::move(served)) {}
NtsKeServer::~NtsKeServer() = default;

bool NtsKeServer::Open(const NtsKeServerOptions& options) {
  options_ = options;
  std::string detail;
  if (const std::error_code error = context_.Load(options.certificate_path, options.key_path, kAlpn, &detail)) {
    ReportMessage(msg::kNtsCertificateUnreadable,
                  {options.certificate_path, options.key_path, detail.empty() ? error.message() : detail});
    return false;
  }
  if (const std::error_code error = listener_.Open(options.port, options.ipv6)) {
    ReportMessage(msg::kNtsKePortNotOpen, {int64_t{options.port}, error.message()});
    return false;
  }
  keys_.Set(LoadServerKeys(options.key_store_path, clock_.NowNanoseconds() / 1'000'000'000));
  return true;
}

void NtsKeServer::CheckRotation() {
  RotateServerKeysIfDue(options_.key_store_path, clock_.NowNanoseconds() / 1'000'000'000, &keys_);
}

void NtsKeServer::Run(platform::Event& stop) {
  int64_t next_rotation_check = SteadyMs() + kRotationCheckMs;
  const size_t listeners = listener_.handles().size();
  std::vector<platform::PollEntry> entries;
  while (!stop.Wait(0)) {
    const int64_t now = SteadyMs();
    if (now >= next_rotation_check) {
      CheckRotation();
      next_rotation_check = now + kRotationCheckMs;
    }
    std::erase_if(connections_, [now](const auto& connection) { return connection->deadline_ms <= now; });
    int64_t wait = kKeLoopWaitMs;
    entries.clear();
    for (const intptr_t handle : listener_.handles()) entries.push_back({handle, false, false});
    for (const auto& connection : connections_) {
      entries.push_back({connection->tls->handle(), connection->want_write, false});
      wait = std::min(wait, connection->deadline_ms - now);
    }
    if (platform::PollHandles(entries, static_cast<int>(std::max<int64_t>(wait, 1)))) {
      stop.Wait(kKeLoopWaitMs);  // a failing poll must not spin
      continue;
    }
    // The connections first: the entries past the listeners are theirs, in order, before any
    // accept below adds to them.
    std::vector<std::unique_ptr<Connection>> going_on;
    for (size_t i = 0; i < connections_.size(); ++i) {
      if (!entries[listeners + i].ready || Advance(*connections_[i])) going_on.push_back(std::move(connections_[i]));
    }
    connections_ = std::move(going_on);
    for (size_t i = 0; i < listeners; ++i) {
      if (entries[i].ready) AcceptAll(i);
    }
  }
  connections_.clear();
}

void NtsKeServer::AcceptAll(size_t listener) {
  CheckRotation();
  for (;;) {
    std::error_code error;
    std::unique_ptr<platform::TlsServerConnection> tls = listener_.Accept(listener, context_, &error);
    if (!tls) return;  // none waiting, or a failure: the next poll tells whether more wait
    if (connections_.size() >= options_.max_connections) continue;  // closed as it goes
    auto connection = std::make_unique<Connection>();
    connection->tls = std::move(tls);
    connection->deadline_ms = SteadyMs() + options_.deadline_ms;
    if (Advance(*connection)) connections_.push_back(std::move(connection));
  }
}

bool NtsKeServer::Advance(Connection& connection) {
  for (;;) {
    platform::TlsStep step = platform::TlsStep::kDone;
    switch (connection.phase) {
      case Connection::Phase::kHandshake:
        step = connection.tls->Handshake();
        if (step == platform::TlsStep::kDone) connection.phase = Connection::Phase::kRequest;
        break;
      case Connection::Phase::kRequest:
        step = connection.tls->Read(&connection.request, kMaxKeMessageSize);
        if (step == platform::TlsStep::kDone) {
          const KeParse parse = ParseKeRecords(connection.request);
          if (parse.status == KeParseStatus::kComplete) {
            Answer(connection);
          } else if (parse.status == KeParseStatus::kMalformed || connection.request.size() >= kMaxKeMessageSize) {
            connection.response = BuildKeError(kBadRequest);
          }
          if (!connection.response.empty()) connection.phase = Connection::Phase::kResponse;
        }
        break;
      case Connection::Phase::kResponse:
        step = connection.tls->Write(connection.response, &connection.sent);
        if (step == platform::TlsStep::kDone) {
          if (connection.accepted && served_) served_();
          return false;
        }
        break;
    }
    if (step == platform::TlsStep::kDone) continue;
    connection.want_write = step == platform::TlsStep::kWantWrite;
    return step == platform::TlsStep::kWantRead || step == platform::TlsStep::kWantWrite;
  }
}

void NtsKeServer::Answer(Connection& connection) {
  const KeRequestVerdict verdict = JudgeKeRequest(ParseKeRecords(connection.request).records);
  if (verdict.kind == KeRequestVerdict::Kind::kRefuse) {
    connection.response = BuildKeRefusal();
    return;
  }
  if (verdict.kind == KeRequestVerdict::Kind::kError) {
    connection.response = BuildKeError(verdict.error);
    return;
  }
  SessionKeys keys;
  const bool exported =
      connection.tls->ExportKey(kExporterLabel, ExporterContext(kAeadAesSivCmac256, false), keys.c2s) &&
      connection.tls->ExportKey(kExporterLabel, ExporterContext(kAeadAesSivCmac256, true), keys.s2c);
  std::vector<std::vector<uint8_t>> cookies;
  if (exported) {
    cookies = keys_.With([&keys](const ServerKeyRing& ring) {
      std::vector<std::vector<uint8_t>> sealed;
      for (size_t i = 0; ring.current && i < kCookiesPerSession; ++i) {
        std::optional<std::vector<uint8_t>> cookie = SealCookie(*ring.current, keys);
        if (!cookie) break;
        sealed.push_back(std::move(*cookie));
      }
      return sealed;
    });
  }
  if (cookies.size() != kCookiesPerSession) {
    connection.response = BuildKeError(kInternalServerError);
    return;
  }
  connection.response = BuildKeResponse(cookies, std::string(), 0);
  connection.accepted = true;
}

}  // namespace chron::nts
