#include "engine/time_source.h"

#include <string>
#include <system_error>

#include "messages/report.h"

namespace chron {

std::string_view WithoutBrackets(std::string_view text) {
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') return text.substr(1, text.size() - 2);
  return text;
}

bool ResolveAnyTimeServer(const ClientContext& ctx, platform::SocketAddress* out) {
  const std::string& name = ctx.config.client_time_source;
  platform::SocketAddress address;
  if (const std::error_code error = ctx.network.ResolveAny(WithoutBrackets(name), &address)) {
    ReportMessage(msg::kResolveFailed, {name, error.message()});
    return false;
  }
  address.port = platform::HostToNetwork16(kNtpPort);
  *out = address;
  return true;
}

}  // namespace chron
