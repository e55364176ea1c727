// The client's verdicts and the server's messages through the core alone: no network, clock
// or reports are linked here.
#include "engine/exchange.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "engine/outgoing.h"

namespace chron {
namespace {

constexpr uint64_t kSecond = uint64_t{1} << 32;
constexpr uint64_t kT1 = 0xE9F0'0000'4000'0000;  // an arbitrary 2024 time

platform::SocketAddress Peer(uint32_t address, uint16_t port = 123) {
  return {platform::kAfInet, platform::HostToNetwork16(port), platform::HostToNetwork32(address)};
}

// One row: a message altered from a good reply or broadcast, and its verdict.
struct ArrivalCase {
  const char* name;
  bool broadcast;
  bool own_sender;
  uint32_t leap, stratum;
  uint64_t originate, transmit;
  uint32_t sender;  // host order
  uint64_t t4;
  Refusal refusal;
  DropReason reason;
};

TEST(ExchangeTest, ArrivalsAreJudgedInTheOrderOfTheChecks) {
  const uint32_t server = 0x0A000009;
  const ArrivalCase cases[] = {
      {"taken", false, false, 0, 2, kT1, kT1 + kSecond, server, kT1 + kSecond / 4, Refusal::kNone,
       DropReason::kNotAwaited},
      {"own broadcast first", true, true, 3, 0, 0, 0, server, kT1, Refusal::kOwnBroadcast, DropReason::kOwnBroadcast},
      {"leap 3", false, false, 3, 2, kT1, kT1, server, kT1, Refusal::kServerUnsynchronised,
       DropReason::kServerUnsynchronised},
      {"leap 1 broadcast", true, false, 1, 2, 0, kT1, server, kT1, Refusal::kServerUnsynchronised,
       DropReason::kServerUnsynchronised},
      {"zero transmit", false, false, 0, 2, kT1, 0, server, kT1, Refusal::kZeroTransmit, DropReason::kMalformed},
      {"stale originate", false, false, 0, 2, kT1 - kSecond, kT1, server, kT1, Refusal::kWrongOriginate,
       DropReason::kNotAwaited},
      {"other sender", false, false, 0, 2, kT1, kT1, server + 1, kT1, Refusal::kWrongSender, DropReason::kWrongSender},
      {"two seconds away", false, false, 0, 2, kT1, kT1, server, kT1 + 2 * kSecond + 1, Refusal::kTooLongUnderway,
       DropReason::kNotAwaited},
      {"kiss", false, false, 0, 0, kT1, kT1, server, kT1, Refusal::kKissOfDeath, DropReason::kStratum0},
      {"broadcast taken", true, false, 0, 1, 0, kT1, server, kT1, Refusal::kNone, DropReason::kNotAwaited},
  };
  for (const ArrivalCase& c : cases) {
    PendingRequest pending;
    pending.Record(kT1, Peer(server));
    NtpMessage m = BuildBroadcast(ZeroTimestamp);
    SetMode(&m, c.broadcast ? kModeBroadcast : kModeServer);
    SetLeapIndicator(&m, c.leap);
    SetStratum(&m, c.stratum);
    SetOriginateTime(&m, TimestampFromUint64(c.originate));
    SetTransmitTime(&m, TimestampFromUint64(c.transmit));
    const NtpTimestamp t4 = TimestampFromUint64(c.t4);
    const platform::SocketAddress from = Peer(c.sender);
    uint32_t travel = 0;
    const Refusal refusal = CheckArrival({m, t4, from, c.broadcast}, c.own_sender, pending, &travel);
    EXPECT_EQ(refusal, c.refusal) << c.name;
    if (refusal != Refusal::kNone) {
      EXPECT_EQ(DropReasonOf(refusal), c.reason) << c.name;
    }
    // A reply that matched the request is no longer awaited: the same reply again is stale.
    const bool matched = !c.broadcast && c.refusal != Refusal::kWrongOriginate && c.refusal != Refusal::kWrongSender &&
                         c.refusal != Refusal::kZeroTransmit && c.refusal != Refusal::kServerUnsynchronised;
    EXPECT_EQ(pending.Take(TimestampFromUint64(kT1), Peer(server)) == PendingRequest::Match::kWrongOriginate, matched)
        << c.name;
  }
}

TEST(ExchangeTest, ReplyEchoesTheRequestAndCarriesTheGivenTimes) {
  NtpMessage request = BuildRequest(TimestampFromUint64(kT1));
  SetVersionNumber(&request, 3);
  SetPoll(&request, 17);
  const NtpMessage reply = BuildReply(request, TimestampFromUint64(kT1 + 5), TimestampFromUint64(kT1 + 6));
  EXPECT_EQ(GetVersionNumber(reply), 3u);
  EXPECT_EQ(GetPoll(reply), 17u);
  EXPECT_EQ(GetMode(reply), uint32_t{kModeServer});
  EXPECT_EQ(TimestampToUint64(reply.originate_time), kT1);
  EXPECT_EQ(TimestampToUint64(reply.receive_time), kT1 + 5);
  EXPECT_EQ(TimestampToUint64(reply.reference_time), kT1 + 6);
  EXPECT_EQ(TimestampToUint64(reply.transmit_time), 0u);  // the sender stamps it last
  const SampleFacts facts = SampleFactsOf(reply, kT1, TimestampFromUint64(kT1 + 9), false);
  EXPECT_EQ(facts.version, 3u);
  EXPECT_EQ(facts.precision, -2);
  EXPECT_EQ(facts.t2, kT1 + 5);
  EXPECT_EQ(facts.t4, kT1 + 9);
}

}  // namespace
}  // namespace chron
