#include "engine/reply_batch.h"

#include <string>

#include "engine/report_limit.h"
#include "messages/report.h"

namespace chron {

void ReplyBatch::Add(platform::UdpSocket& socket, const NtpMessage& reply, const platform::SocketAddress& to,
                     const SymmetricKey* key) {
  replies_.push_back(Reply{&socket, reply, to, key, {}});
}

size_t ReplyBatch::Send(platform::Clock& clock, ReportLimit& reports) {
  if (replies_.empty()) return 0;
  size_t taken = 0;
  const bool debug = DebugMode();
  // Read last, just before the sends, so that Receive..Transmit covers all our processing.
  const NtpTimestamp transmit = NtpNow(clock);
  std::vector<platform::OutgoingDatagram>& datagrams = datagrams_;
  datagrams.reserve(replies_.size());
  for (size_t begin = 0; begin < replies_.size();) {
    // The replies of one socket in a row go out together.
    platform::UdpSocket* socket = replies_[begin].socket;
    size_t end = begin;
    datagrams.clear();
    for (; end < replies_.size() && replies_[end].socket == socket; ++end) {
      Reply& r = replies_[end];
      SetTransmitTime(&r.message, transmit);
      NtpToNetworkOrder(&r.message);
      NtpToBytes(r.message, r.bytes.data());
      if (r.key != nullptr && !SignMessage(*r.key, r.bytes.data())) {
        if (reports.Allow(msg::kWinsockError.id)) {
          ReportMessage(msg::kWinsockError, {std::string("SNTP-Server"), std::string("sendto"), int64_t{EINVAL}});
        }
        continue;
      }
      datagrams.push_back({r.bytes.data(), r.key != nullptr ? kNtpMessageWithAuthSize : kNtpMessageSize, r.to});
    }
    for (size_t done = 0; done < datagrams.size();) {
      size_t sent = 0;
      const std::error_code error = socket->SendBatch(datagrams.data() + done, datagrams.size() - done, &sent);
      for (size_t i = done; debug && i < done + sent; ++i) {
        Trace("SNTP-Server: NTP Antwort an %s verschickt.\n", platform::AddressText(datagrams[i].to).c_str());
      }
      done += sent;
      taken += sent;
      if (!error) break;
      if (reports.Allow(msg::kWinsockError.id)) {
        ReportMessage(msg::kWinsockError, {std::string("SNTP-Server"), std::string("sendto"), int64_t{error.value()}});
      }
      ++done;  // the one that failed
    }
    begin = end;
  }
  replies_.clear();
  return taken;
}

}  // namespace chron
