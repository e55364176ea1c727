// Linux: TLS 1.3 with OpenSSL's libssl over non-blocking TCP sockets.
#include "platform/tls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <utility>

namespace chron::platform {

bool TlsAvailable() { return true; }

namespace {

// The errors OpenSSL queued, oldest first, in its own words.
std::string LibraryWords() {
  std::string words;
  while (const unsigned long code = ERR_get_error()) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    if (!words.empty()) words += "; ";
    words += text;
  }
  return words;
}

std::string SystemWords(int code) {
  std::string text;
  if (!SystemErrorMessage(code, &text)) text = "Fehler " + std::to_string(code);
  return text;
}

// ALPN's wire form: each protocol name preceded by its length in one byte.
std::vector<unsigned char> AlpnWire(const std::string& alpn) {
  std::vector<unsigned char> wire(alpn.size() + 1);
  wire[0] = static_cast<unsigned char>(alpn.size());
  std::copy(alpn.begin(), alpn.end(), wire.begin() + 1);
  return wire;
}

bool HasAlpn(SSL* ssl, const std::vector<unsigned char>& wire) {
  const unsigned char* selected = nullptr;
  unsigned int size = 0;
  SSL_get0_alpn_selected(ssl, &selected, &size);
  return size + 1 == wire.size() && std::memcmp(selected, wire.data() + 1, size) == 0;
}

// A peer that closes while a response is written would end the process with SIGPIPE: the
// process ignores it once a TLS connection exists (unless someone else handles it already).
void IgnoreBrokenPipes() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) ::signal(SIGPIPE, SIG_IGN);
  });
}

