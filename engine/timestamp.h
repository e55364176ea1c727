// NTP timestamps: copies and 64-bit arithmetic, conversion to and from Unix seconds and the
// calendar, the current time as NTP, and the text form for the trace.
#pragma once

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
