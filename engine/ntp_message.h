// The NTP version 4 message (RFC 4330, 48 bytes without authenticator).
//
//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |LI | VN  |Mode |    Stratum    |     Poll      |   Precision   |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |                          Root Delay                           |  offset 4
// |                       Root Dispersion                         |  offset 8
// |                     Reference Identifier                      |  offset 12
// |                   Reference Timestamp (64)                    |  offset 16
// |                   Originate Timestamp (64)                    |  offset 24
// |                    Receive Timestamp (64)                     |  offset 32
// |                    Transmit Timestamp (64)                    |  offset 40
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//
// On the wire every 32-bit word is big-endian. Inside the engine a message is held in host
// byte order from reception until it is dropped; a built message is converted to network
// order once, just before it is sent, and must not be read through the accessors afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/timestamp.h"

namespace chron {

struct NtpMessage {
  uint8_t li_vn_mode = 0;
  uint8_t stratum = 0;
  uint8_t poll = 0;
  uint8_t precision = 0;
  uint32_t root_delay = 0;
  uint32_t root_dispersion = 0;
  uint32_t reference_id = 0;
  NtpTimestamp reference_time;
  NtpTimestamp originate_time;
  NtpTimestamp receive_time;
  NtpTimestamp transmit_time;
};

inline constexpr size_t kNtpMessageSize = 48;
inline constexpr size_t kNtpMessageWithAuthSize = 68;  // header and the 20-byte authenticator
// Room for a request or reply with NTS's extension fields (about 1 KiB with eight cookies and
// placeholders); longer datagrams are read cut.
inline constexpr size_t kReceiveBufferSize = 1280;
inline constexpr uint32_t kReferenceIdLocl = 0x4C4F434C;  // "LOCL" on the wire
inline constexpr uint32_t kReferenceIdRate = 0x52415445;  // "RATE" on the wire: a kiss code

enum NtpMode : uint8_t {
  kModeReserved = 0,
  kModeSymmetricActive = 1,
  kModeSymmetricPassive = 2,
  kModeClient = 3,
  kModeServer = 4,
  kModeBroadcast = 5,
  kModeControl = 6,
  kModePrivate = 7,
};

void InitNtpMessage(NtpMessage* message);
// The Kiss-o'-Death RATE (RFC 5905 section 7.4) that asks the client of `request` (host order)
// to poll less often: LI 3, the request's version, Mode 4, stratum 0, Poll the request's or
// `least_poll` (log2 s) where that is longer, reference identifier "RATE". Originate, Receive and
// Transmit Timestamp are the request's Transmit Timestamp: it tells no time of this host, and a
// client that takes no message with a zero Receive or Transmit Timestamp (RFC 5905's test 3, as
// chrony does) still takes it. Every other field is zero. It carries no MAC: 48 bytes, never more
// than the request.
NtpMessage RateKiss(const NtpMessage& request, uint32_t least_poll);
void NtpToNetworkOrder(NtpMessage* message);
void NtpToHostOrder(NtpMessage* message);
// Wire bytes <-> message record (no byte-order change: the record holds what the bytes hold).
void NtpFromBytes(const uint8_t* bytes, NtpMessage* message);  // reads 48 bytes
void NtpToBytes(const NtpMessage& message, uint8_t* bytes);    // writes 48 bytes

void SetLeapIndicator(NtpMessage* m, uint32_t value);
uint32_t GetLeapIndicator(const NtpMessage& m);
void SetVersionNumber(NtpMessage* m, uint32_t value);
uint32_t GetVersionNumber(const NtpMessage& m);
void SetMode(NtpMessage* m, uint32_t value);
uint32_t GetMode(const NtpMessage& m);
void SetStratum(NtpMessage* m, uint32_t value);
uint32_t GetStratum(const NtpMessage& m);
void SetPoll(NtpMessage* m, uint32_t value);
uint32_t GetPoll(const NtpMessage& m);
void SetPrecision(NtpMessage* m, int32_t value);
int32_t GetPrecision(const NtpMessage& m);
void SetRootDelay(NtpMessage* m, uint32_t value);
uint32_t GetRootDelay(const NtpMessage& m);
void SetRootDispersion(NtpMessage* m, uint32_t value);
uint32_t GetRootDispersion(const NtpMessage& m);
void SetReferenceId(NtpMessage* m, uint32_t value);
uint32_t GetReferenceId(const NtpMessage& m);
void SetReferenceTime(NtpMessage* m, const NtpTimestamp& t);
void SetOriginateTime(NtpMessage* m, const NtpTimestamp& t);
void SetReceiveTime(NtpMessage* m, const NtpTimestamp& t);
void SetTransmitTime(NtpMessage* m, const NtpTimestamp& t);
NtpTimestamp GetTransmitTime(const NtpMessage& m);

}  // namespace chron
