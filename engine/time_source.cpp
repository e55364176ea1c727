#include "engine/time_source.h"

#include <string>

#include "messages/report.h"

namespace chron {

std::string_view WithoutBrackets(std::string_view text) {
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') return text.substr(1, text.size() - 2);
  return text;
}

bool ResolveAnyTimeServer(const ClientContext& ctx, platform::SocketAddress* out) {
  const std::string& name = ctx.config.client_time_source;
  std::string error_text;
  platform::SocketAddress address;
  if (ctx.network.ResolveAny(WithoutBrackets(name), &address, &error_text)) {
    ReportMessage(msg::kResolveFailed, {name, error_text});
    return false;
  }
  address.port = platform::HostToNetwork16(kNtpPort);
  *out = address;
  return true;
}

}  // namespace chron
