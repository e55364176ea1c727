// The NTP version 4 message (RFC 4330, 48 bytes without authenticator) and NTP timestamps.
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
#include <string>

#include "platform/clock.h"

namespace chron {

// Seconds since 1900-01-01 00:00:00 UTC modulo 2^32 and a binary fraction (units of 2^-32 s).
struct NtpTimestamp {
  uint32_t seconds = 0;
  uint32_t fraction = 0;
};

inline constexpr NtpTimestamp ZeroTimestamp{0, 0};

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
inline constexpr size_t kNtpMessageWithAuthSize = 68;     // header and the 20-byte authenticator
inline constexpr size_t kReceiveBufferSize = 512;         // longer datagrams are read cut
inline constexpr uint32_t kReferenceIdLocl = 0x4C4F434C;  // "LOCL" on the wire

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

void CopyTimestamp(NtpTimestamp* destination, const NtpTimestamp& source);
bool TimestampsEqual(const NtpTimestamp& a, const NtpTimestamp& b);
void ClearTimestamp(NtpTimestamp* t);
uint64_t TimestampToUint64(const NtpTimestamp& t);  // seconds << 32 | fraction
NtpTimestamp TimestampFromUint64(uint64_t value);
// High 32 bits of (later - earlier) modulo 2^64: whole seconds, rounded down.
uint32_t WholeSecondsBetween(const NtpTimestamp& later, const NtpTimestamp& earlier);

// Seconds since 1970-01-01 00:00:00 UTC of an NTP seconds word. Words with the top bit set
// belong to era 0 (1968-2036), words with it clear to era 1 (from 2036-02-07 06:28:16 UTC).
int64_t NtpSecondsToUnix(uint32_t ntp_seconds);
// The NTP seconds word (modulo 2^32) of a Unix time.
uint32_t UnixToNtpSeconds(int64_t unix_seconds);

// Seconds since 1970 of a UTC calendar time (proleptic Gregorian).
int64_t UnixFromCalendar(int year, int month, int day, int hour, int minute, int second);
struct CalendarTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
CalendarTime CalendarFromUnix(int64_t unix_seconds);
void CalendarFromJulianDay(int64_t julian_day, int* year, int* month, int* day);

// Nanoseconds since 1970-01-01 00:00:00 UTC as an NTP timestamp, the fraction rounded to the
// nearest 2^-32 s.
NtpTimestamp NtpFromNanoseconds(int64_t unix_ns);
// The reverse, rounded to the nearest nanosecond; the seconds word is read as NtpSecondsToUnix
// reads it (era 0 or 1).
int64_t NanosecondsFromNtp(const NtpTimestamp& t);
// The current time of `clock` at the clock's full resolution.
NtpTimestamp NtpNow(platform::Clock& clock);
// The same with the fraction bits below the clock's resolution random: they carry no time, and
// they keep a host that did not see the value from guessing it (a request's Transmit Timestamp,
// which a genuine reply must echo).
NtpTimestamp NtpNowWithRandomLowBits(platform::Clock& clock);
// Local-time text "YYYY-MM-DD hh:mm:ss.mmm" (milliseconds rounded down);
// "0000-00-00 00:00:00.000" before 1970.
std::string FormatTimestamp(const NtpTimestamp& t);

}  // namespace chron
