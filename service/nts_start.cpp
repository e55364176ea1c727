#include "service/nts_start.h"

#include "engine/nts_client.h"
#include "engine/nts_ke_client.h"
#include "engine/nts_key_store.h"
#include "platform/status_file.h"
#include "platform/tls.h"

namespace chron {

void PrepareNts(const Configuration& config, const Roles& roles, platform::Clock& clock, StatusBoard& status,
                NtsParts& parts) {
  const bool tls = platform::TlsAvailable();
  ReportNtsSettings(config, tls);
  if (!tls) return;
  if (roles.client_active && config.client_nts != 0) {
    parts.ke_client = std::make_unique<nts::TlsNtsKeyEstablishment>(config.nts_trusted_certificates);
  }
  if (!roles.server_active || (config.nts_server_certificate.empty() && config.nts_server_key.empty())) return;

  auto server = std::make_unique<nts::NtsKeServer>(parts.server_keys, clock, [&status] { status.CountNtsKeSession(); });
  nts::NtsKeServerOptions options;
  options.certificate_path = config.nts_server_certificate;
  options.key_path = config.nts_server_key;
  options.key_store_path = platform::NtsServerKeysPath();
  options.ipv6 = config.ipv6 != 0;
  if (server->Open(options)) parts.ke_server = std::move(server);
}

}  // namespace chron
