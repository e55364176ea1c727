// chron_loadgen: SNTP load generator. Keeps a window of requests in flight on each of several
// UDP sockets to one server for a fixed time, matches every reply to its request by the
// Originate Timestamp (each request's Transmit Timestamp is unique), checks the reply and
// prints replies per second and round-trip latency percentiles.
//
//   chron_loadgen --server 10.0.0.1 [--port 123] [--sockets 4] [--window 16]
//                 [--duration 5] [--warmup 1] [--timeout-ms 500] [--label NAME]
//                 [--sources N --source-base 10.215.0.1]
//   chron_loadgen --nts 10.0.0.1 --nts-ca ca.pem [--nts-port 4460] [the options above]
//
// --nts does NTS-KE with that server first (its certificate checked against --nts-ca) and then
// sends NTS requests, each with a Unique Identifier of its own and one of the session's cookies,
// to the NTP server and port the NTS-KE named (--server, when given, instead); a reply is good
// when its identifier and authenticator check. NTS NAKs are counted apart.
//
// --sources spreads the requests over N source addresses from --source-base on (each request
// from the next one, IP_PKTINFO on the send), for a server that keeps state per source. The
// load host must take them as its own (`ip route add local 10.215.0.0/16 dev lo`) and the
// server's host route them back to it; the sockets are then unconnected.
//
// The last line of the output is machine-readable:
//   RESULT <label> rps=<replies/s> p50_us=.. p90_us=.. p99_us=.. max_us=.. sent=.. replies=..
//          bad=.. lost=.. unmatched=.. nak=..
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <unordered_map>
#include <memory>
#include <vector>

#include "bench/exchange.h"
#include "bench/nts_exchange.h"

namespace chron::bench {

bool GoodHeader(const uint8_t* p, size_t size) {
  if (size < 48) return false;
  const unsigned leap = p[0] >> 6;
  const unsigned version = (p[0] >> 3) & 7;
  const unsigned mode = p[0] & 7;
  const unsigned stratum = p[1];
  uint64_t receive = 0;  // both timestamps big-endian on the wire
  uint64_t transmit = 0;
  for (int i = 0; i < 8; ++i) {
    receive = (receive << 8) | p[32 + i];
    transmit = (transmit << 8) | p[40 + i];
  }
  return leap != 3 && version == 4 && mode == 4 && stratum >= 1 && stratum <= 15 && receive != 0 && transmit != 0 &&
         transmit >= receive;
}

}  // namespace chron::bench

namespace {

using chron::bench::kMaxDatagram;
using chron::bench::Verdict;

constexpr size_t kNtpSize = 48;
constexpr int kBatch = 64;                           // datagrams per sendmmsg / recvmmsg
constexpr uint32_t kUnixToNtpSeconds = 2208988800u;  // 1900-01-01 to 1970-01-01

struct Options {
  std::string server;
  uint16_t port = 123;
  int sockets = 4;
  int window = 16;        // requests in flight per socket
  double duration = 5.0;  // seconds measured
  double warmup = 1.0;    // seconds before measuring
  int timeout_ms = 500;   // a request unanswered this long is counted lost
  std::string label = "server";
  uint32_t sources = 0;     // 0: the socket's own address only
  std::string source_base;  // the first of the `sources` addresses
  std::string nts_host;     // empty: plain SNTP
  uint16_t nts_port = 4460;
  std::string nts_ca;  // PEM: the certificates the NTS-KE server's is checked against
};

constexpr size_t kSourceControl = CMSG_SPACE(sizeof(in_pktinfo));

int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

uint64_t ReadBe64(const uint8_t* p) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = (value << 8) | p[i];
  return value;
}

void WriteBe64(uint8_t* p, uint64_t value) {
  for (int i = 7; i >= 0; --i) {
    p[i] = static_cast<uint8_t>(value & 0xFF);
    value >>= 8;
  }
}

struct Peer {
  int fd = -1;
  std::unordered_map<uint64_t, int64_t> in_flight;  // Transmit Timestamp -> send time (ns)
};

struct Counters {
  uint64_t sent = 0;
  uint64_t replies = 0;    // good replies received in the measured interval
  uint64_t bad = 0;        // replies that failed a check
  uint64_t lost = 0;       // requests unanswered after the time-out
  uint64_t unmatched = 0;  // replies to no request in flight (late or duplicated)
  uint64_t nak = 0;        // NTS NAKs
  std::vector<uint32_t> latency_us;
};

