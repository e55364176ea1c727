// The client's arithmetic on the four timestamps of a reply or broadcast, free of any I/O.
// All timestamps are 64-bit NTP values (seconds << 32 | fraction); differences are taken
// modulo 2^64 and read as signed numbers in units of 2^-32 s.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace chron {

// Clock offset in 2^-32 s; positive: the server is ahead and the clock must go forwards.
// Reply: ((T2 - T1) + (T3 - T4)) / 2, truncated toward zero. Broadcast: (T2 - T1) + (T3 - T4)
// not halved, which for the server's broadcasts (T1 = T2 = 0) is T3 - T4.
int64_t ClockOffset(uint64_t t1, uint64_t t2, uint64_t t3, uint64_t t4, bool broadcast);

// Round-trip delay of a reply in 2^-32 s: (T4 - T1) - (T3 - T2), each difference and the
// result in full 64-bit signed arithmetic. Negative when the server's processing time
// exceeds the measured round trip (clocks of different resolution).
int64_t RoundTripDelay(uint64_t t1, uint64_t t2, uint64_t t3, uint64_t t4);

// T1 of a reply's arithmetic: the request's departure as the system stamped it (`departure`,
// on the client's clock) where that lies between the reading the request carried as its
// Transmit Timestamp (`originate`, which its random low bits may put up to `slack` above the
// reading) and the reply's arrival `t4`; otherwise `originate`. A stamp outside that span
// belongs to another datagram.
uint64_t RequestDeparture(uint64_t originate, std::optional<uint64_t> departure, uint64_t t4, uint64_t slack);

// A signed 2^-32 s value as the trace and the deviation report show it: whole seconds
// truncated toward zero (they carry the sign) and the magnitude of the remaining
// milliseconds, rounded down (0 to 999). -0.5 s gives 0 and 500; -1.5 s gives -1 and 500.
struct DisplaySeconds {
  int32_t seconds = 0;
  int32_t milliseconds = 0;
  bool negative = false;  // the value is below 0, also when the seconds are 0
};
DisplaySeconds ToDisplaySeconds(int64_t value);

// The trace's text of a value, "%d.%03d" with its sign also between -1 s and 0: "-0.500".
std::string SignedSecondsText(const DisplaySeconds& value);

// True when the deviation limit refuses an offset: the limit is active and the magnitude of
// the whole seconds exceeds `limit_seconds` (180.999 s passes a limit of 180, 181.000 does not).
bool ExceedsDeviationLimit(const DisplaySeconds& offset, bool limit_active, uint32_t limit_seconds);

// Why a reply or broadcast carries no usable sample (RFC 4330 section 5, RFC 5905 section 8),
// judged before any of its time is used. kNone: it may be used.
enum class SampleFault {
  kNone,
  kVersion,                 // version outside 1..4
  kStratum,                 // stratum above 15 (16 = unsynchronised); 0 is a kiss code, judged before
  kZeroReceive,             // a reply without Receive Timestamp
  kTransmitBeforeReceive,   // T3 before T2
  kReferenceAfterTransmit,  // the server's clock was set after it sent the message
  kRootDistance,            // root delay / 2 + root dispersion not below 1.5 s
  kImpossibleDelay,         // round trip negative beyond the precision, or longer than the request was out
};

// The header fields and timestamps (64-bit NTP values, T1 the request's departure) of one
// reply or broadcast as CheckSample judges them.
struct SampleFacts {
  bool broadcast = false;
  uint32_t version = 0;
  uint32_t stratum = 0;
  int32_t precision = 0;         // the server's, log2 seconds
  uint32_t root_delay = 0;       // 16.16 seconds as on the wire
  uint32_t root_dispersion = 0;  // 16.16 seconds as on the wire
  uint64_t reference = 0;        // 0: the server never set its clock (allowed)
  uint64_t t1 = 0, t2 = 0, t3 = 0, t4 = 0;
};

// The first fault of a sample, in the order of the enumeration, or kNone. `resolution` is this
// clock's in 2^-32 s: it widens the tolerance of a negative round trip with the server's
// precision. A broadcast has no T1 and T2, so only the header tests apply to it.
SampleFault CheckSample(const SampleFacts& sample, int64_t resolution);

// A 2^-32 s value in nanoseconds, rounded to the nearest nanosecond (halves upwards).
int64_t NtpUnitsToNanoseconds(int64_t value);
// Nanoseconds (at most a second either way) in 2^-32 s, truncated toward zero.
int64_t NanosecondsToNtpUnits(int64_t nanoseconds);

}  // namespace chron
