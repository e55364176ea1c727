// The NTS-KE server (RFC 8915 section 4): TLS 1.3 with ALPN "ntske/1" on TCP port 4460 beside the
// NTP server, on a thread of its own that polls its sockets, so that no client ever holds up the
// NTP path. Each accepted request gets the keys exported from its TLS session sealed into
// kCookiesPerSession cookies under the current server key, and no server or port records (the
// client uses this host and port 123).
//
// Bounds: at most max_connections connections at once; one beyond them is accepted and closed
// at once, without a TLS byte (the client sees the connection end and tries again later). Each
// connection has deadline_ms from its accept for the handshake, the request and the response,
// and a request of at most kMaxKeMessageSize bytes; a request that breaks the record rules or
// those bounds gets an Error record (Bad Request) when the connection still allows one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/nts_session.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/tls.h"

namespace chron::nts {

inline constexpr size_t kMaxKeConnections = 32;
inline constexpr int64_t kKeConnectionDeadlineMs = 5000;
// The longest the loop goes without looking at the stop event, and without checking whether the
// server key is due for rotation (ms).
inline constexpr int kKeLoopWaitMs = 250;
inline constexpr int64_t kRotationCheckMs = 3600 * 1000;

struct NtsKeServerOptions {
  std::string certificate_path;  // PEM: the server's certificate, then its chain
  std::string key_path;          // PEM: its private key
  std::string key_store_path;    // the server keys' file (nts_key_store.h)
  uint16_t port = kKePort;       // 0: one the system picks (tests)
  bool ipv6 = false;             // also listen on IPv6 any
  size_t max_connections = kMaxKeConnections;
  int64_t deadline_ms = kKeConnectionDeadlineMs;
};

class NtsKeServer {
 public:
  // `keys` is the ring the NTP server opens cookies with; `clock` tells the rotation's time;
  // `served` is called on the server's thread for each session served.
  NtsKeServer(NtsServerKeys& keys, platform::Clock& clock, std::function<void()> served);
  ~NtsKeServer();

  // Loads the certificate and key and the server keys (into `keys`) and opens the port. False,
  // reported (NtsCertificateUnreadable, NtsKePortNotOpen), when the server cannot run.
  bool Open(const NtsKeServerOptions& options);
  uint16_t port() const { return listener_.port(); }

  // Serves until `stop` is signalled, which it sees within kKeLoopWaitMs. Run it on a thread of
  // its own after Open succeeded.
  void Run(platform::Event& stop);

 private:
  struct Connection;
  void AcceptAll(size_t listener);
  bool Advance(Connection& connection);  // false: the connection is done
  void Answer(Connection& connection);
  void CheckRotation();

  NtsServerKeys& keys_;
  platform::Clock& clock_;
  std::function<void()> served_;
  NtsKeServerOptions options_;
  platform::TlsServerContext context_;
  platform::TcpListener listener_;
  std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace chron::nts
