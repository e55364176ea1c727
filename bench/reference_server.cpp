// A minimal batching SNTP server as the benchmark's yardstick of what answering costs on this
// machine: reads up to 32 requests with one recvmmsg, reads the clock once for the batch and
// sends every reply with one sendmmsg. No checks beyond the mode, no authentication, no trace.
// Independent of the product's code, like the load generator.
//
//   chron_reference_server [--port 123] [--alternate MS] [--twin]
//
// --twin adds what a full server needs of the kernel and what costs it time there: each
// datagram's kernel arrival stamp (SO_TIMESTAMPNS) becomes its Receive Timestamp, and its
// destination (IP_PKTINFO) the reply's source address (IP_PKTINFO on the send), as for a server
// bound to 0.0.0.0 on a host with several addresses. The benchmark sets it beside the plain
// server to tell the kernel's share of a reply's cost from the server's own.
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
uint64_t NtpFrom(const timespec& t) {
  const uint64_t fraction = (static_cast<uint64_t>(t.tv_nsec) << 32) / 1000000000u;
  return (static_cast<uint64_t>(t.tv_sec) + kNtpEpochOffset) << 32 | fraction;
}

uint64_t NtpNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return NtpFrom(now);
}

// Room for the control messages of one received datagram (arrival stamp and destination) and
// of one reply (its source).
constexpr size_t kControlIn = CMSG_SPACE(sizeof(timespec)) + CMSG_SPACE(sizeof(in_pktinfo));
constexpr size_t kControlOut = CMSG_SPACE(sizeof(in_pktinfo));

// The twin's reading of a datagram's control messages: the arrival stamp (NTP units; `now`
// where the kernel gave none) and the destination (network byte order; 0 where none).
void ReadControl(msghdr& header, uint64_t now, uint64_t* arrival, in_addr* destination) {
  *arrival = now;
  destination->s_addr = 0;
  for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
      timespec stamp{};
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      *arrival = NtpFrom(stamp);
    } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
      in_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      *destination = info.ipi_addr;
    }
  }
}

// The reply's control message: sent from `source` (network byte order); none when it is 0.
void SetSource(in_addr source, uint8_t (&control)[kControlOut], msghdr* header) {
  if (source.s_addr == 0) return;
  std::memset(control, 0, sizeof control);
  header->msg_control = control;
  header->msg_controllen = sizeof control;
  cmsghdr* c = CMSG_FIRSTHDR(header);
  c->cmsg_level = IPPROTO_IP;
  c->cmsg_type = IP_PKTINFO;
  c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
  in_pktinfo info{};
  info.ipi_spec_dst = source;
  std::memcpy(CMSG_DATA(c), &info, sizeof info);
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
  bool twin = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (name == "--twin") twin = true;
    if (i + 1 >= argc) break;
    if (name == "--port") port = static_cast<uint16_t>(std::atoi(argv[++i]));
    if (name == "--alternate") alternate_ns = std::atoll(argv[++i]) * 1000000;
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
  const int on = 1;
  if (twin && (setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
               setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0)) {
    std::perror("chron_reference_server: setsockopt");
    return 1;
  }
  uint8_t packets[kBatch][kNtpSize + 20];
  alignas(cmsghdr) uint8_t controls_in[kBatch][kControlIn];
  alignas(cmsghdr) uint8_t controls_out[kBatch][kControlOut];
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
      if (twin) {
        in[i].msg_hdr.msg_control = controls_in[i];
        in[i].msg_hdr.msg_controllen = sizeof controls_in[i];
      }
    }
    const int n = recvmmsg(fd, in, kBatch, MSG_WAITFORONE, nullptr);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::perror("chron_reference_server: recvmmsg");
      return 1;
    }
    const uint64_t now = NtpNow();  // transmit stamp of the whole batch, and its receive stamp but in the twin
    int replies = 0;
    for (int i = 0; i < n; ++i) {
      uint8_t* p = packets[i];
      if (in[i].msg_len < kNtpSize || (p[0] & 7) != 3) continue;
      uint64_t receive = now;
      in_addr destination{};
      if (twin) ReadControl(in[i].msg_hdr, now, &receive, &destination);
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
      WriteBe64(p + 32, receive + shift);              // receive
      WriteBe64(p + 40, now + shift);                  // transmit
      vectors[i].iov_len = kNtpSize;
      out[replies] = {};
      out[replies].msg_hdr.msg_name = &peers[i];
      out[replies].msg_hdr.msg_namelen = sizeof peers[i];
      out[replies].msg_hdr.msg_iov = &vectors[i];
      out[replies].msg_hdr.msg_iovlen = 1;
      SetSource(destination, controls_out[i], &out[replies].msg_hdr);
      ++replies;
    }
    for (int sent = 0; sent < replies;) {
      const int k = sendmmsg(fd, out + sent, static_cast<unsigned>(replies - sent), 0);
      if (k <= 0) break;  // a full send buffer drops the rest, as a busy server does
      sent += k;
    }
  }
}
