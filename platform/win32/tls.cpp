// Windows: no TLS library in this build yet (Schannel or a bundled libssl would be needed), so
// every call fails and says so.
#include "platform/tls.h"

#include <utility>

namespace chron::platform {

bool TlsAvailable() { return false; }

struct TlsServerContext::Impl {};
struct TlsServerConnection::Impl {
  std::string detail = kTlsNotAvailableText;
};
struct TlsClientConnection::Impl {};

TlsServerContext::TlsServerContext() = default;
TlsServerContext::~TlsServerContext() = default;
std::error_code TlsServerContext::Load(const std::string&, const std::string&, const std::string&,
                                       std::string* detail) {
  *detail = kTlsNotAvailableText;
  return PlatformError::kCryptoNotInThisBuild;
}

TlsServerConnection::TlsServerConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TlsServerConnection::~TlsServerConnection() = default;
intptr_t TlsServerConnection::handle() const { return -1; }
TlsStep TlsServerConnection::Handshake() { return TlsStep::kFailed; }
TlsStep TlsServerConnection::Read(std::vector<uint8_t>*, size_t) { return TlsStep::kFailed; }
TlsStep TlsServerConnection::Write(std::span<const uint8_t>, size_t*) { return TlsStep::kFailed; }
bool TlsServerConnection::ExportKey(std::string_view, std::span<const uint8_t>, std::span<uint8_t>) { return false; }
const std::string& TlsServerConnection::detail() const { return impl_->detail; }

TcpListener::TcpListener() = default;
TcpListener::~TcpListener() = default;
std::error_code TcpListener::Open(uint16_t, bool) { return PlatformError::kCryptoNotInThisBuild; }
uint16_t TcpListener::port() const { return port_; }
const std::vector<intptr_t>& TcpListener::handles() const { return handles_; }
std::unique_ptr<TlsServerConnection> TcpListener::Accept(size_t, const TlsServerContext&, std::error_code* error) {
  *error = PlatformError::kCryptoNotInThisBuild;
  return nullptr;
}

std::error_code PollHandles(std::span<PollEntry>, int) { return PlatformError::kCryptoNotInThisBuild; }

TlsClientConnection::TlsClientConnection() = default;
TlsClientConnection::~TlsClientConnection() = default;
TlsFailure TlsClientConnection::Connect(const std::string&, uint16_t, const std::string&, const std::string&, int64_t,
                                        std::string* detail) {
  *detail = kTlsNotAvailableText;
  return TlsFailure::kNotAvailable;
}
TlsFailure TlsClientConnection::Write(std::span<const uint8_t>, std::string* detail) {
  *detail = kTlsNotAvailableText;
  return TlsFailure::kNotAvailable;
}
TlsFailure TlsClientConnection::Read(std::vector<uint8_t>*, size_t, std::string* detail) {
  *detail = kTlsNotAvailableText;
  return TlsFailure::kNotAvailable;
}
bool TlsClientConnection::ExportKey(std::string_view, std::span<const uint8_t>, std::span<uint8_t>) { return false; }

}  // namespace chron::platform
