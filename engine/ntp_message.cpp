// The NTP message record: initialisation, byte order, wire copies and field accessors.
#include "engine/ntp_message.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>

namespace chron {

// The record is the wire layout itself: no padding, every field at its wire offset.
static_assert(std::is_standard_layout_v<NtpMessage> && std::is_trivially_copyable_v<NtpMessage>);
static_assert(sizeof(NtpTimestamp) == 8);
static_assert(offsetof(NtpTimestamp, seconds) == 0);
static_assert(offsetof(NtpTimestamp, fraction) == 4);
static_assert(sizeof(NtpMessage) == kNtpMessageSize);
static_assert(offsetof(NtpMessage, li_vn_mode) == 0);
static_assert(offsetof(NtpMessage, stratum) == 1);
static_assert(offsetof(NtpMessage, poll) == 2);
static_assert(offsetof(NtpMessage, precision) == 3);
static_assert(offsetof(NtpMessage, root_delay) == 4);
static_assert(offsetof(NtpMessage, root_dispersion) == 8);
static_assert(offsetof(NtpMessage, reference_id) == 12);
static_assert(offsetof(NtpMessage, reference_time) == 16);
static_assert(offsetof(NtpMessage, originate_time) == 24);
static_assert(offsetof(NtpMessage, receive_time) == 32);
static_assert(offsetof(NtpMessage, transmit_time) == 40);

namespace {

// Host order <-> big-endian for one 32-bit word (its own inverse).
uint32_t SwapToFromBigEndian(uint32_t word) {
  if constexpr (std::endian::native == std::endian::big) {
    return word;
  } else {
    return (word >> 24) | ((word >> 8) & 0x0000FF00u) | ((word << 8) & 0x00FF0000u) | (word << 24);
  }
}

// Every 32-bit word of the message (offsets 4 to 44); bytes 0 to 3 are single bytes.
void SwapWords(NtpMessage* m) {
  for (uint32_t* word :
       {&m->root_delay, &m->root_dispersion, &m->reference_id, &m->reference_time.seconds, &m->reference_time.fraction,
        &m->originate_time.seconds, &m->originate_time.fraction, &m->receive_time.seconds, &m->receive_time.fraction,
        &m->transmit_time.seconds, &m->transmit_time.fraction}) {
    *word = SwapToFromBigEndian(*word);
  }
}

template <typename Field>
void CopyIn(const uint8_t* bytes, size_t offset, Field* field) {
  std::memcpy(field, bytes + offset, sizeof(Field));
}

template <typename Field>
void CopyOut(const Field& field, size_t offset, uint8_t* bytes) {
  std::memcpy(bytes + offset, &field, sizeof(Field));
}

void TimestampIn(const uint8_t* bytes, size_t offset, NtpTimestamp* t) {
  CopyIn(bytes, offset, &t->seconds);
  CopyIn(bytes, offset + 4, &t->fraction);
}

void TimestampOut(const NtpTimestamp& t, size_t offset, uint8_t* bytes) {
  CopyOut(t.seconds, offset, bytes);
  CopyOut(t.fraction, offset + 4, bytes);
}

}  // namespace

void InitNtpMessage(NtpMessage* message) {
  *message = NtpMessage{};
  SetLeapIndicator(message, 3);  // alarm: this client's clock is not synchronised
  SetVersionNumber(message, 4);
  SetMode(message, kModeReserved);
  SetStratum(message, 0);
  SetPoll(message, 10);
  SetPrecision(message, 0);
  SetRootDelay(message, 0);
  SetRootDispersion(message, 0);
  SetReferenceId(message, kReferenceIdLocl);
  SetReferenceTime(message, ZeroTimestamp);
  SetOriginateTime(message, ZeroTimestamp);
  SetReceiveTime(message, ZeroTimestamp);
  SetTransmitTime(message, ZeroTimestamp);
}

NtpMessage RateKiss(const NtpMessage& request, uint32_t least_poll) {
  NtpMessage kiss{};
  SetLeapIndicator(&kiss, 3);
  SetVersionNumber(&kiss, GetVersionNumber(request));
  SetMode(&kiss, kModeServer);
  SetPoll(&kiss, std::max(GetPoll(request), least_poll));
  SetReferenceId(&kiss, kReferenceIdRate);
  SetOriginateTime(&kiss, request.transmit_time);
  SetReceiveTime(&kiss, request.transmit_time);
  SetTransmitTime(&kiss, request.transmit_time);
  return kiss;
}

void NtpToNetworkOrder(NtpMessage* message) { SwapWords(message); }

void NtpToHostOrder(NtpMessage* message) { SwapWords(message); }

void NtpFromBytes(const uint8_t* bytes, NtpMessage* message) {
  CopyIn(bytes, 0, &message->li_vn_mode);
  CopyIn(bytes, 1, &message->stratum);
  CopyIn(bytes, 2, &message->poll);
  CopyIn(bytes, 3, &message->precision);
  CopyIn(bytes, 4, &message->root_delay);
  CopyIn(bytes, 8, &message->root_dispersion);
  CopyIn(bytes, 12, &message->reference_id);
  TimestampIn(bytes, 16, &message->reference_time);
  TimestampIn(bytes, 24, &message->originate_time);
  TimestampIn(bytes, 32, &message->receive_time);
  TimestampIn(bytes, 40, &message->transmit_time);
}

void NtpToBytes(const NtpMessage& message, uint8_t* bytes) {
  CopyOut(message.li_vn_mode, 0, bytes);
  CopyOut(message.stratum, 1, bytes);
  CopyOut(message.poll, 2, bytes);
  CopyOut(message.precision, 3, bytes);
  CopyOut(message.root_delay, 4, bytes);
  CopyOut(message.root_dispersion, 8, bytes);
  CopyOut(message.reference_id, 12, bytes);
  TimestampOut(message.reference_time, 16, bytes);
  TimestampOut(message.originate_time, 24, bytes);
  TimestampOut(message.receive_time, 32, bytes);
  TimestampOut(message.transmit_time, 40, bytes);
}

// Byte 0: bits 7-6 leap indicator, bits 5-3 version, bits 2-0 mode. Each setter keeps the
// other two sub-fields.
void SetLeapIndicator(NtpMessage* m, uint32_t value) {
  m->li_vn_mode = static_cast<uint8_t>(((value << 6) & 0xC0u) | (m->li_vn_mode & 0x3Fu));
}
uint32_t GetLeapIndicator(const NtpMessage& m) { return (m.li_vn_mode >> 6) & 3u; }

void SetVersionNumber(NtpMessage* m, uint32_t value) {
  m->li_vn_mode = static_cast<uint8_t>((m->li_vn_mode & 0xC7u) | ((value & 7u) << 3));
}
uint32_t GetVersionNumber(const NtpMessage& m) { return (m.li_vn_mode >> 3) & 7u; }

void SetMode(NtpMessage* m, uint32_t value) {
  m->li_vn_mode = static_cast<uint8_t>((m->li_vn_mode & 0xF8u) | (value & 7u));
}
uint32_t GetMode(const NtpMessage& m) { return m.li_vn_mode & 7u; }

void SetStratum(NtpMessage* m, uint32_t value) { m->stratum = static_cast<uint8_t>(value); }
uint32_t GetStratum(const NtpMessage& m) { return m.stratum; }

void SetPoll(NtpMessage* m, uint32_t value) { m->poll = static_cast<uint8_t>(value); }
uint32_t GetPoll(const NtpMessage& m) { return m.poll; }

// Signed exponent of two (seconds), stored as its low 8 bits: -7 is 0xF9.
void SetPrecision(NtpMessage* m, int32_t value) {
  m->precision = static_cast<uint8_t>(static_cast<uint32_t>(value) & 0xFFu);
}
int32_t GetPrecision(const NtpMessage& m) { return static_cast<int8_t>(m.precision); }

void SetRootDelay(NtpMessage* m, uint32_t value) { m->root_delay = value; }
uint32_t GetRootDelay(const NtpMessage& m) { return m.root_delay; }

void SetRootDispersion(NtpMessage* m, uint32_t value) { m->root_dispersion = value; }
uint32_t GetRootDispersion(const NtpMessage& m) { return m.root_dispersion; }

void SetReferenceId(NtpMessage* m, uint32_t value) { m->reference_id = value; }
uint32_t GetReferenceId(const NtpMessage& m) { return m.reference_id; }

void SetReferenceTime(NtpMessage* m, const NtpTimestamp& t) { CopyTimestamp(&m->reference_time, t); }
void SetOriginateTime(NtpMessage* m, const NtpTimestamp& t) { CopyTimestamp(&m->originate_time, t); }
void SetReceiveTime(NtpMessage* m, const NtpTimestamp& t) { CopyTimestamp(&m->receive_time, t); }
void SetTransmitTime(NtpMessage* m, const NtpTimestamp& t) { CopyTimestamp(&m->transmit_time, t); }
NtpTimestamp GetTransmitTime(const NtpMessage& m) { return m.transmit_time; }

}  // namespace chron
