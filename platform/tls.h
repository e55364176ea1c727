// TLS 1.3 over TCP for NTS Key Establishment: a server's certificate and key, its listening
// sockets and non-blocking connections driven by PollHandles, and a client connection that
// keeps a deadline. Both ends take TLS 1.3 only and require the ALPN protocol they are given
// (the other end offering none, or another, fails the handshake). OpenSSL's libssl on Linux;
// the Windows build has no TLS library yet: there every call fails with
// PlatformError::kCryptoNotInThisBuild (or TlsFailure::kNotAvailable) and kTlsNotAvailableText.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/error_text.h"

namespace chron::platform {

inline constexpr char kTlsNotAvailableText[] = "TLS ist in diesem Build nicht verfügbar";
// Whether this build has TLS at all (false: every call below fails as said above).
bool TlsAvailable();

// The certificate chain and private key a server shows (PEM files), TLS 1.3 only, ALPN `alpn`.
class TlsServerContext {
 public:
  TlsServerContext();
  ~TlsServerContext();
  TlsServerContext(const TlsServerContext&) = delete;
  TlsServerContext& operator=(const TlsServerContext&) = delete;
  // No error, or the system's error (a file that does not open) or PlatformError::kTlsRefused
  // (not PEM, a key that does not match the certificate), `detail` then the library's words.
  std::error_code Load(const std::string& certificate_path, const std::string& key_path, const std::string& alpn,
                       std::string* detail);

  struct Impl;
  Impl* impl() const { return impl_.get(); }

 private:
  std::unique_ptr<Impl> impl_;
};

// What a non-blocking step of a connection came to.
enum class TlsStep {
  kDone,       // the step is complete (Read: bytes were appended)
  kWantRead,   // call again when the socket is readable
  kWantWrite,  // ... writable
  kClosed,     // the peer closed the connection
  kFailed,     // TLS or socket failure: detail() tells
};

// One accepted connection; its socket closed when the object ends.
class TlsServerConnection {
 public:
  ~TlsServerConnection();
  TlsServerConnection(const TlsServerConnection&) = delete;
  TlsServerConnection& operator=(const TlsServerConnection&) = delete;
  intptr_t handle() const;  // the socket, for PollHandles
  TlsStep Handshake();
  // Appends what has arrived to `buffer`, at most up to `limit` bytes in all.
  TlsStep Read(std::vector<uint8_t>* buffer, size_t limit);
  // Sends the part of `data` after *sent, adding to *sent; kDone once all is sent.
  TlsStep Write(std::span<const uint8_t> data, size_t* sent);
  // RFC 5705 keying material of the finished handshake; false when the library refused.
  bool ExportKey(std::string_view label, std::span<const uint8_t> context, std::span<uint8_t> out);
  const std::string& detail() const;

  struct Impl;
  explicit TlsServerConnection(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

// The listening TCP sockets of a server: IPv4 any, and IPv6 any (IPv6 only) when asked.
class TcpListener {
 public:
  TcpListener();
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;
  // Listens on `port` (0: one the system picks, the same for both families). No error or the
  // system's error.
  std::error_code Open(uint16_t port, bool ipv6);
  uint16_t port() const;
  const std::vector<intptr_t>& handles() const;
  // The connection waiting on handles()[index], non-blocking, with a TLS server end of `context`
  // (no byte sent yet); null with *error set when none was waiting (std::errc::operation_would_block)
  // or accepting failed.
  std::unique_ptr<TlsServerConnection> Accept(size_t index, const TlsServerContext& context, std::error_code* error);

 private:
  std::vector<intptr_t> handles_;
  uint16_t port_ = 0;
};

// A socket to wait for: readable, or writable when `write`.
struct PollEntry {
  intptr_t handle = -1;
  bool write = false;
  bool ready = false;  // set by PollHandles (also for an error or hang-up on the socket)
};
// Waits up to `timeout_ms` milliseconds for any entry to be ready. No error or the system's error.
std::error_code PollHandles(std::span<PollEntry> entries, int timeout_ms);

enum class TlsFailure {
  kNone,
  kConnect,       // no TCP connection (name, route, refused, deadline)
  kHandshake,     // TLS failed, no TLS 1.3 or no common ALPN protocol
  kCertificate,   // the chain does not verify, or the trusted certificates do not load
  kName,          // the certificate is not for the host
  kIo,            // the connection failed or closed after the handshake, or the deadline passed
  kNotAvailable,  // this build has no TLS
};

// A client connection, everything bounded by one deadline.
class TlsClientConnection {
 public:
  TlsClientConnection();
  ~TlsClientConnection();
  TlsClientConnection(const TlsClientConnection&) = delete;
  TlsClientConnection& operator=(const TlsClientConnection&) = delete;
  // Connects to `host` (name or address) `port` within `timeout_ms` milliseconds from now (the
  // deadline of all later calls too), offers `alpn` and requires it (empty: offers none), sends `host` as SNI (not an
  // address), checks the certificate against the PEM file `trusted` (empty: the system's trusted
  // certificates) and its name or address against `host`. `detail`: the library's words.
  TlsFailure Connect(const std::string& host, uint16_t port, const std::string& alpn, const std::string& trusted,
                     int64_t timeout_ms, std::string* detail);
  TlsFailure Write(std::span<const uint8_t> data, std::string* detail);
  // Appends what arrives to `buffer` (at most up to `limit` bytes in all), waiting for at least
  // one byte; kIo at the end of the stream or the deadline.
  TlsFailure Read(std::vector<uint8_t>* buffer, size_t limit, std::string* detail);
  bool ExportKey(std::string_view label, std::span<const uint8_t> context, std::span<uint8_t> out);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace chron::platform