// Plain SNTP: the 48-byte client message with nothing but version, mode and Transmit Timestamp.
class PlainExchange : public chron::bench::Exchange {
 public:
  size_t Build(uint64_t stamp, uint8_t* out) override {
    std::memset(out, 0, kNtpSize);
    out[0] = (0 << 6) | (4 << 3) | 3;  // LI 0, VN 4, Mode 3 (client)
    WriteBe64(out + 40, stamp);
    return kNtpSize;
  }
  Verdict Check(const uint8_t* reply, size_t size, uint64_t) override {
    return chron::bench::GoodHeader(reply, size) ? Verdict::kGood : Verdict::kBad;
  }
};

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string_view name = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (name == "--server") o->server = value;
    else if (name == "--port") o->port = static_cast<uint16_t>(std::atoi(value));
    else if (name == "--sockets") o->sockets = std::atoi(value);
    else if (name == "--window") o->window = std::atoi(value);
    else if (name == "--duration") o->duration = std::atof(value);
    else if (name == "--warmup") o->warmup = std::atof(value);
    else if (name == "--timeout-ms") o->timeout_ms = std::atoi(value);
    else if (name == "--label") o->label = value;
    else if (name == "--sources") o->sources = static_cast<uint32_t>(std::atoll(value));
    else if (name == "--source-base") o->source_base = value;
    else if (name == "--nts") o->nts_host = value;
    else if (name == "--nts-port") o->nts_port = static_cast<uint16_t>(std::atoi(value));
    else if (name == "--nts-ca") o->nts_ca = value;
    else return false;
  }
  if (o->sources > 0 && o->source_base.empty()) o->source_base = "10.215.0.1";
  return (!o->server.empty() || !o->nts_host.empty()) && o->sockets > 0 && o->sockets <= 256 && o->window > 0 &&
         o->window <= 4096 && o->duration > 0 && o->warmup >= 0 && o->timeout_ms > 0;
}

class LoadGenerator {
 public:
  LoadGenerator(const Options& options, std::unique_ptr<chron::bench::Exchange> exchange)
      : o_(options), exchange_(std::move(exchange)) {
    // Unique Transmit Timestamps: this run's start in NTP seconds above, a counter below.
    next_transmit_ = uint64_t{static_cast<uint32_t>(time(nullptr)) + kUnixToNtpSeconds} << 32;
  }

  int Open() {
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(o_.port);
    if (inet_pton(AF_INET, o_.server.c_str(), &server.sin_addr) != 1) {
      std::fprintf(stderr, "chron_loadgen: bad server address %s\n", o_.server.c_str());
      return 2;
    }
    server_ = server;
    in_addr base{};
    if (o_.sources > 0 && inet_pton(AF_INET, o_.source_base.c_str(), &base) != 1) {
      std::fprintf(stderr, "chron_loadgen: bad source address %s\n", o_.source_base.c_str());
      return 2;
    }
    source_base_ = ntohl(base.s_addr);
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) return Fail("epoll_create1");
    peers_.resize(static_cast<size_t>(o_.sockets));
    for (size_t i = 0; i < peers_.size(); ++i) {
      Peer& peer = peers_[i];
      peer.fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (peer.fd < 0) return Fail("socket");
      // Connected: only the server's datagrams reach this socket; send and receive need no address.
      // With several sources the replies come to addresses a connected socket does not match.
      if (o_.sources == 0 && connect(peer.fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
        return Fail("connect");
      }
      peer.in_flight.reserve(static_cast<size_t>(o_.window) * 2);
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.u64 = i;
      if (epoll_ctl(epoll_, EPOLL_CTL_ADD, peer.fd, &event) != 0) return Fail("epoll_ctl");
    }
    return 0;
  }

