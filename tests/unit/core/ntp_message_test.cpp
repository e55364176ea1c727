#include "engine/ntp_message.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>

namespace chron {
namespace {

using Bytes = std::array<uint8_t, kNtpMessageSize>;

Bytes ToBytes(const NtpMessage& m) {
  Bytes bytes{};
  NtpToBytes(m, bytes.data());
  return bytes;
}

// Wire bytes 0, 1, 2, ..., 47.
Bytes CountingBytes() {
  Bytes bytes{};
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
  return bytes;
}

TEST(NtpMessageTest, InitialisedRequestOnTheWire) {
  NtpMessage m;
  std::memset(static_cast<void*>(&m), 0xA5, sizeof m);  // whatever was there before
  InitNtpMessage(&m);
  EXPECT_EQ(GetLeapIndicator(m), 3u);
  EXPECT_EQ(GetVersionNumber(m), 4u);
  EXPECT_EQ(GetMode(m), 0u);
  EXPECT_EQ(GetPoll(m), 10u);
  EXPECT_EQ(GetReferenceId(m), kReferenceIdLocl);

  NtpToNetworkOrder(&m);
  const Bytes bytes = ToBytes(m);
  Bytes expected{};
  expected[0] = 0xE0;
  expected[2] = 0x0A;
  expected[12] = 'L';
  expected[13] = 'O';
  expected[14] = 'C';
  expected[15] = 'L';
  EXPECT_EQ(bytes, expected);
}

TEST(NtpMessageTest, RateKissOnTheWire) {
  Bytes request_bytes = CountingBytes();  // poll 2
  request_bytes[0] = 0x1B;                // LI 0, version 3, Mode 3
  NtpMessage request;
  NtpFromBytes(request_bytes.data(), &request);
  NtpToHostOrder(&request);
  for (const uint32_t least_poll : {1u, 3u}) {
    NtpMessage kiss = RateKiss(request, least_poll);
    NtpToNetworkOrder(&kiss);
    Bytes expected{};
    expected[0] = 0xDC;  // LI 3, version 3, Mode 4
    expected[2] = static_cast<uint8_t>(std::max(2u, least_poll));
    std::memcpy(&expected[12], "RATE", 4);
    for (size_t at : {24, 32, 40}) std::copy(request_bytes.begin() + 40, request_bytes.end(), expected.begin() + at);
    EXPECT_EQ(ToBytes(kiss), expected) << least_poll;
  }
}

TEST(NtpMessageTest, WordsGoOnTheWireBigEndian) {
  NtpMessage m{};
  SetRootDelay(&m, 0x04050607);
  SetRootDispersion(&m, 0x08090A0B);
  SetReferenceId(&m, 0x0C0D0E0F);
  SetReferenceTime(&m, NtpTimestamp{0x10111213, 0x14151617});
  SetOriginateTime(&m, NtpTimestamp{0x18191A1B, 0x1C1D1E1F});
  SetReceiveTime(&m, NtpTimestamp{0x20212223, 0x24252627});
  SetTransmitTime(&m, NtpTimestamp{0x28292A2B, 0x2C2D2E2F});
  m.li_vn_mode = 0x00;
  m.stratum = 0x01;
  m.poll = 0x02;
  m.precision = 0x03;
  NtpToNetworkOrder(&m);
  EXPECT_EQ(ToBytes(m), CountingBytes());
}

TEST(NtpMessageTest, ReceivedBytesLandInTheirFields) {
  const Bytes wire = CountingBytes();
  NtpMessage m;
  NtpFromBytes(wire.data(), &m);
  EXPECT_EQ(ToBytes(m), wire);  // no byte-order change in either copy
  NtpToHostOrder(&m);
  EXPECT_EQ(m.li_vn_mode, 0x00);
  EXPECT_EQ(GetStratum(m), 0x01u);
  EXPECT_EQ(GetPoll(m), 0x02u);
  EXPECT_EQ(GetPrecision(m), 0x03);
  EXPECT_EQ(GetRootDelay(m), 0x04050607u);
  EXPECT_EQ(GetRootDispersion(m), 0x08090A0Bu);
  EXPECT_EQ(GetReferenceId(m), 0x0C0D0E0Fu);
  EXPECT_EQ(m.reference_time.seconds, 0x10111213u);
  EXPECT_EQ(m.reference_time.fraction, 0x14151617u);
  EXPECT_EQ(m.originate_time.seconds, 0x18191A1Bu);
  EXPECT_EQ(m.originate_time.fraction, 0x1C1D1E1Fu);
  EXPECT_EQ(m.receive_time.seconds, 0x20212223u);
  EXPECT_EQ(m.receive_time.fraction, 0x24252627u);
  EXPECT_TRUE(TimestampsEqual(GetTransmitTime(m), NtpTimestamp{0x28292A2B, 0x2C2D2E2F}));
}

TEST(NtpMessageTest, ByteOrderRoundTripRestoresEveryByte) {
  std::mt19937 random(20240601);
  for (int round = 0; round < 200; ++round) {
    Bytes wire{};
    for (auto& b : wire) b = static_cast<uint8_t>(random());
    NtpMessage m;
    NtpFromBytes(wire.data(), &m);
    NtpToHostOrder(&m);
    const Bytes host = ToBytes(m);
    EXPECT_TRUE(std::equal(wire.begin(), wire.begin() + 4, host.begin())) << "round " << round;
    NtpToNetworkOrder(&m);
    const Bytes back = ToBytes(m);
    ASSERT_EQ(back, wire) << "round " << round;
    // And the other way round: network order first.
    NtpToNetworkOrder(&m);
    EXPECT_TRUE(std::equal(wire.begin(), wire.begin() + 4, ToBytes(m).begin()));
    NtpToHostOrder(&m);
    ASSERT_EQ(ToBytes(m), wire) << "round " << round;
  }
}

TEST(NtpMessageTest, ByteZeroSubFieldsAreIndependent) {
  // Applied in either order to any previous byte, the three setters define all eight bits.
  struct Case {
    uint8_t leap, version, mode;
    bool reversed;  // mode, version, leap indicator
    uint8_t byte;
  };
  for (const Case& c : {Case{2, 5, 6, false, 0xAE} /* 10 101 110 */, Case{1, 3, 1, true, 0x59} /* 01 011 001 */}) {
    for (int start = 0; start < 256; ++start) {
      NtpMessage m{};
      m.li_vn_mode = static_cast<uint8_t>(start);
      c.reversed ? SetMode(&m, c.mode) : SetLeapIndicator(&m, c.leap);
      SetVersionNumber(&m, c.version);
      c.reversed ? SetLeapIndicator(&m, c.leap) : SetMode(&m, c.mode);
      EXPECT_EQ(m.li_vn_mode, c.byte) << start;
      EXPECT_EQ(GetLeapIndicator(m), c.leap);
      EXPECT_EQ(GetVersionNumber(m), c.version);
      EXPECT_EQ(GetMode(m), c.mode);
    }
  }
}

TEST(NtpMessageTest, SettersKeepOnlyTheLowBitsOfTheirValue) {
  NtpMessage m{};
  m.li_vn_mode = 0xFF;
  SetLeapIndicator(&m, 4);  // only the low two bits survive the shift
  EXPECT_EQ(m.li_vn_mode, 0x3F);
  EXPECT_EQ(GetLeapIndicator(m), 0u);
  SetVersionNumber(&m, 0x0C);
  EXPECT_EQ(m.li_vn_mode, 0x27);
  SetMode(&m, 0x0B);
  EXPECT_EQ(m.li_vn_mode, 0x23);

  SetStratum(&m, 0x1FF);
  EXPECT_EQ(m.stratum, 0xFF);
  SetPoll(&m, 0x10E);
  EXPECT_EQ(m.poll, 0x0E);
}

TEST(NtpMessageTest, PrecisionIsASignedByte) {
  NtpMessage m{};
  SetPrecision(&m, -7);
  EXPECT_EQ(m.precision, 0xF9);
  EXPECT_EQ(GetPrecision(m), -7);
  SetPrecision(&m, -2);
  EXPECT_EQ(m.precision, 0xFE);
  EXPECT_EQ(GetPrecision(m), -2);
  SetPrecision(&m, 0);
  EXPECT_EQ(m.precision, 0x00);
  SetPrecision(&m, 0x7F);
  EXPECT_EQ(GetPrecision(m), 127);
}

TEST(NtpMessageTest, TimestampSettersFillOnlyTheirField) {
  const NtpTimestamp t{0xB9744A62, 2147483500};
  NtpMessage m{};
  SetOriginateTime(&m, t);
  EXPECT_TRUE(TimestampsEqual(m.originate_time, t));
  EXPECT_TRUE(TimestampsEqual(m.reference_time, ZeroTimestamp));
  EXPECT_TRUE(TimestampsEqual(m.receive_time, ZeroTimestamp));
  EXPECT_TRUE(TimestampsEqual(m.transmit_time, ZeroTimestamp));
  SetReceiveTime(&m, NtpTimestamp{1, 2});
  SetReferenceTime(&m, NtpTimestamp{3, 4});
  SetTransmitTime(&m, NtpTimestamp{5, 6});
  EXPECT_TRUE(TimestampsEqual(m.originate_time, t));
  EXPECT_TRUE(TimestampsEqual(m.receive_time, NtpTimestamp{1, 2}));
  EXPECT_TRUE(TimestampsEqual(m.reference_time, NtpTimestamp{3, 4}));
  EXPECT_TRUE(TimestampsEqual(GetTransmitTime(m), NtpTimestamp{5, 6}));
}

}  // namespace
}  // namespace chron