// The handshake's last flight and the request (or the response and close_notify) are separate
// writes: with Nagle's algorithm the second waits for the peer's delayed acknowledgement of the
// first, some 40 ms.
void SetNoDelay(int fd) {
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

// ---- server ---------------------------------------------------------------------------------

struct TlsServerContext::Impl {
  SSL_CTX* ctx = nullptr;
  std::vector<unsigned char> alpn;
  ~Impl() { SSL_CTX_free(ctx); }
};

namespace {

int SelectAlpn(SSL*, const unsigned char** out, unsigned char* out_size, const unsigned char* in, unsigned int in_size,
               void* arg) {
  const auto* context = static_cast<const TlsServerContext::Impl*>(arg);
  unsigned char* selected = nullptr;
  if (SSL_select_next_proto(&selected, out_size, context->alpn.data(), static_cast<unsigned>(context->alpn.size()), in,
                            in_size) != OPENSSL_NPN_NEGOTIATED) {
    return SSL_TLSEXT_ERR_ALERT_FATAL;  // no_application_protocol
  }
  *out = selected;
  return SSL_TLSEXT_ERR_OK;
}

}  // namespace

TlsServerContext::TlsServerContext() : impl_(std::make_unique<Impl>()) {}
TlsServerContext::~TlsServerContext() = default;

std::error_code TlsServerContext::Load(const std::string& certificate_path, const std::string& key_path,
                                       const std::string& alpn, std::string* detail) {
  IgnoreBrokenPipes();
  for (const std::string* path : {&certificate_path, &key_path}) {
    std::FILE* file = std::fopen(path->c_str(), "rb");
    if (file == nullptr) {
      const int code = errno;
      *detail = SystemWords(code);
      return SystemError(code);
    }
    std::fclose(file);
  }
  ERR_clear_error();
  auto impl = std::make_unique<Impl>();
  impl->alpn = AlpnWire(alpn);
  impl->ctx = SSL_CTX_new(TLS_server_method());
  if (impl->ctx == nullptr || SSL_CTX_set_min_proto_version(impl->ctx, TLS1_3_VERSION) != 1 ||
      SSL_CTX_use_certificate_chain_file(impl->ctx, certificate_path.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(impl->ctx, key_path.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(impl->ctx) != 1) {
    *detail = LibraryWords();
    return PlatformError::kTlsRefused;
  }
  SSL_CTX_set_alpn_select_cb(impl->ctx, SelectAlpn, impl.get());
  SSL_CTX_set_num_tickets(impl->ctx, 0);  // an NTS-KE client never resumes: no tickets to send
  SSL_CTX_set_mode(impl->ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  impl_ = std::move(impl);
  return {};
}

struct TlsServerConnection::Impl {
  int fd = -1;
  SSL* ssl = nullptr;
  std::vector<unsigned char> alpn;
  std::string detail;
  ~Impl() {
    if (ssl != nullptr && SSL_is_init_finished(ssl)) SSL_shutdown(ssl);  // close_notify, not waited for
    SSL_free(ssl);
    if (fd >= 0) ::close(fd);
  }
  // What SSL_get_error makes of the result `result` of the last call.
  TlsStep StepOf(int result) {
    const int error = SSL_get_error(ssl, result);
    const int system = errno;
    switch (error) {
      case SSL_ERROR_WANT_READ: return TlsStep::kWantRead;
      case SSL_ERROR_WANT_WRITE: return TlsStep::kWantWrite;
      case SSL_ERROR_ZERO_RETURN: return TlsStep::kClosed;
      case SSL_ERROR_SYSCALL:
        detail = LibraryWords();
        if (detail.empty()) detail = system != 0 ? SystemWords(system) : "Verbindung beendet";
        return system != 0 ? TlsStep::kFailed : TlsStep::kClosed;
      default: detail = LibraryWords(); return TlsStep::kFailed;
    }
  }
};

TlsServerConnection::TlsServerConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TlsServerConnection::~TlsServerConnection() = default;
intptr_t TlsServerConnection::handle() const { return impl_->fd; }
const std::string& TlsServerConnection::detail() const { return impl_->detail; }

TlsStep TlsServerConnection::Handshake() {
  ERR_clear_error();
  errno = 0;
  const int result = SSL_accept(impl_->ssl);
  if (result != 1) return impl_->StepOf(result);
  // A client that offered no ALPN at all never reached the selection: refused here.
  if (!HasAlpn(impl_->ssl, impl_->alpn)) {
    impl_->detail = "kein ALPN-Protokoll vereinbart";
    return TlsStep::kFailed;
  }
  return TlsStep::kDone;
}

TlsStep TlsServerConnection::Read(std::vector<uint8_t>* buffer, size_t limit) {
  const size_t old = buffer->size();
  if (old >= limit) {
    impl_->detail = "zu viele Daten";
    return TlsStep::kFailed;
  }
  buffer->resize(limit);
  size_t got = 0;
  ERR_clear_error();
  errno = 0;
  const int result = SSL_read_ex(impl_->ssl, buffer->data() + old, limit - old, &got);
  buffer->resize(old + got);
  return result == 1 ? TlsStep::kDone : impl_->StepOf(result);
}

TlsStep TlsServerConnection::Write(std::span<const uint8_t> data, size_t* sent) {
  while (*sent < data.size()) {
    size_t written = 0;
    ERR_clear_error();
    errno = 0;
    const int result = SSL_write_ex(impl_->ssl, data.data() + *sent, data.size() - *sent, &written);
    if (result != 1) return impl_->StepOf(result);
    *sent += written;
  }
  return TlsStep::kDone;
}

bool TlsServerConnection::ExportKey(std::string_view label, std::span<const uint8_t> context, std::span<uint8_t> out) {
  return SSL_export_keying_material(impl_->ssl, out.data(), out.size(), label.data(), label.size(), context.data(),
                                    context.size(), 1) == 1;
}

TcpListener::TcpListener() = default;
TcpListener::~TcpListener() {
  for (const intptr_t handle : handles_) ::close(static_cast<int>(handle));
}

std::error_code TcpListener::Open(uint16_t port, bool ipv6) {
  for (const int family : {AF_INET, AF_INET6}) {
    if (family == AF_INET6 && !ipv6) break;
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return SystemError(errno);
    handles_.push_back(fd);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage address{};
    socklen_t size = 0;
    if (family == AF_INET) {
      auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
      v4->sin_family = AF_INET;
      v4->sin_port = htons(port);
      size = sizeof *v4;
    } else {
      ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
      auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
      v6->sin6_family = AF_INET6;
      v6->sin6_port = htons(port);
      size = sizeof *v6;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd, 64) != 0) {
      return SystemError(errno);
    }
    if (port == 0) {  // the system's pick, for the other family too
      size = sizeof address;
      if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return SystemError(errno);
      port = ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);  // same offset in sockaddr_in6
    }
  }
  port_ = port;
  return {};
}

uint16_t TcpListener::port() const { return port_; }
const std::vector<intptr_t>& TcpListener::handles() const { return handles_; }

std::unique_ptr<TlsServerConnection> TcpListener::Accept(size_t index, const TlsServerContext& context,
                                                         std::error_code* error) {
  const int fd = ::accept4(static_cast<int>(handles_.at(index)), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    *error = SystemError(errno);
    return nullptr;
  }
  SetNoDelay(fd);
  auto impl = std::make_unique<TlsServerConnection::Impl>();
  impl->fd = fd;
  impl->ssl = context.impl()->ctx != nullptr ? SSL_new(context.impl()->ctx) : nullptr;
  if (impl->ssl == nullptr || SSL_set_fd(impl->ssl, fd) != 1) {
    *error = PlatformError::kTlsRefused;
    return nullptr;
  }
  impl->alpn = context.impl()->alpn;
  *error = {};
  return std::make_unique<TlsServerConnection>(std::move(impl));
}

std::error_code PollHandles(std::span<PollEntry> entries, int timeout_ms) {
  std::vector<pollfd> polled;
  for (const PollEntry& entry : entries) {
    polled.push_back({static_cast<int>(entry.handle), static_cast<short>(entry.write ? POLLOUT : POLLIN), 0});
  }
  const int result = ::poll(polled.data(), polled.size(), timeout_ms);
  if (result < 0 && errno != EINTR) return SystemError(errno);
  for (size_t i = 0; i < entries.size(); ++i) entries[i].ready = result > 0 && polled[i].revents != 0;
  return {};
}

// ---- client ---------------------------------------------------------------------------------

struct TlsClientConnection::Impl {
  int fd = -1;
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  int64_t deadline_ms = 0;  // steady clock
  ~Impl() {
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    if (fd >= 0) ::close(fd);
  }
  // Waits for the socket to be readable (writable when `write`); false at the deadline.
  bool WaitFor(bool write) const {
    for (;;) {
      const int64_t left = deadline_ms - NowMs();
      if (left <= 0) return false;
      pollfd polled{fd, static_cast<short>(write ? POLLOUT : POLLIN), 0};
      const int result = ::poll(&polled, 1, static_cast<int>(left));
      if (result > 0) return true;
      if (result < 0 && errno != EINTR) return false;
    }
  }
  // Repeats `call` (an SSL function's result) while it wants the socket and the deadline allows.
  template <typename Call>
  int Drive(Call call, std::string* detail) {
    for (;;) {
      ERR_clear_error();
      errno = 0;
      const int result = call();
      if (result == 1) return 1;
      const int error = SSL_get_error(ssl, result);
      const int system = errno;
      if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        if (WaitFor(error == SSL_ERROR_WANT_WRITE)) continue;
        *detail = "Zeitüberschreitung";
        return 0;
      }
      *detail = LibraryWords();
      if (detail->empty()) detail->assign(system != 0 ? SystemWords(system) : "Verbindung beendet");
      return 0;
    }
  }
};

TlsClientConnection::TlsClientConnection() = default;
TlsClientConnection::~TlsClientConnection() = default;

namespace {

// A TCP connection to one of the addresses of `host`, or -1 with *detail set.
int ConnectTcp(const std::string& host, uint16_t port, TlsClientConnection::Impl& impl, std::string* detail) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int resolved = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (resolved != 0) {
    *detail = ::gai_strerror(resolved);
    return -1;
  }
  *detail = "keine Adresse";
  for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
    impl.fd = ::socket(at->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (impl.fd < 0) continue;
    int error = ::connect(impl.fd, at->ai_addr, at->ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
      socklen_t size = sizeof error;
      error = impl.WaitFor(true) ? 0 : ETIMEDOUT;
      if (error == 0 && ::getsockopt(impl.fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    }
    if (error == 0) {
      SetNoDelay(impl.fd);
      break;
    }
    *detail = SystemWords(error);
    ::close(std::exchange(impl.fd, -1));
  }
  ::freeaddrinfo(found);
  return impl.fd;
}

bool IsAddress(const std::string& host) {
  in6_addr address{};
  return ::inet_pton(AF_INET, host.c_str(), &address) == 1 || ::inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

}  // namespace

TlsFailure TlsClientConnection::Connect(const std::string& host, uint16_t port, const std::string& alpn,
                                        const std::string& trusted, int64_t timeout_ms, std::string* detail) {
  IgnoreBrokenPipes();
  impl_ = std::make_unique<Impl>();
  impl_->deadline_ms = NowMs() + timeout_ms;
  if (ConnectTcp(host, port, *impl_, detail) < 0) return TlsFailure::kConnect;

  ERR_clear_error();
  impl_->ctx = SSL_CTX_new(TLS_client_method());
  if (impl_->ctx == nullptr || SSL_CTX_set_min_proto_version(impl_->ctx, TLS1_3_VERSION) != 1) {
    *detail = LibraryWords();
    return TlsFailure::kHandshake;
  }
  const int loaded = trusted.empty() ? SSL_CTX_set_default_verify_paths(impl_->ctx)
                                     : SSL_CTX_load_verify_locations(impl_->ctx, trusted.c_str(), nullptr);
  if (loaded != 1) {
    *detail = trusted + ": " + LibraryWords();
    return TlsFailure::kCertificate;
  }
  SSL_CTX_set_verify(impl_->ctx, SSL_VERIFY_PEER, nullptr);
  const std::vector<unsigned char> wire = AlpnWire(alpn);
  impl_->ssl = SSL_new(impl_->ctx);
  if (impl_->ssl == nullptr || SSL_set_fd(impl_->ssl, impl_->fd) != 1 ||
      (!alpn.empty() && SSL_set_alpn_protos(impl_->ssl, wire.data(), static_cast<unsigned>(wire.size())) != 0) ||
      (!IsAddress(host) && SSL_set_tlsext_host_name(impl_->ssl, host.c_str()) != 1) ||
      SSL_set1_host(impl_->ssl, host.c_str()) != 1) {
    *detail = LibraryWords();
    return TlsFailure::kHandshake;
  }
  SSL_set_mode(impl_->ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (impl_->Drive([&] { return SSL_connect(impl_->ssl); }, detail) != 1) {
    const long verified = SSL_get_verify_result(impl_->ssl);
    if (verified == X509_V_OK) return TlsFailure::kHandshake;
    *detail = X509_verify_cert_error_string(verified);
    return verified == X509_V_ERR_HOSTNAME_MISMATCH || verified == X509_V_ERR_IP_ADDRESS_MISMATCH
               ? TlsFailure::kName
               : TlsFailure::kCertificate;
  }
  if (!alpn.empty() && !HasAlpn(impl_->ssl, wire)) {
    *detail = "kein ALPN-Protokoll vereinbart";
    return TlsFailure::kHandshake;
  }
  return TlsFailure::kNone;
}

TlsFailure TlsClientConnection::Write(std::span<const uint8_t> data, std::string* detail) {
  size_t sent = 0;
  while (sent < data.size()) {
    size_t written = 0;
    const auto call = [&] { return SSL_write_ex(impl_->ssl, data.data() + sent, data.size() - sent, &written); };
    if (impl_->Drive(call, detail) != 1) return TlsFailure::kIo;
    sent += written;
  }
  return TlsFailure::kNone;
}

TlsFailure TlsClientConnection::Read(std::vector<uint8_t>* buffer, size_t limit, std::string* detail) {
  const size_t old = buffer->size();
  if (old >= limit) {
    *detail = "zu viele Daten";
    return TlsFailure::kIo;
  }
  buffer->resize(limit);
  size_t got = 0;
  const int result =
      impl_->Drive([&] { return SSL_read_ex(impl_->ssl, buffer->data() + old, limit - old, &got); }, detail);
  buffer->resize(old + got);
  return result == 1 ? TlsFailure::kNone : TlsFailure::kIo;
}

bool TlsClientConnection::ExportKey(std::string_view label, std::span<const uint8_t> context, std::span<uint8_t> out) {
  return SSL_export_keying_material(impl_->ssl, out.data(), out.size(), label.data(), label.size(), context.data(),
                                    context.size(), 1) == 1;
}

}  // namespace chron::platform
