#include "engine/client_math.h"

#include <algorithm>
#include <cstdio>

namespace chron {

namespace {

constexpr uint64_t kFractionMask = 0xFFFFFFFFu;
constexpr int64_t kNanosecondsPerSecond = 1'000'000'000;

}  // namespace

int64_t ClockOffset(uint64_t t1, uint64_t t2, uint64_t t3, uint64_t t4, bool broadcast) {
  const int64_t sum = static_cast<int64_t>(t3 - t1 - t4 + t2);  // modulo 2^64
  return broadcast ? sum : sum / 2;
}

int64_t RoundTripDelay(uint64_t t1, uint64_t t2, uint64_t t3, uint64_t t4) {
  return static_cast<int64_t>((t4 - t1) - (t3 - t2));  // modulo 2^64
}

uint64_t RequestDeparture(uint64_t originate, std::optional<uint64_t> departure, uint64_t t4, uint64_t slack) {
  if (!departure) return originate;
  const int64_t after_reading = static_cast<int64_t>(*departure - originate);  // modulo 2^64
  const int64_t before_arrival = static_cast<int64_t>(t4 - *departure);
  if (after_reading < -static_cast<int64_t>(slack) || before_arrival < 0) return originate;
  return *departure;
}

SampleFault CheckSample(const SampleFacts& s, int64_t resolution) {
  constexpr uint64_t kMaxRootDistance = uint64_t{3} << 15;  // 1.5 s in 16.16 (RFC 5905 MAXDIST)
  if (s.version < 1 || s.version > 4) return SampleFault::kVersion;
  if (s.stratum > 15) return SampleFault::kStratum;
  if (!s.broadcast && s.t2 == 0) return SampleFault::kZeroReceive;
  if (!s.broadcast && static_cast<int64_t>(s.t3 - s.t2) < 0) return SampleFault::kTransmitBeforeReceive;
  if (s.reference != 0 && static_cast<int64_t>(s.t3 - s.reference) < 0) return SampleFault::kReferenceAfterTransmit;
  if (uint64_t{s.root_delay} / 2 + s.root_dispersion >= kMaxRootDistance) return SampleFault::kRootDistance;
  if (s.broadcast) return SampleFault::kNone;
  // The server's precision as 2^-32 s, at most one second: a claim of worse is no tolerance.
  const int shift = 32 + std::clamp(s.precision, -32, 0);
  const int64_t tolerance = (int64_t{1} << shift) + std::max<int64_t>(resolution, 0);
  const int64_t delay = RoundTripDelay(s.t1, s.t2, s.t3, s.t4);
  const int64_t out = static_cast<int64_t>(s.t4 - s.t1);
  if (delay < -tolerance || delay > out + tolerance) return SampleFault::kImpossibleDelay;
  return SampleFault::kNone;
}

DisplaySeconds ToDisplaySeconds(int64_t value) {
  // Seconds truncated toward zero. The milliseconds come from the fraction of the magnitude;
  // for every value this equals |value * 1000 / 2^32 - seconds * 1000| without the product
  // overflowing 64 bits (it would beyond about 24 days).
  const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const int64_t whole = static_cast<int64_t>(magnitude >> 32);
  DisplaySeconds shown;
  shown.seconds = static_cast<int32_t>(value < 0 ? -whole : whole);
  shown.milliseconds = static_cast<int32_t>(((magnitude & kFractionMask) * 1000) >> 32);
  shown.negative = value < 0;
  return shown;
}

std::string SignedSecondsText(const DisplaySeconds& value) {
  char text[32];
  std::snprintf(text, sizeof text, "%s%d.%03d", value.negative && value.seconds == 0 ? "-" : "", value.seconds,
                value.milliseconds);
  return text;
}

bool ExceedsDeviationLimit(const DisplaySeconds& offset, bool limit_active, uint32_t limit_seconds) {
  if (!limit_active) return false;
  const int64_t seconds = offset.seconds;
  return (seconds < 0 ? -seconds : seconds) > static_cast<int64_t>(limit_seconds);
}

int64_t NtpUnitsToNanoseconds(int64_t value) {
  const int64_t seconds = value >> 32;  // floor: the fraction below is then never negative
  const uint64_t fraction = static_cast<uint64_t>(value) & kFractionMask;
  // fraction * 10^9 < 2^62, so adding the half unit cannot overflow.
  const uint64_t nanoseconds = (fraction * kNanosecondsPerSecond + (uint64_t{1} << 31)) >> 32;
  return seconds * kNanosecondsPerSecond + static_cast<int64_t>(nanoseconds);
}

int64_t NanosecondsToNtpUnits(int64_t nanoseconds) {
  const int64_t bounded = std::clamp<int64_t>(nanoseconds, -kNanosecondsPerSecond, kNanosecondsPerSecond);
  return bounded * (int64_t{1} << 32) / kNanosecondsPerSecond;  // below 2^62: no overflow
}

}  // namespace chron
