#include "bench/nts_exchange.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>
#include <vector>

#include "engine/nts_fields.h"
#include "engine/nts_ke_client.h"

namespace chron::bench {
namespace {

class NtsExchange : public Exchange {
 public:
  NtsExchange(nts::NtsSession session, const nts::UniqueId& prefix)
      : keys_(session.keys), cookies_(session.cookies.begin(), session.cookies.end()), prefix_(prefix) {}

  size_t Build(uint64_t stamp, uint8_t* out) override {
    uint8_t header[nts::kHeaderSize] = {};
    header[0] = (0 << 6) | (4 << 3) | 3;  // LI 0, VN 4, Mode 3 (client)
    for (int i = 0; i < 8; ++i) header[40 + i] = static_cast<uint8_t>(stamp >> (56 - 8 * i));  // big-endian
    const std::vector<uint8_t>& cookie = cookies_[stamp % cookies_.size()];
    const std::optional<std::vector<uint8_t>> request = nts::BuildNtsRequest(header, UidOf(stamp), cookie, 0, keys_);
    if (!request || request->size() > kMaxDatagram) return 0;
    std::memcpy(out, request->data(), request->size());
    return request->size();
  }

  Verdict Check(const uint8_t* reply, size_t size, uint64_t stamp) override {
    const nts::NtsReplyCheck check = nts::CheckNtsReply(std::span(reply, size), UidOf(stamp), keys_);
    if (check.kind == nts::NtsReplyCheck::Kind::kNak) return Verdict::kNak;
    return check.kind == nts::NtsReplyCheck::Kind::kAuthentic && GoodHeader(reply, size) ? Verdict::kGood
                                                                                         : Verdict::kBad;
  }

 private:
  // Unique per request without a table: random bytes of this run, the last 8 the request's stamp.
  nts::UniqueId UidOf(uint64_t stamp) const {
    nts::UniqueId uid = prefix_;
    for (int i = 0; i < 8; ++i) uid[nts::kUniqueIdSize - 8 + i] = static_cast<uint8_t>(stamp >> (56 - 8 * i));
    return uid;
  }

  nts::SessionKeys keys_;
  std::vector<std::vector<uint8_t>> cookies_;
  nts::UniqueId prefix_;
};

}  // namespace

std::unique_ptr<Exchange> OpenNtsExchange(const std::string& host, uint16_t port, const std::string& trusted,
                                          NtsTarget* target) {
  nts::TlsNtsKeyEstablishment establishment(trusted);
  nts::NtsKeOutcome outcome = establishment.Establish(host, port);
  if (outcome.failure != nts::NtsKeFailure::kNone || outcome.session.cookies.empty()) {
    std::fprintf(stderr, "chron_loadgen: NTS-KE with %s port %u failed (%d): %s\n", host.c_str(), port,
                 static_cast<int>(outcome.failure), outcome.detail.c_str());
    return nullptr;
  }
  const std::optional<nts::UniqueId> prefix = nts::NewUniqueId();
  if (!prefix) return nullptr;
  target->ntp_server = outcome.session.ntp_server;
  target->ntp_port = outcome.session.ntp_port;
  return std::make_unique<NtsExchange>(std::move(outcome.session), *prefix);
}

}  // namespace chron::bench
