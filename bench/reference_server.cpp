// A minimal batching SNTP server as the benchmark's yardstick of what answering costs on this
// machine: reads up to 32 requests with one recvmmsg, reads the clock once for the batch and
// sends every reply with one sendmmsg. No checks beyond the mode, no authentication, no trace.
// Independent of the product's code, like the load generator.
//
//   chron_reference_server [--port 123] [--alternate MS]
//
// --alternate MS plays a broken server for the clock discipline's tests: its replies carry the
// clock MS milliseconds ahead and behind in turn (receive and transmit stamps alike), an offset
// of mean 0 that scatters by +-MS.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

namespace {

constexpr int kBatch = 32;
constexpr size_t kNtpSize = 48;
constexpr uint64_t kNtpEpochOffset = 2208988800u;  // seconds from 1900 to 1970

// The system clock as an NTP timestamp: seconds since 1900 << 32 | binary fraction.
uint64_t NtpNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const uint64_t fraction = (static_cast<uint64_t>(now.tv_nsec) << 32) / 1000000000u;
  return (static_cast<uint64_t>(now.tv_sec) + kNtpEpochOffset) << 32 | fraction;
}

void WriteBe64(uint8_t* p, uint64_t value) {
  for (int i = 7; i >= 0; --i) {
    p[i] = static_cast<uint8_t>(value);
    value >>= 8;
  }
}

}  // namespace

int main(int argc, char** argv) {
  uint16_t port = 123;
  int64_t alternate_ns = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string_view(argv[i]) == "--port") port = static_cast<uint16_t>(std::atoi(argv[i + 1]));
    if (std::string_view(argv[i]) == "--alternate") alternate_ns = std::atoll(argv[i + 1]) * 1000000;
  }
  // The shift in NTP units (2^-32 s), added modulo 2^64; its sign flips with every reply.
  uint64_t shift = static_cast<uint64_t>((alternate_ns << 32) / 1000000000);
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    std::perror("chron_reference_server: socket/bind");
    return 1;
  }
  uint8_t packets[kBatch][kNtpSize + 20];
  sockaddr_in peers[kBatch];
  iovec vectors[kBatch];
  mmsghdr in[kBatch];
  mmsghdr out[kBatch];
  for (;;) {
    for (int i = 0; i < kBatch; ++i) {
      vectors[i] = {packets[i], sizeof packets[i]};
      in[i] = {};
      in[i].msg_hdr.msg_name = &peers[i];
      in[i].msg_hdr.msg_namelen = sizeof peers[i];
      in[i].msg_hdr.msg_iov = &vectors[i];
      in[i].msg_hdr.msg_iovlen = 1;
    }
    const int n = recvmmsg(fd, in, kBatch, MSG_WAITFORONE, nullptr);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::perror("chron_reference_server: recvmmsg");
      return 1;
    }
    const uint64_t now = NtpNow();  // receive and transmit stamp of the whole batch
    int replies = 0;
    for (int i = 0; i < n; ++i) {
      uint8_t* p = packets[i];
      if (in[i].msg_len < kNtpSize || (p[0] & 7) != 3) continue;
      uint8_t transmit[8];
      std::memcpy(transmit, p + 40, sizeof transmit);
      std::memset(p, 0, kNtpSize);
      p[0] = static_cast<uint8_t>((4 << 3) | 4);  // no leap warning, version 4, mode 4 (server)
      p[1] = 1;                                   // stratum 1
      p[3] = static_cast<uint8_t>(-20);           // precision 2^-20 s
      std::memcpy(p + 12, "LOCL", 4);
      shift = 0 - shift;
      WriteBe64(p + 16, now + shift);                  // reference
      std::memcpy(p + 24, transmit, sizeof transmit);  // originate: the request's transmit
      WriteBe64(p + 32, now + shift);                  // receive
      WriteBe64(p + 40, now + shift);                  // transmit
      vectors[i].iov_len = kNtpSize;
      out[replies] = {};
      out[replies].msg_hdr.msg_name = &peers[i];
      out[replies].msg_hdr.msg_namelen = sizeof peers[i];
      out[replies].msg_hdr.msg_iov = &vectors[i];
      out[replies].msg_hdr.msg_iovlen = 1;
      ++replies;
    }
    for (int sent = 0; sent < replies;) {
      const int k = sendmmsg(fd, out + sent, static_cast<unsigned>(replies - sent), 0);
      if (k <= 0) break;  // a full send buffer drops the rest, as a busy server does
      sent += k;
    }
  }
}