  int Run() {
    const int64_t start = MonotonicNs();
    measure_from_ = start + static_cast<int64_t>(o_.warmup * 1e9);
    measure_to_ = measure_from_ + static_cast<int64_t>(o_.duration * 1e9);
    for (Peer& peer : peers_) Refill(peer, start);
    std::vector<epoll_event> events(peers_.size());
    int64_t next_expiry_scan = start + 10000000;
    for (;;) {
      const int n = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 5);
      if (n < 0 && errno != EINTR) return Fail("epoll_wait");
      for (int k = 0; k < n; ++k) {
        Peer& peer = peers_[events[k].data.u64];
        if (Drain(peer) != 0) return 1;
      }
      const int64_t now = MonotonicNs();
      if (now >= measure_to_) break;
      if (now >= next_expiry_scan) {
        Expire(now);
        next_expiry_scan = now + 10000000;
      }
      for (Peer& peer : peers_) Refill(peer, now);
    }
    Report();
    return 0;
  }

 private:
  int Fail(const char* what) {
    std::fprintf(stderr, "chron_loadgen: %s: %s\n", what, std::strerror(errno));
    return 1;
  }

  bool Measuring(int64_t when) const { return when >= measure_from_ && when < measure_to_; }

  // Sends requests until the socket has its window full.
  void Refill(Peer& peer, int64_t now) {
    while (static_cast<int>(peer.in_flight.size()) < o_.window) {
      const int count = std::min(kBatch, o_.window - static_cast<int>(peer.in_flight.size()));
      uint8_t packets[kBatch][kMaxDatagram];
      iovec vectors[kBatch];
      mmsghdr headers[kBatch];
      uint64_t stamps[kBatch];
      alignas(cmsghdr) uint8_t controls[kBatch][kSourceControl];
      for (int i = 0; i < count; ++i) {
        stamps[i] = next_transmit_++;
        const size_t size = exchange_->Build(stamps[i], packets[i]);
        if (size == 0) {
          std::fprintf(stderr, "chron_loadgen: cannot build a request\n");
          std::exit(1);
        }
        vectors[i] = {packets[i], size};
        headers[i] = {};
        headers[i].msg_hdr.msg_iov = &vectors[i];
        headers[i].msg_hdr.msg_iovlen = 1;
        if (o_.sources > 0) SetSource(controls[i], &headers[i].msg_hdr);
      }
      const int sent = sendmmsg(peer.fd, headers, static_cast<unsigned>(count), 0);
      if (sent <= 0) return;  // send buffer full (or an ICMP error): try again on the next pass
      for (int i = 0; i < sent; ++i) peer.in_flight.emplace(stamps[i], now);
      if (Measuring(now)) counters_.sent += static_cast<uint64_t>(sent);
    }
  }

  // Addresses the request to the server from the next of the sources.
  void SetSource(uint8_t (&control)[kSourceControl], msghdr* header) {
    header->msg_name = &server_;
    header->msg_namelen = sizeof server_;
    std::memset(control, 0, sizeof control);
    header->msg_control = control;
    header->msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(header);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = htonl(source_base_ + next_source_);
    next_source_ = (next_source_ + 1) % o_.sources;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
  }

  // Reads every reply waiting on the socket.
  int Drain(Peer& peer) {
    for (;;) {
      uint8_t packets[kBatch][kMaxDatagram];
      iovec vectors[kBatch];
      mmsghdr headers[kBatch];
      for (int i = 0; i < kBatch; ++i) {
        vectors[i] = {packets[i], sizeof packets[i]};
        headers[i] = {};
        headers[i].msg_hdr.msg_iov = &vectors[i];
        headers[i].msg_hdr.msg_iovlen = 1;
      }
      const int n = recvmmsg(peer.fd, headers, kBatch, MSG_DONTWAIT, nullptr);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
        if (errno == ECONNREFUSED) return 0;  // ICMP port unreachable: the server is not (yet) there
        return Fail("recvmmsg");
      }
      const int64_t now = MonotonicNs();
      const bool measuring = Measuring(now);
      for (int i = 0; i < n; ++i) {
        const uint8_t* p = packets[i];
        const size_t size = headers[i].msg_len;
        const auto found = size >= kNtpSize ? peer.in_flight.find(ReadBe64(p + 24)) : peer.in_flight.end();
        if (found == peer.in_flight.end()) {
          if (measuring) ++counters_.unmatched;
          continue;
        }
        const int64_t rtt = now - found->second;
        const uint64_t stamp = found->first;
        peer.in_flight.erase(found);
        if (!measuring) continue;
        const Verdict verdict = exchange_->Check(p, size, stamp);
        if (verdict != Verdict::kGood) {
          ++(verdict == Verdict::kNak ? counters_.nak : counters_.bad);
          continue;
        }
        ++counters_.replies;
        counters_.latency_us.push_back(static_cast<uint32_t>(std::min<int64_t>(rtt / 1000, UINT32_MAX)));
      }
      if (n < kBatch) return 0;
    }
  }

  void Expire(int64_t now) {
    const int64_t limit = int64_t{o_.timeout_ms} * 1000000;
    for (Peer& peer : peers_) {
      for (auto it = peer.in_flight.begin(); it != peer.in_flight.end();) {
        if (now - it->second >= limit) {
          if (Measuring(it->second)) ++counters_.lost;
          it = peer.in_flight.erase(it);
        } else {
          ++it;
        }
      }
    }
  }

  uint32_t Percentile(std::vector<uint32_t>& sorted, double fraction) const {
    if (sorted.empty()) return 0;
    size_t index = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
  }

  void Report() {
    std::vector<uint32_t>& l = counters_.latency_us;
    std::sort(l.begin(), l.end());
    const double rps = static_cast<double>(counters_.replies) / o_.duration;
    std::printf("%s: %d sockets x %d in flight, %.1f s measured after %.1f s warm-up\n", o_.label.c_str(), o_.sockets,
                o_.window, o_.duration, o_.warmup);
    std::printf("%s: sent %llu, good replies %llu, bad %llu, lost %llu, unmatched %llu, NTS NAK %llu\n",
                o_.label.c_str(), static_cast<unsigned long long>(counters_.sent),
                static_cast<unsigned long long>(counters_.replies), static_cast<unsigned long long>(counters_.bad),
                static_cast<unsigned long long>(counters_.lost), static_cast<unsigned long long>(counters_.unmatched),
                static_cast<unsigned long long>(counters_.nak));
    std::printf("%s: %.0f replies/s; round trip p50 %u us, p90 %u us, p99 %u us, max %u us\n", o_.label.c_str(), rps,
                Percentile(l, 0.50), Percentile(l, 0.90), Percentile(l, 0.99), l.empty() ? 0 : l.back());
    std::printf(
        "RESULT %s rps=%.0f p50_us=%u p90_us=%u p99_us=%u max_us=%u sent=%llu replies=%llu bad=%llu "
        "lost=%llu unmatched=%llu nak=%llu\n",
        o_.label.c_str(), rps, Percentile(l, 0.50), Percentile(l, 0.90), Percentile(l, 0.99), l.empty() ? 0 : l.back(),
        static_cast<unsigned long long>(counters_.sent), static_cast<unsigned long long>(counters_.replies),
        static_cast<unsigned long long>(counters_.bad), static_cast<unsigned long long>(counters_.lost),
        static_cast<unsigned long long>(counters_.unmatched), static_cast<unsigned long long>(counters_.nak));
    std::fflush(stdout);
  }

  const Options o_;
  std::unique_ptr<chron::bench::Exchange> exchange_;
  int epoll_ = -1;
  std::vector<Peer> peers_;
  uint64_t next_transmit_ = 0;
  sockaddr_in server_{};
  uint32_t source_base_ = 0;  // host byte order
  uint32_t next_source_ = 0;
  int64_t measure_from_ = 0;
  int64_t measure_to_ = 0;
  Counters counters_;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: chron_loadgen --server ADDRESS [--port 123] [--sockets 4] [--window 16]\n"
                 "                     [--duration 5] [--warmup 1] [--timeout-ms 500] [--label NAME]\n"
                 "                     [--sources N [--source-base 10.215.0.1]]\n"
                 "                     [--nts HOST --nts-ca FILE [--nts-port 4460]]\n");
    return 2;
  }
  std::unique_ptr<chron::bench::Exchange> exchange = std::make_unique<PlainExchange>();
  if (!options.nts_host.empty()) {
    chron::bench::NtsTarget target;
    exchange = chron::bench::OpenNtsExchange(options.nts_host, options.nts_port, options.nts_ca, &target);
    if (!exchange) return 1;
    if (options.server.empty()) options.server = target.ntp_server;
    if (options.port == 123) options.port = target.ntp_port;
  }
  LoadGenerator generator(options, std::move(exchange));
  if (int error = generator.Open(); error != 0) return error;
  return generator.Run();
}
