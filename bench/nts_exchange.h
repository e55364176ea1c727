// chron_loadgen's NTS requests: one NTS-KE with the server, then every request with a Unique
// Identifier of its own and one of the session's cookies (the same cookies again and again: the
// server keeps no state per cookie), asking for no more cookies.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "bench/exchange.h"

namespace chron::bench {

struct NtsTarget {
  std::string ntp_server;  // where the NTS-KE server sends NTP (its own address when it named none)
  uint16_t ntp_port = 123;
};

// NTS-KE with `host`:`port`, the certificate checked against the PEM file `trusted`. None, with
// the reason on standard error, when the key establishment failed.
std::unique_ptr<Exchange> OpenNtsExchange(const std::string& host, uint16_t port, const std::string& trusted,
                                          NtsTarget* target);

}  // namespace chron::bench
